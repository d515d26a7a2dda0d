// One suite for every layout-file format in the table: each format states
// every voxel type, byte order, volume count and header size and reads back
// the same; compressed data keeps its encoding; broken files are refused.
// A format added to the table runs here once it has a row in Traits.

#include "layout/LayoutFile.h"

#include "LayoutFileTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <sstream>

using namespace LayoutFileTest;

namespace {

// A layout file made for a test, and what reading it must give.
struct Made
{
    std::string path; // the file to open
    LayoutFileContents expected;
    std::string header; // the file holding the header (path, or the .hdr of an .img)
};

using MakeFile = Made (*)(const TempDir&, const VolumeLayout&, const std::string& voxels, VolumeEncoding);

// Places of the data file relative to the header's folder hdr/, by case.
const std::array<const char*, 4> DataNames{"hdr/a.raw", "hdr/sub/a.raw", "other/a.raw", "hdr/a b.raw"};

// A format the program writes: the data file, then the format's own header.
Made writtenByKelvox(const TempDir& dir, const VolumeLayout& layout, const std::string& voxels,
                     VolumeEncoding encoding, const LayoutFileFormat& format)
{
    const std::string name = DataNames[static_cast<std::size_t>(layout.dataType) % DataNames.size()];
    const std::string unpacked = std::string(static_cast<std::size_t>(layout.headerBytes), 'H') + voxels;
    const std::string data = dir.write(name, packedBytes(unpacked, encoding));
    std::filesystem::create_directories(dir.path("hdr"));
    const std::string header = dir.path("hdr/layout" + std::string(format.extensions.front()));
    writeLayoutFile(header, format, layout, data, encoding, 0);
    return {header, {layout, data, encoding, 0}, header};
}

// NIfTI-1 datatype codes as the standard numbers them, in TVoxelDataType
// order (written here by hand, not taken from the reader's table).
constexpr std::array<std::int16_t, VoxelTypeCount> NiftiCodes{2, 4, 8, 16, 512, 256, 768, 64};

// NIfTI-1, which the program does not write: a header made here, in the
// layout's byte order. Even types make a single .nii file (data after 352 +
// header bytes), odd ones a pair: Analyze 7.5 (no magic) for the types it
// has, else NIfTI-1, opened through the .img when big-endian. Gzip packs the
// .nii or the .img.
Made niftiMadeHere(const TempDir& dir, const VolumeLayout& layout, const std::string& voxels, VolumeEncoding encoding)
{
    const bool big = layout.byteOrder == boBigEndian;
    std::string h(348, '\0');
    const auto put = [&](std::size_t at, auto value) {
        std::array<char, sizeof value> bytes{};
        std::memcpy(bytes.data(), &value, sizeof value);
        if (big)
            std::reverse(bytes.begin(), bytes.end());
        std::memcpy(h.data() + at, bytes.data(), bytes.size());
    };
    const bool single = layout.dataType % 2 == 0;
    const std::int16_t code = NiftiCodes[layout.dataType];
    const bool analyze = !single && code < 256;
    const std::int64_t offset = (single ? 352 : 0) + layout.headerBytes;
    put(0, std::int32_t{348});
    put(40, static_cast<std::int16_t>(layout.volumes > 1 ? 4 : 3));
    for (std::size_t i = 0; i < 3; ++i)
        put(42 + 2 * i, static_cast<std::int16_t>(layout.dims[i]));
    put(48, static_cast<std::int16_t>(layout.volumes));
    put(70, code);
    put(72, static_cast<std::int16_t>(8 * VoxelTypes[layout.dataType].bytes));
    for (std::size_t i = 0; i < 5; ++i)
        put(76 + 4 * i, 1.0f); // pixdim
    put(108, static_cast<float>(offset));
    if (!analyze)
        std::memcpy(h.data() + 344, single ? "n+1" : "ni1", 4);
    const std::string gz = encoding == VolumeEncoding::Gzip ? ".gz" : "";
    LayoutFileContents expected{layout, "", encoding, 0};
    expected.layout.headerBytes = offset;
    if (single) {
        // Four zero bytes: no extensions; then the header bytes.
        const std::string file =
            h + std::string(4, '\0') + std::string(static_cast<std::size_t>(offset) - 352, 'H') + voxels;
        expected.dataPath = dir.write("v.nii" + gz, packedBytes(file, encoding));
        return {expected.dataPath, expected, expected.dataPath};
    }
    const std::string header = dir.write("v.hdr", h);
    expected.dataPath =
        dir.write("v.img" + gz, packedBytes(std::string(static_cast<std::size_t>(offset), 'H') + voxels, encoding));
    return {big ? expected.dataPath : header, expected, header};
}

// The voxel values another program reads through each header (x fastest),
// one list per header; nullopt when that program is not installed.
using Values = std::optional<std::vector<std::vector<double>>>;

// The numbers of each line of a command's output.
std::vector<std::vector<double>> numbersByLine(const std::string& command)
{
    int status = 0;
    std::istringstream text(runCommand(command, status));
    std::vector<std::vector<double>> lines;
    for (std::string line; status == 0 && std::getline(text, line);) {
        std::istringstream in(line);
        lines.emplace_back();
        for (double v = 0; in >> v;)
            lines.back().push_back(v);
    }
    return lines;
}

// NRRD: teem's unu, from another working directory, so a data file name is
// only found when it is right relative to the header.
Values unuValues(const std::vector<std::string>& headers, const std::vector<std::size_t>& counts)
{
    const std::string unu = findUnu();
    if (unu.empty())
        return std::nullopt;
    std::vector<std::vector<double>> values;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        std::vector<double> all;
        for (const auto& line : numbersByLine("cd / && " + unu + " reshape -i " + shellQuote(headers[i]) + " -s " +
                                              std::to_string(counts[i]) + " 2>/dev/null | " + unu +
                                              " save -f text -o - 2>/dev/null"))
            all.insert(all.end(), line.begin(), line.end());
        values.push_back(all);
    }
    return values;
}

// NIfTI-1 and Analyze 7.5: nibabel, one line per file.
Values nibabelValues(const std::vector<std::string>& headers, const std::vector<std::size_t>&)
{
    const std::string python = findNibabelPython();
    if (python.empty())
        return std::nullopt;
    std::string command = python + " -c 'import sys, numpy, nibabel\nfor f in sys.argv[1:]: "
                                   "print(*numpy.asanyarray(nibabel.load(f).dataobj).reshape(-1, order=\"F\"))'";
    for (const std::string& header : headers)
        command += " " + shellQuote(header);
    return numbersByLine(command + " 2>/dev/null");
}

// What the suite needs of a format beyond its descriptor.
struct FormatTraits
{
    std::string_view name; // LayoutFileFormat::name
    MakeFile make; // nullptr: the format's own header writer
    std::vector<VolumeEncoding> packedEncodings; // compressed data the format states
    Values (*otherProgram)(const std::vector<std::string>& headers, const std::vector<std::size_t>& counts);
};

const std::vector<FormatTraits>& traits()
{
    static const std::vector<FormatTraits> all{
        {"NRRD", nullptr, {VolumeEncoding::Gzip}, unuValues},
        {"MetaImage", nullptr, {VolumeEncoding::Zlib, VolumeEncoding::Gzip}, nullptr},
        {"NIfTI-1", niftiMadeHere, {VolumeEncoding::Gzip}, nibabelValues},
    };
    return all;
}

class LayoutFileFormats : public testing::TestWithParam<const LayoutFileFormat*>
{
protected:
    void SetUp() override
    {
        const auto found = std::find_if(traits().begin(), traits().end(),
                                        [&](const FormatTraits& t) { return t.name == format().name; });
        ASSERT_NE(found, traits().end()) << "no traits for the format " << format().name;
        m_traits = &*found;
    }

    const LayoutFileFormat& format() const { return *GetParam(); }

    Made make(const TempDir& dir, const VolumeLayout& layout, const std::string& voxels,
              VolumeEncoding encoding = VolumeEncoding::Raw) const
    {
        return m_traits->make ? m_traits->make(dir, layout, voxels, encoding)
                              : writtenByKelvox(dir, layout, voxels, encoding, format());
    }

    const FormatTraits* m_traits = nullptr;
};

VolumeLayout layoutOf(std::size_t t, TByteOrder order)
{
    VolumeLayout layout;
    const auto type = static_cast<TVoxelDataType>(t);
    layout.dims = {5, 3, 2};
    layout.volumes = static_cast<std::int64_t>(1 + t % 3);
    layout.dataType = type;
    // Single bytes have no order: a header does not say one.
    layout.byteOrder = VoxelTypes[t].bytes > 1 ? order : boLittleEndian;
    layout.headerBytes = static_cast<std::int64_t>(t * 37 % 101);
    return layout;
}

void expectRead(const Made& made)
{
    const LayoutFileReading reading = readLayoutFile(made.path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    EXPECT_EQ(reading.contents.layout, made.expected.layout);
    EXPECT_EQ(std::filesystem::canonical(reading.contents.dataPath), std::filesystem::canonical(made.expected.dataPath));
    EXPECT_EQ(reading.contents.encoding, made.expected.encoding);
    EXPECT_EQ(reading.contents.streamStart, made.expected.streamStart);
}

TEST_P(LayoutFileFormats, EveryTypeOrderVolumeCountAndHeaderReadsBack)
{
    std::vector<std::unique_ptr<TempDir>> dirs;
    std::vector<std::string> paths;
    std::vector<std::size_t> counts;
    std::vector<TVoxelDataType> types;
    for (std::size_t t = 0; t < VoxelTypeCount; ++t) {
        for (const TByteOrder order : {boLittleEndian, boBigEndian}) {
            SCOPED_TRACE(std::string(VoxelTypes[t].shortName) + (order == boBigEndian ? " big" : " little"));
            const VolumeLayout layout = layoutOf(t, order);
            const std::size_t count = static_cast<std::size_t>(layoutDataBytes(layout)) / VoxelTypes[t].bytes;
            dirs.push_back(std::make_unique<TempDir>());
            const Made made = make(*dirs.back(), layout, encodeVoxels(layout.dataType, order == boBigEndian, count));
            expectRead(made);
            // Its own magic test knows the header; no other format's does.
            const std::string head = readFile(made.header);
            for (const LayoutFileFormat* other : layoutFileFormats())
                EXPECT_EQ(other->contentLooksLike(head), other == &format()) << other->name;
            paths.push_back(made.path);
            counts.push_back(count);
            types.push_back(layout.dataType);
        }
    }
    if (!m_traits->otherProgram)
        return;
    const Values values = m_traits->otherProgram(paths, counts);
    if (!values)
        GTEST_SKIP() << "the program that reads " << format().name << " is not installed: values not checked";
    ASSERT_EQ(values->size(), paths.size());
    for (std::size_t f = 0; f < paths.size(); ++f) {
        ASSERT_EQ((*values)[f].size(), counts[f]) << paths[f];
        for (std::size_t i = 0; i < counts[f]; ++i)
            ASSERT_EQ((*values)[f][i], testVoxelValue(types[f], i)) << paths[f] << " voxel " << i;
    }
}

TEST_P(LayoutFileFormats, CompressedDataKeepsItsEncodingAndOthersAreNotWritten)
{
    const auto& packs = m_traits->packedEncodings;
    for (const VolumeEncoding encoding : {VolumeEncoding::Gzip, VolumeEncoding::Zlib}) {
        for (const TVoxelDataType type : {vdtByte, vdtFloat32}) {
            SCOPED_TRACE(std::string(encoding == VolumeEncoding::Gzip ? "gzip " : "zlib ") +
                         std::string(VoxelTypes[type].shortName));
            TempDir dir;
            VolumeLayout layout = layoutOf(type, boBigEndian);
            layout.headerBytes = 0; // MetaImage cannot skip bytes inside compressed data
            const std::size_t count = static_cast<std::size_t>(layoutDataBytes(layout)) / VoxelTypes[type].bytes;
            const std::string voxels = encodeVoxels(type, true, count);
            if (std::find(packs.begin(), packs.end(), encoding) != packs.end()) {
                expectRead(make(dir, layout, voxels, encoding));
            } else if (format().writable()) {
                EXPECT_THROW(make(dir, layout, voxels, encoding), LayoutFileError);
            }
        }
    }
}

TEST_P(LayoutFileFormats, BrokenFilesAreRefusedWithTheirName)
{
    TempDir dir;
    const std::string absent = dir.path("absent" + std::string(format().extensions.front()));
    EXPECT_EQ(readLayoutFile(absent).refusal, absent + " cannot be read: No such file or directory");
    const VolumeLayout layout = layoutOf(vdtInt16, boLittleEndian);
    const Made made = make(dir, layout, encodeVoxels(vdtInt16, false, 5 * 3 * 2 * 2));
    const std::string header = readFile(made.path);
    ASSERT_NE(made.path, made.expected.dataPath) << "the case needs a separate data file";
    std::filesystem::remove(made.expected.dataPath);
    const LayoutFileReading missing = readLayoutFile(made.path);
    ASSERT_EQ(missing.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_NE(missing.refusal.find("does not exist"), std::string::npos) << missing.refusal;

    for (const std::size_t keep : {std::size_t{0}, header.size() / 3, header.size() / 2}) {
        const std::string path = dir.write("cut/h" + std::string(format().extensions.front()), header.substr(0, keep));
        const LayoutFileReading reading = readLayoutFile(path);
        ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal) << keep << " bytes";
        EXPECT_TRUE(reading.refusal.starts_with(path)) << reading.refusal;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LayoutFileFormats, testing::ValuesIn(layoutFileFormats()),
                         [](const testing::TestParamInfo<const LayoutFileFormat*>& info) {
                             std::string name(info.param->name);
                             std::erase(name, '-');
                             return name;
                         });

TEST(LayoutFileFormatTable, EveryExtensionNamesItsOwnFormatOnly)
{
    for (const LayoutFileFormat* format : layoutFileFormats()) {
        for (const std::string_view ext : format->extensions) {
            std::string upper = "/x/Scan" + std::string(ext);
            std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
            EXPECT_EQ(layoutFileFormatOf("/x/scan" + std::string(ext)), format) << ext;
            EXPECT_EQ(layoutFileFormatOf(upper), format) << upper;
            EXPECT_EQ(layoutSaveFormatOf("a" + std::string(ext)), format->writable() ? format : nullptr) << ext;
            // No extension ends another, so the table's order never decides.
            for (const LayoutFileFormat* other : layoutFileFormats()) {
                for (const std::string_view o : other->extensions)
                    EXPECT_TRUE(o == ext || !o.ends_with(ext)) << o << " ends with " << ext;
            }
        }
        EXPECT_EQ(format->writable(), !format->saveFilterName.empty()) << format->name;
        if (!format->writable()) {
            EXPECT_THROW(writeLayoutFile("/nowhere/x", *format, layoutOf(0, boLittleEndian), "/nowhere/v"),
                         LayoutFileError);
        }
    }
    for (const char* other : {"a.raw", "nhdr", "a.nhdr.raw", "", "a.gz", "a.nii.bz2"}) {
        EXPECT_FALSE(isLayoutFileName(other)) << other;
        EXPECT_EQ(readLayoutFile(other).outcome, LayoutFileReading::Outcome::PlainData) << other;
    }
}

TEST(LayoutFileFormatTable, MessagesListTheTypedExtensions)
{
    EXPECT_EQ(layoutFileExtensionList(layoutFileFormats(), " ", " "), ".nhdr .nrrd .mhd .mha .nii .hdr .img");
    EXPECT_EQ(layoutFileExtensionList(writableLayoutFileFormats(), ", ", " or "), ".nhdr, .nrrd, .mhd or .mha");
}

} // namespace
