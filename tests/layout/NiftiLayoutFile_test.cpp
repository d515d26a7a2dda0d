#include "layout/NiftiLayoutFile.h"

#include "LayoutFileTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace LayoutFileTest;

namespace {

// Writes with nibabel a 4-D file (x fastest, values as testVoxelValue gives
// them) and files of kinds that cannot be shown.
const char* const NibabelScript = R"PY(
import sys, numpy as np, nibabel as nib
out = sys.argv[1]
four = (np.arange(3 * 2 * 2 * 4) % 97 - 40).astype('i2').reshape((3, 2, 2, 4), order='F')
nib.save(nib.Nifti1Image(four, np.eye(4)), out + '/four.nii')
rgb = np.zeros((2, 2, 2), dtype=[('R', 'u1'), ('G', 'u1'), ('B', 'u1')])
nib.save(nib.Nifti1Image(rgb, np.eye(4)), out + '/rgb.nii')
nib.save(nib.Nifti1Image(np.zeros((2, 2, 2), dtype='i8'), np.eye(4), dtype='int64'), out + '/int64.nii')
nib.save(nib.Nifti1Image(np.zeros((2, 2, 2), dtype='c8'), np.eye(4)), out + '/complex.nii')
nib.save(nib.Nifti1Image(np.zeros((2, 2, 2, 1, 3), dtype='u1'), np.eye(4)), out + '/five.nii')
)PY";

class NiftiNibabel : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_python = findNibabelPython();
        if (s_python.empty())
            return;
        s_dir = std::make_unique<TempDir>();
        const std::string script = s_dir->write("make.py", NibabelScript);
        int status = 0;
        runCommand(s_python + " " + shellQuote(script) + " " + shellQuote(s_dir->path()) + " 2>&1", status);
        s_made = status == 0;
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        if (s_python.empty())
            GTEST_SKIP() << "python3 with nibabel is not installed";
        ASSERT_TRUE(s_made) << "the nibabel script failed";
    }

    static std::string path(const std::string& name) { return s_dir->path(name); }

    static inline std::string s_python;
    static inline std::unique_ptr<TempDir> s_dir;
    static inline bool s_made = false;
};

// Every voxel of the data file under the layout decodes to testVoxelValue.
void expectVoxels(const LayoutFileContents& contents)
{
    const VolumeLayout& layout = contents.layout;
    const std::string data = readFile(contents.dataPath);
    const std::size_t bytes = VoxelTypes[layout.dataType].bytes;
    const std::size_t count = static_cast<std::size_t>(layoutDataBytes(layout)) / bytes;
    ASSERT_GE(data.size(), static_cast<std::size_t>(layout.headerBytes) + count * bytes);
    for (std::size_t i = 0; i < count; ++i) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(data.data() + layout.headerBytes + i * bytes);
        ASSERT_EQ(voxelValue(p, layout.dataType, layout.byteOrder == boBigEndian),
                  testVoxelValue(layout.dataType, i))
            << "voxel " << i;
    }
}

TEST_F(NiftiNibabel, FourthDimensionCountsVolumes)
{
    const LayoutFileReading reading = readLayoutFile(path("four.nii"));
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    EXPECT_EQ(reading.contents.layout.dims, (std::array<std::int64_t, 3>{3, 2, 2}));
    EXPECT_EQ(reading.contents.layout.volumes, 4);
    expectVoxels(reading.contents);
}

TEST_F(NiftiNibabel, WhatCannotBeShownIsRefusedByName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"rgb.nii", " holds colour (RGB) voxels, which Kelvox cannot show"},
        {"int64.nii", " holds 64-bit integer voxels, which Kelvox cannot show"},
        {"complex.nii", " holds complex voxels, which Kelvox cannot show"},
        {"five.nii", " has 5 dimensions; Kelvox shows at most four"},
    };
    for (const auto& [name, text] : cases) {
        const LayoutFileReading reading = readLayoutFile(path(name));
        EXPECT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal) << name;
        EXPECT_EQ(reading.refusal, path(name) + text);
    }
}

// ---- Hand-built headers: hostile values never reach the library ----

struct Header348
{
    std::string bytes = std::string(348, '\0');

    Header348()
    {
        put32(0, 348);
        put16(40, 3); // dim[0]
        put16(42, 2);
        put16(44, 2);
        put16(46, 2);
        put16(70, 2); // datatype: unsigned char
        put16(72, 8); // bitpix
        putFloat(108, 352);
        std::memcpy(bytes.data() + 344, "n+1", 4);
    }
    void put16(std::size_t at, std::int16_t v) { std::memcpy(bytes.data() + at, &v, 2); }
    void put32(std::size_t at, std::int32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
    void putFloat(std::size_t at, float v) { std::memcpy(bytes.data() + at, &v, 4); }
    std::string file(std::size_t dataBytes = 8) const { return bytes + std::string(4 + dataBytes, '\0'); }
};

struct HostileCase
{
    std::string name;
    std::string file; // contents of h.nii
    std::string refusalPart;
};

class NiftiHostile : public testing::TestWithParam<HostileCase>
{
};

TEST_P(NiftiHostile, IsRefusedClearly)
{
    TempDir dir;
    const std::string path = dir.write("h.nii", GetParam().file);
    const LayoutFileReading reading = readLayoutFile(path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_TRUE(reading.refusal.starts_with(path)) << reading.refusal;
    EXPECT_NE(reading.refusal.find(GetParam().refusalPart), std::string::npos) << reading.refusal;
}

HostileCase withHeader(std::string name, const std::function<void(Header348&)>& edit, std::string part)
{
    Header348 h;
    edit(h);
    return {std::move(name), h.file(), std::move(part)};
}

INSTANTIATE_TEST_SUITE_P(
    Headers, NiftiHostile,
    testing::Values(
        HostileCase{"Empty", "", "too short"},
        HostileCase{"Truncated", Header348().bytes.substr(0, 200), "too short"},
        withHeader("NotAHeader", [](Header348& h) { h.put32(0, 347); }, "is not a NIfTI-1 or Analyze 7.5 header"),
        withHeader("NiftiTwo", [](Header348& h) { h.put32(0, 540); }, "is a NIfTI-2 file"),
        withHeader("ZeroRank", [](Header348& h) { h.put16(40, 0); }, "it gives 0 dimensions"),
        withHeader("HugeRank", [](Header348& h) { h.put16(40, 32000); }, "it gives 32000 dimensions"),
        withHeader("NegativeOffset", [](Header348& h) { h.putFloat(108, -16); }, "vox_offset"),
        withHeader("NaNOffset", [](Header348& h) { h.putFloat(108, std::numeric_limits<float>::quiet_NaN()); },
                   "vox_offset"),
        withHeader("HugeOffset", [](Header348& h) { h.putFloat(108, 1e30f); }, "vox_offset"),
        withHeader("FractionalOffset", [](Header348& h) { h.putFloat(108, 352.5f); }, "vox_offset"),
        withHeader("OffsetBeyondTheFile", [](Header348& h) { h.putFloat(108, 100000); }, "ends before its data offset"),
        withHeader("NegativeSize", [](Header348& h) { h.put16(44, -5); }, "gives axis 2 the size -5"),
        withHeader("SixtyFourBit", [](Header348& h) { h.put16(70, 1024); }, "64-bit integer voxels"),
        withHeader("Swapped", [](Header348& h) { h.put32(0, 0x5C010000); }, "it gives 768 dimensions"),
        withHeader("UnknownType", [](Header348& h) { h.put16(70, 3); }, "holds voxels of the unknown type 3")),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST(NiftiLayoutFile, ImageWithoutAnalyzeHeaderIsPlainData)
{
    TempDir dir;
    const std::string image = dir.write("scan.img", std::string(100, 'x'));
    EXPECT_EQ(readLayoutFile(image).outcome, LayoutFileReading::Outcome::PlainData);
    dir.write("scan.hdr", "ENVI\nsamples = 10\n");
    EXPECT_EQ(readLayoutFile(image).outcome, LayoutFileReading::Outcome::PlainData);
    // The header itself, chosen by the user, is refused with the reason.
    const LayoutFileReading header = readLayoutFile(dir.path("scan.hdr"));
    EXPECT_EQ(header.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_NE(header.refusal.find("too short for a NIfTI-1 or Analyze 7.5 header"), std::string::npos);
}

TEST(NiftiLayoutFile, PairWithoutImageRefusesTheMissingDataFile)
{
    TempDir dir;
    Header348 h;
    std::memcpy(h.bytes.data() + 344, "ni1", 4);
    h.putFloat(108, 0);
    const std::string header = dir.write("pair.hdr", h.bytes);
    const LayoutFileReading reading = readLayoutFile(header);
    EXPECT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_EQ(reading.refusal, header + ": its data file " + dir.path("pair.img") + " does not exist");
}

} // namespace
