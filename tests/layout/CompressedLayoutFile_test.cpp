// Compressed data described by layout files from other programs (.nii.gz and
// .img.gz from nibabel, gzip NRRD from teem's unu, zlib MetaImage) and by the
// headers Kelvox saves: every view is the uncompressed original's, pixel for
// pixel. The programs must be installed (scripts/install-deps.sh): a missing
// one fails these tests.

#include "layout/LayoutFile.h"
#include "layout/MetaImageLayoutFile.h"
#include "layout/NrrdLayoutFile.h"
#include "volume/Kelvox_DataMgr.h"
#include "volume/ViewImage.h"

#include "LayoutFileTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace LayoutFileTest;

namespace {

class PixelImage final : public ViewImage
{
public:
    void setSize24(int w, int h) override
    {
        width = w;
        pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, 7);
    }
    std::uint8_t* rowPointer(int y) override { return pixels.data() + static_cast<std::size_t>(y) * width * 3; }
    void repaintNow() override {}

    int width = 0;
    std::vector<std::uint8_t> pixels;
};

// The four views of contents' data under its layout, the window taken from
// the slice's own range as the window does for a layout file.
std::vector<std::vector<std::uint8_t>> viewsOf(const LayoutFileContents& contents)
{
    TKelvoxDataMgr m;
    EXPECT_TRUE(m.OpenFile(contents.dataPath, contents.encoding, contents.streamStart, {}));
    EXPECT_EQ(m.FileName, contents.dataPath) << m.ErrorText;
    const VolumeLayout& l = contents.layout;
    const auto dim = [&](int k) { return static_cast<std::int32_t>(l.dims[static_cast<std::size_t>(k)]); };
    const std::int32_t slice = dim(2) / 2;
    const std::int32_t volume = l.volumes > 1 ? 1 : 0;
    PixelImage probe;
    m.SetParams(dim(0), dim(1), dim(2), l.dataType, l.byteOrder, 0, 0, l.headerBytes);
    m.RenderView(volume, slice, vkSlice, probe);
    m.SetParams(dim(0), dim(1), dim(2), l.dataType, l.byteOrder, static_cast<std::int32_t>(m.ObservedMin),
                static_cast<std::int32_t>(m.ObservedMax) + 1, l.headerBytes);
    std::vector<std::vector<std::uint8_t>> views;
    for (const TViewKind view : {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume}) {
        PixelImage image;
        m.RenderView(volume, view == vkCrossSlice ? dim(1) / 2 : slice, view, image);
        views.push_back(image.pixels);
    }
    return views;
}

LayoutFileContents readLayout(const std::string& path)
{
    const LayoutFileReading reading = readLayoutFile(path);
    EXPECT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << path << ": " << reading.refusal;
    return reading.contents;
}

// The compressed file shows exactly what the plain one shows, under the same
// layout.
void expectSameViews(const std::string& plainPath, const std::string& packedPath, VolumeEncoding encoding)
{
    SCOPED_TRACE(packedPath);
    const LayoutFileContents plain = readLayout(plainPath);
    const LayoutFileContents packed = readLayout(packedPath);
    EXPECT_EQ(plain.encoding, VolumeEncoding::Raw);
    EXPECT_EQ(packed.encoding, encoding);
    EXPECT_EQ(packed.layout, plain.layout);
    const auto plainViews = viewsOf(plain);
    EXPECT_EQ(viewsOf(packed), plainViews);
    // Something was drawn: the views are not one flat colour.
    EXPECT_NE(std::adjacent_find(plainViews[0].begin(), plainViews[0].end(), std::not_equal_to<>()),
              plainViews[0].end());
}

// Every type nibabel writes, both orders, 3-D and 4-D, as .nii and .nii.gz,
// and a NIfTI pair whose image is gzip (.hdr + .img.gz).
const char* const NibabelScript = R"PY(
import sys, gzip, shutil, numpy as np, nibabel as nib
out = sys.argv[1]
types = ['u1', 'i1', 'i2', 'u2', 'i4', 'u4', 'f4', 'f8']
for t in types:
    for end in '<>':
        for shape in ((11, 9, 7), (7, 6, 5, 3)):
            n = int(np.prod(shape))
            v = (np.arange(n) * 37 % 251).astype(t)
            if t[0] == 'f':
                v = v * 0.5 - 20
            data = v.reshape(shape, order='F')
            h = nib.Nifti1Header(endianness=end)
            h.set_data_dtype(data.dtype)
            stem = '%s/%s_%s_%dd' % (out, t, 'big' if end == '>' else 'little', len(shape))
            for ext in ('nii', 'nii.gz'):
                nib.save(nib.Nifti1Image(data, np.eye(4), header=h), stem + '.' + ext)
pair = (np.arange(8 * 6 * 4) % 200).astype('i2').reshape((8, 6, 4), order='F')
nib.save(nib.Nifti1Pair(pair, np.eye(4)), out + '/pair.hdr')
shutil.copy(out + '/pair.hdr', out + '/pairz.hdr')
with open(out + '/pair.img', 'rb') as f, gzip.open(out + '/pairz.img.gz', 'wb') as g:
    g.write(f.read())
)PY";

TEST(CompressedLayoutFile, NiftiGzFromNibabelShowsLikeTheUncompressedFile)
{
    const std::string python = findNibabelPython();
    ASSERT_FALSE(python.empty()) << "python3 with nibabel (python3-nibabel) is needed";
    TempDir dir;
    const std::string script = dir.write("make.py", NibabelScript);
    int status = 0;
    const std::string log = runCommand(python + " " + shellQuote(script) + " " + shellQuote(dir.path()) + " 2>&1", status);
    ASSERT_EQ(status, 0) << log;
    int seen = 0;
    for (const char* type : {"u1", "i1", "i2", "u2", "i4", "u4", "f4", "f8"}) {
        for (const char* order : {"little", "big"}) {
            for (const char* rank : {"3d", "4d"}) {
                const std::string stem = dir.path(std::string(type) + "_" + order + "_" + rank);
                expectSameViews(stem + ".nii", stem + ".nii.gz", VolumeEncoding::Gzip);
                ++seen;
            }
        }
    }
    EXPECT_EQ(seen, 32);
    expectSameViews(dir.path("pair.hdr"), dir.path("pairz.hdr"), VolumeEncoding::Gzip);
    expectSameViews(dir.path("pair.img"), dir.path("pairz.img.gz"), VolumeEncoding::Gzip);
}

// unu writes gzip NRRD attached (.nrrd) and detached (.nhdr + .raw.gz); the
// NRRD header Kelvox saves for gzip data (a line skip past an attached
// header, a byte skip in the unpacked data) reads back the same and teem
// itself reads the same voxels from it.
TEST(CompressedLayoutFile, GzipNrrdFromUnuAndSavedHeadersShowLikeRawData)
{
    const std::string unu = findUnu();
    ASSERT_FALSE(unu.empty()) << "unu (teem-apps) is needed";
    TempDir dir;
    std::string raw;
    for (int i = 0; i < 13 * 11 * 6 * 2; ++i)
        raw += static_cast<char>((i * 7919 / 13) & 0xFF);
    dir.write("v.raw", raw);
    int status = 0;
    const std::string make = "cd " + shellQuote(dir.path()) + " && " + unu +
                             " make -i v.raw -t short -s 13 11 6 -e raw -en big -o plain.nhdr && " + unu +
                             " save -i plain.nhdr -f nrrd -e gzip -o attached.nrrd && " + unu +
                             " save -i plain.nhdr -f nrrd -e gzip -o detached.nhdr 2>&1";
    const std::string log = runCommand(make, status);
    ASSERT_EQ(status, 0) << log;
    expectSameViews(dir.path("plain.nhdr"), dir.path("attached.nrrd"), VolumeEncoding::Gzip);
    expectSameViews(dir.path("plain.nhdr"), dir.path("detached.nhdr"), VolumeEncoding::Gzip);

    // Saved again: the attached file's stream after its header lines, and a
    // layout that skips 26 unpacked bytes (the first row).
    const LayoutFileContents attached = readLayout(dir.path("attached.nrrd"));
    ASSERT_GT(attached.streamStart, 0);
    VolumeLayout skipped = attached.layout;
    skipped.headerBytes = 26;
    skipped.dims = {13, 10, 6};
    writeLayoutFile(dir.path("saved.nhdr"), NrrdLayoutFormat, skipped, attached.dataPath, attached.encoding,
                    attached.streamStart);
    const LayoutFileContents saved = readLayout(dir.path("saved.nhdr"));
    EXPECT_EQ(saved.layout, skipped);
    EXPECT_EQ(saved.encoding, VolumeEncoding::Gzip);
    EXPECT_EQ(saved.streamStart, attached.streamStart);
    runCommand("cd " + shellQuote(dir.path()) + " && " + unu + " save -i saved.nhdr -f nrrd -e raw -en big -o check.nhdr 2>&1",
               status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(readFile(dir.path("check.raw")), raw.substr(26, 13 * 10 * 6 * 2));
}

// MetaImage writers pack with zlib: an attached .mha (LOCAL) and a detached
// .mhd + .zraw, written here as those writers do; the header Kelvox saves for
// them keeps CompressedData.
TEST(CompressedLayoutFile, ZlibMetaImageShowsLikeRawData)
{
    TempDir dir;
    std::string raw;
    for (int i = 0; i < 10 * 8 * 5 * 4; ++i)
        raw += static_cast<char>((i * 613 / 7) & 0xFF);
    const std::string fields = "ObjectType = Image\nNDims = 3\nDimSize = 10 8 5\nElementType = MET_FLOAT\n"
                               "ElementByteOrderMSB = False\nBinaryData = True\n";
    dir.write("v.raw", raw);
    dir.write("plain.mhd", fields + "ElementDataFile = v.raw\n");
    const std::string packed = packedBytes(raw, VolumeEncoding::Zlib);
    dir.write("v.zraw", packed);
    dir.write("detached.mhd", fields + "CompressedData = True\nCompressedDataSize = " + std::to_string(packed.size()) +
                                  "\nElementDataFile = v.zraw\n");
    dir.write("attached.mha", fields + "CompressedData = True\nCompressedDataSize = " + std::to_string(packed.size()) +
                                  "\nElementDataFile = LOCAL\n" + packed);
    expectSameViews(dir.path("plain.mhd"), dir.path("detached.mhd"), VolumeEncoding::Zlib);
    expectSameViews(dir.path("plain.mhd"), dir.path("attached.mha"), VolumeEncoding::Zlib);

    for (const char* source : {"detached.mhd", "attached.mha"}) {
        const LayoutFileContents contents = readLayout(dir.path(source));
        writeLayoutFile(dir.path("saved.mhd"), MetaImageLayoutFormat, contents.layout, contents.dataPath,
                        contents.encoding, contents.streamStart);
        EXPECT_EQ(readLayout(dir.path("saved.mhd")), contents) << source;
        EXPECT_NE(readFile(dir.path("saved.mhd")).find("CompressedData = True\n"), std::string::npos);
    }
    // Header bytes inside zlib data: MetaImage cannot say so, NRRD has no zlib.
    LayoutFileContents contents = readLayout(dir.path("detached.mhd"));
    contents.layout.headerBytes = 4;
    EXPECT_THROW(writeLayoutFile(dir.path("bad.mhd"), MetaImageLayoutFormat, contents.layout, contents.dataPath,
                                 contents.encoding, contents.streamStart),
                 LayoutFileError);
    EXPECT_THROW(writeLayoutFile(dir.path("bad.nhdr"), NrrdLayoutFormat, contents.layout, contents.dataPath,
                                 contents.encoding, contents.streamStart),
                 LayoutFileError);
}

} // namespace
