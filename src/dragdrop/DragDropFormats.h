#pragma once

// Clipboard formats (one OLE format each, read from and written to storage
// media), data formats (what the application reads, fed by an ordered list
// of compatible clipboard formats) and the global conversion map between
// them.

#include "dragdrop/DragDrop.h"
#include "platform/ComPtr.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class TConversionScope { Source, Target };
using TConversionScopes = TSet<TConversionScope>;
enum class TDataDirection { Read, Write };
using TDataDirections = TSet<TDataDirection>;

class TCustomDataFormat;

// The number of a registered format, registered at the first call; a number
// that does not fit in 16 bits is a range error.
CLIPFORMAT RegisteredFormat(const char* name);

class TClipboardFormat
{
public:
    virtual ~TClipboardFormat() = default;
    TClipboardFormat(const TClipboardFormat&) = delete;
    TClipboardFormat& operator=(const TClipboardFormat&) = delete;

    static const TClass& StaticClass();
    virtual const TClass& ClassType() const { return StaticClass(); }
    const char* ClassName() const { return ClassType().ClassName; }

    TDataDirections DataDirections{TDataDirection::Read};
    TCustomDataFormat* OwnerFormat = nullptr;
    FORMATETC FormatEtc;

    virtual bool ReadMedium(IDataObject* DataObject, const STGMEDIUM& Medium);
    virtual bool WriteMedium(const FORMATETC& AFormatEtc, STGMEDIUM& Medium);
    virtual CLIPFORMAT GetClipboardFormat();
    virtual void SetClipboardFormat(CLIPFORMAT Value);
    virtual std::string GetClipboardFormatName();
    virtual void SetClipboardFormatName(const std::string& Value);
    virtual bool IsOffered(IDataObject* DataObject);
    virtual bool Matches(const FORMATETC& AFormatEtc);
    virtual bool GetData(IDataObject* DataObject);
    // Reads the medium and always releases it, also on error.
    virtual bool TakeMedium(IDataObject* DataObject, STGMEDIUM& Medium);
    virtual bool PutData(IDataObject* DataObject, const FORMATETC& AFormatEtc, STGMEDIUM& Medium);
    virtual bool TakeFrom(TCustomDataFormat* DataFormat);
    virtual bool GiveTo(TCustomDataFormat* DataFormat);
    virtual void Clear() = 0;
    virtual bool HasData() { return true; }

protected:
    TClipboardFormat() = default;
    // CreateFromFormatEtc: a whole FORMATETC keeps its own values.
    explicit TClipboardFormat(const FORMATETC& AFormatEtc) : FormatEtc(AFormatEtc) {}
    // CreateFormat: the format number from GetClipboardFormat, no target
    // device, DVASPECT_CONTENT, index -1 and the given media. Called by the
    // constructor of each concrete class (so the class's own number is used).
    void CreateFormat(DWORD Media);
};

// A format whose data is one block of bytes.
class TCustomSimpleClipboardFormat : public TClipboardFormat
{
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    bool ReadMedium(IDataObject* DataObject, const STGMEDIUM& Medium) override;
    bool WriteMedium(const FORMATETC& AFormatEtc, STGMEDIUM& Medium) override;

    virtual bool ReadBytes(IDataObject* DataObject, const STGMEDIUM& Medium, int Size);
    // Buffer holds exactly Size bytes; implementations read nothing beyond.
    virtual bool ReadData(const void* Buffer, int Size) = 0;
    virtual bool CopyBytes(IDataObject* DataObject, const STGMEDIUM& Medium, int Size, void* Buffer);
    virtual bool WriteData(void* Buffer, int Size) = 0;
    virtual int DataSize() = 0;

protected:
    static constexpr DWORD SimpleMedia = TYMED_HGLOBAL | TYMED_ISTREAM;
    TCustomSimpleClipboardFormat() = default;
};

class TCustomStringClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::string TextData;
    bool TrimAtZero = false;

    bool ReadData(const void* Buffer, int Size) override;
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override;
    void Clear() override { TextData.clear(); }
    bool HasData() override { return !TextData.empty(); }
};

class TCustomTextClipboardFormat : public TCustomStringClipboardFormat
{
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

protected:
    TCustomTextClipboardFormat() { TrimAtZero = true; }
};

class TCustomWideTextClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::u16string WideText;

    bool ReadData(const void* Buffer, int Size) override;
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override;
    void Clear() override { WideText.clear(); }
    bool HasData() override { return !WideText.empty(); }
};

class TCustomDWORDClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    DWORD DwordValue = 0;

    // The first 4 bytes; a block under 4 bytes is refused.
    bool ReadData(const void* Buffer, int Size) override;
    // Only into a buffer of exactly 4 bytes.
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override { return 4; }
    void Clear() override { DwordValue = 0; }
};

class TPerformedDropEffectClipboardFormat : public TCustomDWORDClipboardFormat
{
public:
    TPerformedDropEffectClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("Performed DropEffect"); }
};

class TPasteSuccededClipboardFormat : public TCustomDWORDClipboardFormat
{
public:
    TPasteSuccededClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("Paste Succeeded"); }
};

class TPreferredDropEffectClipboardFormat : public TCustomDWORDClipboardFormat
{
public:
    TPreferredDropEffectClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("Preferred DropEffect"); }
    bool HasData() override { return true; }
};

// The clipboard formats of a data format, in trial order.
class TClipboardFormats
{
public:
    TClipboardFormats(TCustomDataFormat* DataFormat, bool OwnsObjects)
        : m_dataFormat(DataFormat), m_ownsObjects(OwnsObjects)
    {
    }
    ~TClipboardFormats() { Clear(); }
    TClipboardFormats(const TClipboardFormats&) = delete;
    TClipboardFormats& operator=(const TClipboardFormats&) = delete;

    int Add(TClipboardFormat* ClipboardFormat);
    // Frees the objects, last to first, when the list owns them.
    void Clear();
    // The first object whose class is, or descends from, ClipboardFormatClass.
    TClipboardFormat* FindFormat(const TClass& ClipboardFormatClass) const;
    int Count() const { return static_cast<int>(m_formats.size()); }
    TClipboardFormat* operator[](int index) const { return m_formats.at(static_cast<std::size_t>(index)); }

private:
    TCustomDataFormat* m_dataFormat;
    bool m_ownsObjects;
    std::vector<TClipboardFormat*> m_formats;
};

class TCustomDataFormat
{
public:
    using TFormatChangingEvent = std::function<void(TCustomDataFormat* Sender)>;

    virtual ~TCustomDataFormat();
    TCustomDataFormat(const TCustomDataFormat&) = delete;
    TCustomDataFormat& operator=(const TCustomDataFormat&) = delete;

    static const TClass& StaticClass();
    virtual const TClass& ClassType() const { return StaticClass(); }
    const char* ClassName() const { return ClassType().ClassName; }

    TClipboardFormats CompatibleFormats{this, true};
    TDragDropComponent* OwnerComponent = nullptr;
    TFormatChangingEvent OnFormatChanging;

    virtual void NotifyChanging();
    virtual void Clear() = 0;
    virtual bool ReadFrom(TClipboardFormat* ClipboardFormat);
    virtual bool WriteTo(TClipboardFormat* ClipboardFormat);
    // Fills the data format from the first compatible format that yields data.
    virtual bool GetData(IDataObject* DataObject);
    virtual bool HasData() = 0;
    virtual bool NeedsData() { return !HasData(); }
    virtual bool HasUsableFormat(IDataObject* DataObject);
    virtual bool AcceptsFormatEtc(const FORMATETC& FormatEtc);

protected:
    // Create (Owner): checks the owner, fills CompatibleFormats from the map
    // for the class cls (the concrete class being made) and joins the
    // owner's FormatList.
    TCustomDataFormat(TDragDropComponent* AOwner, const TClass& cls);
};

// The global conversion map: which clipboard format classes feed which data
// format classes, grouped by data format class and ordered by priority.
struct TConversionMapEntry
{
    const TClass* DataClass = nullptr;
    const TClass* ClipboardClass = nullptr;
    int Priority = 0;
    TConversionScopes ConversionScopes;
    TDataDirections DataDirections;
};

class TDataFormatMap
{
public:
    void RegisterConversion(const TClass& DataFormatClass, const TClass& ClipboardFormatClass, int Priority,
                            TConversionScopes Scopes, TDataDirections Directions);
    void UnregisterClipboardClass(const TClass& ClipboardFormatClass);
    void UnregisterDataClass(const TClass& DataFormatClass);
    const std::vector<TConversionMapEntry>& Entries() const { return m_entries; }

private:
    std::vector<TConversionMapEntry> m_entries;
};

// The map, created at first use.
TDataFormatMap& DataFormatMap();
// The plain list of registered data format classes.
std::vector<const TClass*>& DataFormatClasses();

void RegisterConversion(const TClass& DataFormatClass, const TClass& ClipboardFormatClass, int Priority,
                        TConversionScopes Scopes, TDataDirections Directions);
void UnregisterClipboardClass(const TClass& ClipboardFormatClass);
void UnregisterDataClass(const TClass& DataFormatClass);
void RegisterDataFormatClass(const TClass& DataFormatClass);

// An IStream over an owned memory stream.
class TFixedStreamAdapter final : public RefCounted<IStream>
{
public:
    explicit TFixedStreamAdapter(std::vector<std::uint8_t> memory = {});

    static constexpr std::uint64_t CopyChunk = 1048576;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Seek(std::int64_t dlibMove, DWORD dwOrigin, std::uint64_t* plibNewPosition) override;
    HRESULT SetSize(std::uint64_t libNewSize) override;
    // Asked for everything (cb < 0) while at the end, rewinds first.
    HRESULT CopyTo(IStream* pstm, std::int64_t cb, std::uint64_t* pcbRead, std::uint64_t* pcbWritten) override;
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream** ppstm) override;

    const std::vector<std::uint8_t>& Memory() const { return m_memory; }
    std::uint64_t Position() const { return m_position; }

private:
    std::vector<std::uint8_t> m_memory;
    std::uint64_t m_position = 0;
};
