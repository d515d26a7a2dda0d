#include "dragdrop/DragDropFormats.h"

#include "platform/ClipboardFormats.h"
#include "platform/GlobalMemory.h"
#include "platform/Ole.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

template <class T>
TClipboardFormat* createInstance()
{
    return new T;
}

// Frees a medium on every way out of the reader.
class MediumGuard
{
public:
    explicit MediumGuard(STGMEDIUM& medium) : m_medium(medium) {}
    ~MediumGuard() { ReleaseStgMedium(&m_medium); }
    MediumGuard(const MediumGuard&) = delete;
    MediumGuard& operator=(const MediumGuard&) = delete;

private:
    STGMEDIUM& m_medium;
};

} // namespace

CLIPFORMAT RegisteredFormat(const char* name)
{
    const UINT format = RegisterClipboardFormatA(name);
    if (format > std::numeric_limits<CLIPFORMAT>::max()) {
        throw std::range_error("Range check error");
    }
    return static_cast<CLIPFORMAT>(format);
}

// --- class identities ----------------------------------------------------------

const TClass& TClipboardFormat::StaticClass()
{
    static const TClass c{"TClipboardFormat", nullptr};
    return c;
}

const TClass& TCustomSimpleClipboardFormat::StaticClass()
{
    static const TClass c{"TCustomSimpleClipboardFormat", &TClipboardFormat::StaticClass()};
    return c;
}

const TClass& TCustomStringClipboardFormat::StaticClass()
{
    static const TClass c{"TCustomStringClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass()};
    return c;
}

const TClass& TCustomTextClipboardFormat::StaticClass()
{
    static const TClass c{"TCustomTextClipboardFormat", &TCustomStringClipboardFormat::StaticClass()};
    return c;
}

const TClass& TCustomWideTextClipboardFormat::StaticClass()
{
    static const TClass c{"TCustomWideTextClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass()};
    return c;
}

const TClass& TCustomDWORDClipboardFormat::StaticClass()
{
    static const TClass c{"TCustomDWORDClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass()};
    return c;
}

const TClass& TPerformedDropEffectClipboardFormat::StaticClass()
{
    static const TClass c{"TPerformedDropEffectClipboardFormat", &TCustomDWORDClipboardFormat::StaticClass(),
                          &createInstance<TPerformedDropEffectClipboardFormat>};
    return c;
}

const TClass& TPasteSuccededClipboardFormat::StaticClass()
{
    static const TClass c{"TPasteSuccededClipboardFormat", &TCustomDWORDClipboardFormat::StaticClass(),
                          &createInstance<TPasteSuccededClipboardFormat>};
    return c;
}

const TClass& TPreferredDropEffectClipboardFormat::StaticClass()
{
    static const TClass c{"TPreferredDropEffectClipboardFormat", &TCustomDWORDClipboardFormat::StaticClass(),
                          &createInstance<TPreferredDropEffectClipboardFormat>};
    return c;
}

const TClass& TCustomDataFormat::StaticClass()
{
    static const TClass c{"TCustomDataFormat", nullptr};
    return c;
}

// --- TClipboardFormat ----------------------------------------------------------

void TClipboardFormat::CreateFormat(DWORD Media)
{
    DataDirections = TDataDirections{TDataDirection::Read};
    FormatEtc = FORMATETC{};
    FormatEtc.cfFormat = GetClipboardFormat();
    FormatEtc.ptd = nullptr;
    FormatEtc.dwAspect = DVASPECT_CONTENT;
    FormatEtc.lindex = -1;
    FormatEtc.tymed = Media;
}

bool TClipboardFormat::ReadMedium(IDataObject*, const STGMEDIUM&)
{
    return false;
}

bool TClipboardFormat::WriteMedium(const FORMATETC&, STGMEDIUM&)
{
    return false;
}

CLIPFORMAT TClipboardFormat::GetClipboardFormat()
{
    throw DragDropError(Format("Internal error: %s.%s needs implementation", ClassName(), "GetClipboardFormat"));
}

void TClipboardFormat::SetClipboardFormat(CLIPFORMAT Value)
{
    FormatEtc.cfFormat = Value;
}

std::string TClipboardFormat::GetClipboardFormatName()
{
    char name[256];
    const int length = GetClipboardFormatNameA(FormatEtc.cfFormat, name, 256);
    return std::string(name, static_cast<std::size_t>(std::max(length, 0)));
}

void TClipboardFormat::SetClipboardFormatName(const std::string&)
{
    throw DragDropError(Format("%s.ClipboardFormat is read-only", ClassName()));
}

bool TClipboardFormat::IsOffered(IDataObject* DataObject)
{
    return DataObject->QueryGetData(&FormatEtc) == S_OK;
}

bool TClipboardFormat::Matches(const FORMATETC& AFormatEtc)
{
    return AFormatEtc.cfFormat == FormatEtc.cfFormat && AFormatEtc.ptd == nullptr
        && AFormatEtc.dwAspect == FormatEtc.dwAspect && (AFormatEtc.tymed & FormatEtc.tymed) != 0;
}

bool TClipboardFormat::GetData(IDataObject* DataObject)
{
    Clear();
    STGMEDIUM medium;
    if (DataObject->GetData(&FormatEtc, &medium) != S_OK) {
        return false;
    }
    return TakeMedium(DataObject, medium);
}

bool TClipboardFormat::TakeMedium(IDataObject* DataObject, STGMEDIUM& Medium)
{
    const MediumGuard guard(Medium);
    Clear();
    if ((Medium.tymed & FormatEtc.tymed) != 0) {
        return ReadMedium(DataObject, Medium);
    }
    return false;
}

bool TClipboardFormat::PutData(IDataObject* DataObject, const FORMATETC& AFormatEtc, STGMEDIUM& Medium)
{
    Medium = STGMEDIUM{};
    bool result = false;
    if (AFormatEtc.cfFormat == FormatEtc.cfFormat && AFormatEtc.dwAspect == FormatEtc.dwAspect
        && (AFormatEtc.tymed & FormatEtc.tymed) != 0 && WriteMedium(AFormatEtc, Medium)) {
        result = DataObject->SetData(&FormatEtc, &Medium, TRUE) == S_OK;
    }
    if (!result) {
        ReleaseStgMedium(&Medium);
    }
    return result;
}

bool TClipboardFormat::TakeFrom(TCustomDataFormat*)
{
    return false;
}

bool TClipboardFormat::GiveTo(TCustomDataFormat*)
{
    return false;
}

// --- TCustomSimpleClipboardFormat ----------------------------------------------------

bool TCustomSimpleClipboardFormat::ReadMedium(IDataObject* DataObject, const STGMEDIUM& Medium)
{
    std::int64_t size = 0;
    if (Medium.tymed == TYMED_HGLOBAL) {
        const std::size_t globalSize = GlobalSize(Medium.hGlobal);
        if (globalSize > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            throw std::range_error("Range check error");
        }
        size = static_cast<std::int64_t>(globalSize);
    } else if (Medium.tymed == TYMED_ISTREAM && Medium.pstm != nullptr) {
        STATSTG stat;
        if (FAILED(Medium.pstm->Stat(&stat, STATFLAG_NONAME))) {
            return false;
        }
        if (stat.cbSize > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            throw std::range_error("Range check error");
        }
        size = static_cast<std::int64_t>(stat.cbSize);
    } else {
        return false;
    }
    return size > 0 && ReadBytes(DataObject, Medium, static_cast<int>(size));
}

bool TCustomSimpleClipboardFormat::ReadBytes(IDataObject*, const STGMEDIUM& Medium, int Size)
{
    if (Size <= 0) {
        return false;
    }
    if (Medium.tymed == TYMED_HGLOBAL) {
        // The block's real size bounds the read, whatever Size says.
        if (GlobalSize(Medium.hGlobal) < static_cast<std::size_t>(Size)) {
            return false;
        }
        const void* p = GlobalLock(Medium.hGlobal);
        if (p == nullptr) {
            return false;
        }
        bool result = false;
        try {
            result = ReadData(p, Size);
        } catch (...) {
            GlobalUnlock(Medium.hGlobal);
            throw;
        }
        GlobalUnlock(Medium.hGlobal);
        return result;
    }
    if (Medium.tymed == TYMED_ISTREAM && Medium.pstm != nullptr) {
        // The buffer grows with what the stream really delivers, so a stream
        // that states a huge size but sends little costs little.
        if (FAILED(Medium.pstm->Seek(0, STREAM_SEEK_SET, nullptr))) {
            return false;
        }
        const auto wanted = static_cast<std::size_t>(Size);
        std::vector<std::uint8_t> buffer;
        while (buffer.size() < wanted) {
            const std::size_t filled = buffer.size();
            buffer.resize(filled + std::min<std::size_t>(wanted - filled, TFixedStreamAdapter::CopyChunk));
            ULONG read = 0;
            if (Medium.pstm->Read(buffer.data() + filled, static_cast<ULONG>(buffer.size() - filled), &read) != S_OK) {
                return false;
            }
            buffer.resize(filled + std::min<std::size_t>(read, buffer.size() - filled));
            if (read == 0) {
                break;
            }
        }
        // A stream that delivers fewer bytes than its stated size is refused.
        return buffer.size() == wanted && ReadData(buffer.data(), Size);
    }
    return false;
}

bool TCustomSimpleClipboardFormat::CopyBytes(IDataObject*, const STGMEDIUM& Medium, int Size, void* Buffer)
{
    if (Size <= 0 || Buffer == nullptr) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(Buffer);
    const auto wanted = static_cast<std::size_t>(Size);
    if (Medium.tymed == TYMED_HGLOBAL) {
        const std::size_t available = std::min(GlobalSize(Medium.hGlobal), wanted);
        const void* p = GlobalLock(Medium.hGlobal);
        if (p == nullptr) {
            return false;
        }
        std::memcpy(out, p, available);
        GlobalUnlock(Medium.hGlobal);
        return available == wanted;
    }
    if (Medium.tymed != TYMED_ISTREAM || Medium.pstm == nullptr) {
        return false;
    }
    if (FAILED(Medium.pstm->Seek(0, STREAM_SEEK_SET, nullptr))) {
        return false;
    }
    std::size_t filled = 0;
    while (filled < wanted) {
        ULONG read = 0;
        if (Medium.pstm->Read(out + filled, static_cast<ULONG>(wanted - filled), &read) != S_OK) {
            return false;
        }
        if (read == 0) {
            break;
        }
        // A stream claiming more than it was asked for cannot push us past
        // the buffer.
        filled += std::min<std::size_t>(read, wanted - filled);
    }
    // A stream that delivers fewer bytes than its stated size is refused.
    return filled == wanted;
}

bool TCustomSimpleClipboardFormat::WriteMedium(const FORMATETC& AFormatEtc, STGMEDIUM& Medium)
{
    const int size = DataSize();
    if (size <= 0) {
        return false;
    }
    if ((AFormatEtc.tymed & TYMED_ISTREAM) != 0) {
        std::vector<std::uint8_t> memory(static_cast<std::size_t>(size));
        if (!WriteData(memory.data(), size)) {
            return false;
        }
        auto stream = ComPtr<IStream>::adopt(new TFixedStreamAdapter(std::move(memory)));
        stream->Seek(size, STREAM_SEEK_SET, nullptr);
        Medium.tymed = TYMED_ISTREAM;
        Medium.pstm = stream.detach();
        Medium.pUnkForRelease = nullptr;
        return true;
    }
    if ((AFormatEtc.tymed & TYMED_HGLOBAL) != 0) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, static_cast<std::size_t>(size));
        if (block == nullptr) {
            return false;
        }
        void* p = GlobalLock(block);
        const bool written = p != nullptr && WriteData(p, size);
        GlobalUnlock(block);
        if (!written) {
            GlobalFree(block);
            return false;
        }
        Medium.tymed = TYMED_HGLOBAL;
        Medium.hGlobal = block;
        Medium.pUnkForRelease = nullptr;
        return true;
    }
    return false;
}

// --- string, wide text and DWORD formats -----------------------------------------------

bool TCustomStringClipboardFormat::ReadData(const void* Buffer, int Size)
{
    TextData.assign(static_cast<const char*>(Buffer), static_cast<std::size_t>(Size));
    if (TrimAtZero) {
        const std::size_t zero = TextData.find('\0');
        if (zero != std::string::npos) {
            TextData.resize(zero);
        }
    }
    return true;
}

bool TCustomStringClipboardFormat::WriteData(void* Buffer, int Size)
{
    if (Size != DataSize()) {
        return false;
    }
    std::memcpy(Buffer, TextData.c_str(), static_cast<std::size_t>(Size));
    return true;
}

int TCustomStringClipboardFormat::DataSize()
{
    return static_cast<int>(TextData.size() + 1);
}

bool TCustomWideTextClipboardFormat::ReadData(const void* Buffer, int Size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(Buffer);
    const std::size_t count = static_cast<std::size_t>(Size) / 2;
    WideText.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (c == 0) {
            break;
        }
        WideText.push_back(c);
    }
    return true;
}

bool TCustomWideTextClipboardFormat::WriteData(void* Buffer, int Size)
{
    if (Size != DataSize()) {
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(Buffer);
    std::size_t i = 0;
    for (const char16_t c : WideText) {
        bytes[i++] = static_cast<std::uint8_t>(c & 0xFF);
        bytes[i++] = static_cast<std::uint8_t>(c >> 8);
    }
    bytes[i++] = 0;
    bytes[i] = 0;
    return true;
}

int TCustomWideTextClipboardFormat::DataSize()
{
    return static_cast<int>(2 * (WideText.size() + 1));
}

bool TCustomDWORDClipboardFormat::ReadData(const void* Buffer, int Size)
{
    if (Size < 4) {
        return false;
    }
    const auto* b = static_cast<const std::uint8_t*>(Buffer);
    DwordValue = static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) | (static_cast<DWORD>(b[2]) << 16)
        | (static_cast<DWORD>(b[3]) << 24);
    return true;
}

bool TCustomDWORDClipboardFormat::WriteData(void* Buffer, int Size)
{
    if (Size != 4) {
        return false;
    }
    auto* b = static_cast<std::uint8_t*>(Buffer);
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<std::uint8_t>(DwordValue >> (8 * i));
    }
    return true;
}

// --- TClipboardFormats -------------------------------------------------------------------

int TClipboardFormats::Add(TClipboardFormat* ClipboardFormat)
{
    m_formats.push_back(ClipboardFormat);
    if (m_ownsObjects && m_dataFormat != nullptr) {
        ClipboardFormat->OwnerFormat = m_dataFormat;
    }
    return static_cast<int>(m_formats.size() - 1);
}

void TClipboardFormats::Clear()
{
    while (!m_formats.empty()) {
        std::unique_ptr<TClipboardFormat> last(m_formats.back());
        m_formats.pop_back();
        if (!m_ownsObjects) {
            static_cast<void>(last.release());
        }
    }
}

TClipboardFormat* TClipboardFormats::FindFormat(const TClass& ClipboardFormatClass) const
{
    for (TClipboardFormat* f : m_formats) {
        if (f->ClassType().InheritsFrom(ClipboardFormatClass)) {
            return f;
        }
    }
    return nullptr;
}

// --- TCustomDataFormat -------------------------------------------------------------------

TCustomDataFormat::TCustomDataFormat(TDragDropComponent* AOwner, const TClass& cls)
{
    TConversionScope scope = TConversionScope::Target;
    if (AOwner != nullptr) {
        const TDragDropRole role = AOwner->Role();
        if (role == TDragDropRole::Other) {
            throw DragDropError(Format("%s is not a valid owner for %s. Owner must be derived from %s",
                                       AOwner->ClassName(), cls.ClassName,
                                       "TCustomDropMultiSource or TCustomDropMultiTarget"));
        }
        if (role == TDragDropRole::MultiSource) {
            scope = TConversionScope::Source;
        }
    }
    for (const TConversionMapEntry& entry : DataFormatMap().Entries()) {
        if (entry.ConversionScopes.contains(scope) && entry.DataClass->InheritsFrom(cls)
            && entry.ClipboardClass->Create != nullptr) {
            std::unique_ptr<TClipboardFormat> format(entry.ClipboardClass->Create());
            format->DataDirections = entry.DataDirections;
            CompatibleFormats.Add(format.release());
        }
    }
    OwnerComponent = AOwner;
    if (AOwner != nullptr) {
        AOwner->FormatList.Add(this);
    }
}

TCustomDataFormat::~TCustomDataFormat()
{
    if (OwnerComponent != nullptr) {
        OwnerComponent->FormatList.Remove(this);
    }
}

void TCustomDataFormat::NotifyChanging()
{
    if (OnFormatChanging) {
        OnFormatChanging(this);
    }
}

bool TCustomDataFormat::ReadFrom(TClipboardFormat* ClipboardFormat)
{
    return ClipboardFormat->GiveTo(this);
}

bool TCustomDataFormat::WriteTo(TClipboardFormat* ClipboardFormat)
{
    return ClipboardFormat->TakeFrom(this);
}

bool TCustomDataFormat::GetData(IDataObject* DataObject)
{
    bool result = false;
    for (int i = 0; NeedsData() && i < CompatibleFormats.Count(); ++i) {
        TClipboardFormat* format = CompatibleFormats[i];
        format->Clear();
        if (format->GetData(DataObject) && format->HasData() && ReadFrom(format)) {
            format->Clear();
            result = true;
        }
    }
    return result;
}

bool TCustomDataFormat::HasUsableFormat(IDataObject* DataObject)
{
    for (int i = 0; i < CompatibleFormats.Count(); ++i) {
        if (CompatibleFormats[i]->IsOffered(DataObject)) {
            return true;
        }
    }
    return false;
}

bool TCustomDataFormat::AcceptsFormatEtc(const FORMATETC& FormatEtc)
{
    for (int i = 0; i < CompatibleFormats.Count(); ++i) {
        if (CompatibleFormats[i]->Matches(FormatEtc)) {
            return true;
        }
    }
    return false;
}

// --- the conversion map ------------------------------------------------------------------

void TDataFormatMap::RegisterConversion(const TClass& DataFormatClass, const TClass& ClipboardFormatClass,
                                        int Priority, TConversionScopes Scopes, TDataDirections Directions)
{
    TConversionMapEntry entry;
    entry.ConversionScopes = Scopes;
    entry.DataDirections = Directions;
    const auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const TConversionMapEntry& e) {
        return e.DataClass->InheritsFrom(DataFormatClass) && e.ClipboardClass->InheritsFrom(ClipboardFormatClass);
    });
    if (found != m_entries.end()) {
        entry = *found;
        entry.ConversionScopes = entry.ConversionScopes | Scopes;
        entry.DataDirections = entry.DataDirections | Directions;
        m_entries.erase(found);
    }
    entry.DataClass = &DataFormatClass;
    entry.ClipboardClass = &ClipboardFormatClass;
    entry.Priority = Priority;

    // Place it within its data format class's group: after the last entry of
    // lower priority, so equal priorities put the newest first.
    int nearest = -1;
    for (int i = static_cast<int>(m_entries.size()) - 1; i >= 0; --i) {
        if (m_entries[static_cast<std::size_t>(i)].DataClass == &DataFormatClass) {
            nearest = i;
            break;
        }
    }
    if (nearest < 0) {
        m_entries.push_back(entry);
        return;
    }
    int position = nearest;
    while (position >= 0 && m_entries[static_cast<std::size_t>(position)].DataClass == &DataFormatClass
           && m_entries[static_cast<std::size_t>(position)].Priority >= Priority) {
        --position;
    }
    // position is now the first entry met with lower priority (or outside the
    // group): the new entry goes right after it.
    m_entries.insert(m_entries.begin() + (position + 1), entry);
}

void TDataFormatMap::UnregisterClipboardClass(const TClass& ClipboardFormatClass)
{
    std::erase_if(m_entries,
                  [&](const TConversionMapEntry& e) { return e.ClipboardClass->InheritsFrom(ClipboardFormatClass); });
}

void TDataFormatMap::UnregisterDataClass(const TClass& DataFormatClass)
{
    std::erase_if(m_entries, [&](const TConversionMapEntry& e) { return e.DataClass->InheritsFrom(DataFormatClass); });
    std::erase_if(DataFormatClasses(), [&](const TClass* c) { return c == &DataFormatClass; });
}

TDataFormatMap& DataFormatMap()
{
    static TDataFormatMap map;
    return map;
}

std::vector<const TClass*>& DataFormatClasses()
{
    static std::vector<const TClass*> classes;
    return classes;
}

void RegisterConversion(const TClass& DataFormatClass, const TClass& ClipboardFormatClass, int Priority,
                        TConversionScopes Scopes, TDataDirections Directions)
{
    DataFormatMap().RegisterConversion(DataFormatClass, ClipboardFormatClass, Priority, Scopes, Directions);
}

void UnregisterClipboardClass(const TClass& ClipboardFormatClass)
{
    DataFormatMap().UnregisterClipboardClass(ClipboardFormatClass);
}

void UnregisterDataClass(const TClass& DataFormatClass)
{
    DataFormatMap().UnregisterDataClass(DataFormatClass);
}

void RegisterDataFormatClass(const TClass& DataFormatClass)
{
    auto& classes = DataFormatClasses();
    if (std::find(classes.begin(), classes.end(), &DataFormatClass) == classes.end()) {
        classes.push_back(&DataFormatClass);
    }
}

// --- TFixedStreamAdapter --------------------------------------------------------------

TFixedStreamAdapter::TFixedStreamAdapter(std::vector<std::uint8_t> memory) : m_memory(std::move(memory)) {}

HRESULT TFixedStreamAdapter::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream) {
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT TFixedStreamAdapter::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    if (pv == nullptr && cb > 0) {
        return STG_E_INVALIDPOINTER;
    }
    const std::uint64_t available = m_position < m_memory.size() ? m_memory.size() - m_position : 0;
    const auto count = static_cast<ULONG>(std::min<std::uint64_t>(cb, available));
    if (count > 0) {
        std::memcpy(pv, m_memory.data() + m_position, count);
    }
    m_position += count;
    if (pcbRead != nullptr) {
        *pcbRead = count;
    }
    return S_OK;
}

HRESULT TFixedStreamAdapter::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    if (pv == nullptr && cb > 0) {
        return STG_E_INVALIDPOINTER;
    }
    if (m_position + cb > m_memory.size()) {
        m_memory.resize(static_cast<std::size_t>(m_position + cb));
    }
    if (cb > 0) {
        std::memcpy(m_memory.data() + m_position, pv, cb);
    }
    m_position += cb;
    if (pcbWritten != nullptr) {
        *pcbWritten = cb;
    }
    return S_OK;
}

HRESULT TFixedStreamAdapter::Seek(std::int64_t dlibMove, DWORD dwOrigin, std::uint64_t* plibNewPosition)
{
    std::int64_t base = 0;
    switch (dwOrigin) {
    case STREAM_SEEK_SET:
        base = 0;
        break;
    case STREAM_SEEK_CUR:
        base = static_cast<std::int64_t>(m_position);
        break;
    case STREAM_SEEK_END:
        base = static_cast<std::int64_t>(m_memory.size());
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    if (dlibMove < -base) {
        return STG_E_INVALIDFUNCTION;
    }
    m_position = static_cast<std::uint64_t>(base + dlibMove);
    if (plibNewPosition != nullptr) {
        *plibNewPosition = m_position;
    }
    return S_OK;
}

HRESULT TFixedStreamAdapter::SetSize(std::uint64_t libNewSize)
{
    if (libNewSize > std::numeric_limits<std::uint32_t>::max()) {
        return E_OUTOFMEMORY;
    }
    m_memory.resize(static_cast<std::size_t>(libNewSize));
    return S_OK;
}

HRESULT TFixedStreamAdapter::CopyTo(IStream* pstm, std::int64_t cb, std::uint64_t* pcbRead,
                                    std::uint64_t* pcbWritten)
{
    if (pstm == nullptr) {
        return STG_E_INVALIDPOINTER;
    }
    if (cb < 0 && m_position >= m_memory.size()) {
        m_position = 0;
    }
    std::uint64_t left = cb < 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(cb);
    std::uint64_t totalRead = 0;
    std::uint64_t totalWritten = 0;
    HRESULT result = S_OK;
    std::vector<std::uint8_t> chunk;
    while (left > 0) {
        chunk.resize(static_cast<std::size_t>(std::min(left, CopyChunk)));
        ULONG read = 0;
        Read(chunk.data(), static_cast<ULONG>(chunk.size()), &read);
        if (read == 0) {
            break;
        }
        ULONG written = 0;
        const HRESULT hr = pstm->Write(chunk.data(), read, &written);
        totalRead += read;
        totalWritten += written;
        left -= read;
        if (FAILED(hr) || written < read) {
            result = E_FAIL;
            break;
        }
    }
    if (pcbRead != nullptr) {
        *pcbRead = totalRead;
    }
    if (pcbWritten != nullptr) {
        *pcbWritten = totalWritten;
    }
    return result;
}

HRESULT TFixedStreamAdapter::Stat(STATSTG* pstatstg, DWORD)
{
    if (pstatstg == nullptr) {
        return STG_E_INVALIDPOINTER;
    }
    *pstatstg = STATSTG{};
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize = m_memory.size();
    return S_OK;
}

HRESULT TFixedStreamAdapter::Clone(IStream** ppstm)
{
    if (ppstm == nullptr) {
        return STG_E_INVALIDPOINTER;
    }
    auto* clone = new TFixedStreamAdapter(m_memory);
    clone->m_position = m_position;
    *ppstm = clone;
    return S_OK;
}
