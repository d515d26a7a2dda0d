#include "dragdrop/DragDropFile.h"

#include "dragdrop/DragDropPIDL.h"
#include "platform/TextConversion.h"

#include <cstring>

namespace {

template <class T>
TClipboardFormat* createInstance()
{
    return new T;
}

// The file support's conversions, registered at start and removed at exit.
struct FileConversions
{
    FileConversions()
    {
        const TConversionScopes both{TConversionScope::Source, TConversionScope::Target};
        const TDataDirections read{TDataDirection::Read};
        RegisterConversion(TFileDataFormat::StaticClass(), TFileClipboardFormat::StaticClass(), 0, both, read);
        RegisterConversion(TFileDataFormat::StaticClass(), TPIDLClipboardFormat::StaticClass(), 1, both, read);
        RegisterConversion(TFileDataFormat::StaticClass(), TFilenameClipboardFormat::StaticClass(), 2, both, read);
        RegisterConversion(TFileDataFormat::StaticClass(), TFilenameWClipboardFormat::StaticClass(), 2, both, read);
        RegisterConversion(TFileMapDataFormat::StaticClass(), TFilenameMapClipboardFormat::StaticClass(), 0, both,
                           read);
        RegisterConversion(TFileMapDataFormat::StaticClass(), TFilenameMapWClipboardFormat::StaticClass(), 0, both,
                           read);
        RegisterDataFormatClass(TFileDataFormat::StaticClass());
        RegisterDataFormatClass(TFileMapDataFormat::StaticClass());
    }

    ~FileConversions()
    {
        UnregisterDataClass(TFileDataFormat::StaticClass());
        UnregisterDataClass(TFileMapDataFormat::StaticClass());
        UnregisterClipboardClass(TFileClipboardFormat::StaticClass());
        UnregisterClipboardClass(TPIDLClipboardFormat::StaticClass());
        UnregisterClipboardClass(TFilenameClipboardFormat::StaticClass());
        UnregisterClipboardClass(TFilenameWClipboardFormat::StaticClass());
        UnregisterClipboardClass(TFilenameMapClipboardFormat::StaticClass());
        UnregisterClipboardClass(TFilenameMapWClipboardFormat::StaticClass());
    }

    FileConversions(const FileConversions&) = delete;
    FileConversions& operator=(const FileConversions&) = delete;
};

// Registered when the first file data format is made, so the map is filled
// before any data format reads it (and before any test can look at it).
void ensureFileConversions()
{
    static const FileConversions conversions;
}

// At program start, as the file support's initialisation.
[[maybe_unused]] const bool fileConversionsAtStart = (ensureFileConversions(), true);

void appendWide(std::string& block, const std::string& name)
{
    for (const char16_t c : SystemToWide(name)) {
        block.push_back(static_cast<char>(c & 0xFF));
        block.push_back(static_cast<char>(c >> 8));
    }
    block.append(2, '\0');
}

std::string wideNameList(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names) {
        appendWide(list, name);
    }
    list.append(2, '\0');
    return list;
}

std::string narrowNameList(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names) {
        list.append(name);
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}

bool writeBlock(const std::string& block, void* Buffer, int Size)
{
    if (Size != static_cast<int>(block.size())) {
        return false;
    }
    std::memcpy(Buffer, block.data(), block.size());
    return true;
}

std::string dropFilesBlock(const std::vector<std::string>& names)
{
    DROPFILES header;
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::string block(sizeof header, '\0');
    std::memcpy(block.data(), &header, sizeof header);
    return block + wideNameList(names);
}

} // namespace

bool ParseNameList(const void* List, std::size_t Remaining, bool Wide, std::vector<std::string>& Names)
{
    const auto* p = static_cast<const std::uint8_t*>(List);
    const std::size_t width = Wide ? 2 : 1;
    std::vector<std::string> found;
    while (Remaining >= width) {
        auto charAt = [&](std::size_t i) -> char16_t {
            return Wide ? static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8)) : static_cast<char16_t>(p[i]);
        };
        if (charAt(0) == 0) {
            break;
        }
        const std::size_t chars = Remaining / width;
        std::size_t length = 0;
        while (length < chars && charAt(length) != 0) {
            ++length;
        }
        if (length == chars) {
            return false;  // the terminator would lie beyond the block
        }
        if (Wide) {
            std::u16string name(length, u'\0');
            for (std::size_t i = 0; i < length; ++i) {
                name[i] = charAt(i);
            }
            found.push_back(WideToSystem(name));
        } else {
            found.emplace_back(reinterpret_cast<const char*>(p), length);
        }
        const std::size_t advance = (length + 1) * width;
        p += advance;
        Remaining -= advance;
    }
    Names.insert(Names.end(), found.begin(), found.end());
    return true;
}

// --- class identities ------------------------------------------------------------

const TClass& TFileClipboardFormat::StaticClass()
{
    static const TClass c{"TFileClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass(),
                          &createInstance<TFileClipboardFormat>};
    return c;
}

const TClass& TFilenameClipboardFormat::StaticClass()
{
    static const TClass c{"TFilenameClipboardFormat", &TCustomTextClipboardFormat::StaticClass(),
                          &createInstance<TFilenameClipboardFormat>};
    return c;
}

const TClass& TFilenameWClipboardFormat::StaticClass()
{
    static const TClass c{"TFilenameWClipboardFormat", &TCustomWideTextClipboardFormat::StaticClass(),
                          &createInstance<TFilenameWClipboardFormat>};
    return c;
}

const TClass& TFilenameMapClipboardFormat::StaticClass()
{
    static const TClass c{"TFilenameMapClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass(),
                          &createInstance<TFilenameMapClipboardFormat>};
    return c;
}

const TClass& TFilenameMapWClipboardFormat::StaticClass()
{
    static const TClass c{"TFilenameMapWClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass(),
                          &createInstance<TFilenameMapWClipboardFormat>};
    return c;
}

const TClass& TFileDataFormat::StaticClass()
{
    static const TClass c{"TFileDataFormat", &TCustomDataFormat::StaticClass()};
    return c;
}

const TClass& TFileMapDataFormat::StaticClass()
{
    static const TClass c{"TFileMapDataFormat", &TCustomDataFormat::StaticClass()};
    return c;
}

// --- clipboard formats -------------------------------------------------------------

bool TFileClipboardFormat::ReadData(const void* Buffer, int Size)
{
    if (Size <= static_cast<int>(sizeof(DROPFILES))) {
        return false;
    }
    Names.clear();
    DROPFILES header;
    std::memcpy(&header, Buffer, sizeof header);
    const auto size = static_cast<std::size_t>(Size);
    if (header.pFiles >= size) {
        return false;
    }
    const auto* list = static_cast<const std::uint8_t*>(Buffer) + header.pFiles;
    if (!ParseNameList(list, size - header.pFiles, header.fWide != 0, Names)) {
        Names.clear();
        return false;
    }
    return !Names.empty();
}

bool TFileClipboardFormat::WriteData(void* Buffer, int Size)
{
    return writeBlock(dropFilesBlock(Names), Buffer, Size);
}

int TFileClipboardFormat::DataSize()
{
    return static_cast<int>(dropFilesBlock(Names).size());
}

bool TFilenameClipboardFormat::GiveTo(TCustomDataFormat* DataFormat)
{
    auto* files = dynamic_cast<TFileDataFormat*>(DataFormat);
    if (files == nullptr) {
        return false;
    }
    files->FileNames.Add(TextData);
    return true;
}

bool TFilenameWClipboardFormat::GiveTo(TCustomDataFormat* DataFormat)
{
    auto* files = dynamic_cast<TFileDataFormat*>(DataFormat);
    if (files == nullptr) {
        return false;
    }
    files->FileNames.Add(WideToSystem(WideText));
    return true;
}

bool TFilenameMapClipboardFormat::ReadData(const void* Buffer, int Size)
{
    std::vector<std::string> names;
    if (!ParseNameList(Buffer, static_cast<std::size_t>(Size), false, names) || names.empty()) {
        return false;
    }
    Names.insert(Names.end(), names.begin(), names.end());
    return true;
}

bool TFilenameMapClipboardFormat::WriteData(void* Buffer, int Size)
{
    return writeBlock(narrowNameList(Names), Buffer, Size);
}

int TFilenameMapClipboardFormat::DataSize()
{
    return static_cast<int>(narrowNameList(Names).size());
}

bool TFilenameMapWClipboardFormat::ReadData(const void* Buffer, int Size)
{
    std::vector<std::string> names;
    if (!ParseNameList(Buffer, static_cast<std::size_t>(Size), true, names) || names.empty()) {
        return false;
    }
    Names.insert(Names.end(), names.begin(), names.end());
    return true;
}

bool TFilenameMapWClipboardFormat::WriteData(void* Buffer, int Size)
{
    return writeBlock(wideNameList(Names), Buffer, Size);
}

int TFilenameMapWClipboardFormat::DataSize()
{
    return static_cast<int>(wideNameList(Names).size());
}

// --- data formats ---------------------------------------------------------------

void TNotifyingStrings::Assign(std::vector<std::string> items)
{
    m_owner.NotifyChanging();
    m_items = std::move(items);
}

void TNotifyingStrings::Add(std::string item)
{
    m_owner.NotifyChanging();
    m_items.push_back(std::move(item));
}

void TNotifyingStrings::Clear()
{
    if (!m_items.empty()) {
        m_owner.NotifyChanging();
        m_items.clear();
    }
}

TFileDataFormat::TFileDataFormat(TDragDropComponent* AOwner)
    : TCustomDataFormat(AOwner, (ensureFileConversions(), StaticClass()))
{
}

bool TFileDataFormat::ReadFrom(TClipboardFormat* ClipboardFormat)
{
    if (auto* files = dynamic_cast<TFileClipboardFormat*>(ClipboardFormat)) {
        FileNames.Assign(files->Names);
        return true;
    }
    if (auto* pidls = dynamic_cast<TPIDLClipboardFormat*>(ClipboardFormat)) {
        std::vector<std::string> paths;
        for (int i = 0; i < pidls->Paths.Count(); ++i) {
            paths.push_back(pidls->Paths[i]);
        }
        FileNames.Assign(std::move(paths));
        return true;
    }
    return TCustomDataFormat::ReadFrom(ClipboardFormat);
}

TFileMapDataFormat::TFileMapDataFormat(TDragDropComponent* AOwner)
    : TCustomDataFormat(AOwner, (ensureFileConversions(), StaticClass()))
{
}

bool TFileMapDataFormat::ReadFrom(TClipboardFormat* ClipboardFormat)
{
    if (auto* map = dynamic_cast<TFilenameMapClipboardFormat*>(ClipboardFormat)) {
        MapEntries.Assign(map->Names);
        return true;
    }
    if (auto* map = dynamic_cast<TFilenameMapWClipboardFormat*>(ClipboardFormat)) {
        MapEntries.Assign(map->Names);
        return true;
    }
    return false;
}

// --- the file drop target ----------------------------------------------------------

TDropFileTarget::TDropFileTarget(TComponent* AOwner) : TCustomDropMultiTarget(AOwner)
{
    OptimizedMove = true;
    FileFormat = std::make_unique<TFileDataFormat>(this);
    FileMapFormat = std::make_unique<TFileMapDataFormat>(this);
}

TDropFileTarget::~TDropFileTarget()
{
    // The data formats go first, while the component can still be told.
    FileFormat.reset();
    FileMapFormat.reset();
}

DWORD TDropFileTarget::PreferredEffect()
{
    const DWORD effect = TCustomDropMultiTarget::PreferredEffect();
    return effect == DROPEFFECT_NONE ? DROPEFFECT_COPY : effect;
}
