// Fuzzes the layout-file readers end to end, the NRRD and NIfTI libraries'
// header readers included: the bytes become a layout file of the kind the
// first byte picks, beside a small data file and a folder, and reading it
// must give a usable layout, a refusal or "plain data", never a crash.

#include "layout/LayoutFile.h"
#include "layout/NrrdLayoutFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// The extensions a user types, of every format in the table (.nhdr .nrrd
// .mhd .mha .nii .hdr .img today).
const std::vector<std::string_view>& extensions()
{
    static const std::vector<std::string_view> list = typedLayoutFileExtensions(layoutFileFormats());
    return list;
}

// The folder of the files, removed when the fuzzer exits normally.
class Folder
{
public:
    Folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvox-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_path = pattern;
        std::ofstream(m_path / "v.raw", std::ios::binary) << std::string(4096, 'v');
        std::filesystem::create_directories(m_path / "dir");
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

const std::filesystem::path& folder()
{
    static const Folder dir;
    return dir.path();
}

void writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

// teem 1.12's NRRD header reader (_nrrdRead) does not free some of its
// arrays when a header fails its checks (e.g. an RGB-color axis of size 1);
// teem is built without frame pointers, so the reports end inside libteem.
// The same entry is in tests/lsan.supp.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libteem.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view ext = extensions()[data[0] % extensions().size()];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    const NrrdHeaderScan scan = scanNrrdHeader(bytes);
    if (scan.headerBytes > bytes.size() || scan.withoutSkips.size() > bytes.size())
        std::abort();

    std::filesystem::path path = folder() / ("f" + std::string(ext));
    if (ext == ".img") {
        // An .img is read through its .hdr; the image is the data file.
        writeFile(folder() / "f.hdr", bytes);
        writeFile(path, std::string(64, 'i'));
    } else {
        writeFile(path, bytes);
    }
    const LayoutFileReading reading = readLayoutFile(path.string());
    if (reading.outcome == LayoutFileReading::Outcome::Layout) {
        const VolumeLayout& layout = reading.contents.layout;
        if (layoutDataBytes(layout) < 0 || layout.headerBytes < 0 || layout.dataType >= VoxelTypeCount ||
            reading.contents.dataPath.empty())
            std::abort();
    } else if (reading.outcome == LayoutFileReading::Outcome::Refusal && reading.refusal.empty()) {
        std::abort();
    }
    return 0;
}
