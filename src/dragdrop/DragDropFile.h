#pragma once

// File names from dropped data: the CF_HDROP, "FileName", "FileNameW" and
// name-map clipboard formats, the file and file-map data formats, and the
// file drop target.

#include "dragdrop/DragDropFormats.h"
#include "dragdrop/DropTarget.h"

#include <memory>
#include <string>
#include <vector>

// Reads a list of zero-terminated names (8-bit, or 16-bit little-endian
// converted to the system code page) from the Remaining bytes at List,
// appending them to Names, until a name that starts with a zero character or
// the end of the bytes. False, with Names as it was, when a name's terminator
// would lie beyond the bytes: nothing is read outside them.
bool ParseNameList(const void* List, std::size_t Remaining, bool Wide, std::vector<std::string>& Names);

// CF_HDROP: a DROPFILES header followed by the name list.
class TFileClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    TFileClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::vector<std::string> Names;

    CLIPFORMAT GetClipboardFormat() override { return CF_HDROP; }
    // False for a block of 20 bytes or less, a list offset at or past the
    // end, a name running past the end, or no names.
    bool ReadData(const void* Buffer, int Size) override;
    // A DROPFILES block with 16-bit names.
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override;
    void Clear() override { Names.clear(); }
    bool HasData() override { return !Names.empty(); }
};

class TFilenameClipboardFormat : public TCustomTextClipboardFormat
{
public:
    TFilenameClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("FileName"); }
    bool GiveTo(TCustomDataFormat* DataFormat) override;
};

class TFilenameWClipboardFormat : public TCustomWideTextClipboardFormat
{
public:
    TFilenameWClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }
    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("FileNameW"); }
    bool GiveTo(TCustomDataFormat* DataFormat) override;
};

// "FileNameMap" (8-bit) and "FileNameMapW" (16-bit): the whole block is a
// name list.
class TFilenameMapClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    TFilenameMapClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::vector<std::string> Names;

    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("FileNameMap"); }
    bool ReadData(const void* Buffer, int Size) override;
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override;
    void Clear() override { Names.clear(); }
    bool HasData() override { return !Names.empty(); }
};

class TFilenameMapWClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    TFilenameMapWClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::vector<std::string> Names;

    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("FileNameMapW"); }
    bool ReadData(const void* Buffer, int Size) override;
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override;
    void Clear() override { Names.clear(); }
    bool HasData() override { return !Names.empty(); }
};

// A list of 8-bit strings that tells its data format before it changes.
class TNotifyingStrings
{
public:
    explicit TNotifyingStrings(TCustomDataFormat& owner) : m_owner(owner) {}

    const std::vector<std::string>& Items() const { return m_items; }
    int Count() const { return static_cast<int>(m_items.size()); }
    const std::string& operator[](int index) const { return m_items.at(static_cast<std::size_t>(index)); }
    bool empty() const { return m_items.empty(); }

    void Assign(std::vector<std::string> items);
    void Add(std::string item);
    void Clear();

private:
    TCustomDataFormat& m_owner;
    std::vector<std::string> m_items;
};

class TFileDataFormat : public TCustomDataFormat
{
public:
    explicit TFileDataFormat(TDragDropComponent* AOwner);
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    TNotifyingStrings FileNames{*this};

    void Clear() override { FileNames.Clear(); }
    bool HasData() override { return !FileNames.empty(); }
    bool ReadFrom(TClipboardFormat* ClipboardFormat) override;
};

class TFileMapDataFormat : public TCustomDataFormat
{
public:
    explicit TFileMapDataFormat(TDragDropComponent* AOwner);
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    TNotifyingStrings MapEntries{*this};

    void Clear() override { MapEntries.Clear(); }
    bool HasData() override { return !MapEntries.empty(); }
    bool ReadFrom(TClipboardFormat* ClipboardFormat) override;
};

// The drop target for files: names from CF_HDROP, "Shell IDList Array",
// "FileNameW" or "FileName", mapped names from the name-map formats.
class TDropFileTarget : public TCustomDropMultiTarget
{
public:
    explicit TDropFileTarget(TComponent* AOwner);
    ~TDropFileTarget() override;

    const char* ClassName() const override { return "TDropFileTarget"; }

    // The names of the current drop, valid during OnDrop.
    const std::vector<std::string>& DroppedFiles() const { return FileFormat->FileNames.Items(); }
    const std::vector<std::string>& NameMappings() const { return FileMapFormat->MapEntries.Items(); }

    std::unique_ptr<TFileDataFormat> FileFormat;
    std::unique_ptr<TFileMapDataFormat> FileMapFormat;

protected:
    DWORD PreferredEffect() override;
};
