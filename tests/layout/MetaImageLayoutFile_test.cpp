#include "layout/MetaImageLayoutFile.h"

#include "LayoutFileTestSupport.h"

#include <gtest/gtest.h>

using namespace LayoutFileTest;

namespace {

VolumeLayout makeLayout(std::int64_t x, std::int64_t y, std::int64_t z, std::int64_t volumes, TVoxelDataType type,
                        TByteOrder order, std::int64_t header)
{
    VolumeLayout layout;
    layout.dims = {x, y, z};
    layout.volumes = volumes;
    layout.dataType = type;
    layout.byteOrder = order;
    layout.headerBytes = header;
    return layout;
}

// ---- Hand-made headers, as other programs write them ----

struct HandMadeCase
{
    std::string name;
    std::string header; // the data file is v.raw (200 bytes) beside it
    VolumeLayout expected;
};

class MetaImageHandMade : public testing::TestWithParam<HandMadeCase>
{
};

TEST_P(MetaImageHandMade, GivesTheStatedLayout)
{
    TempDir dir;
    const std::string raw = dir.write("d/v.raw", std::string(200, 'v'));
    const std::string path = dir.write("d/v.mhd", GetParam().header);
    const LayoutFileReading reading = readLayoutFile(path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    EXPECT_EQ(reading.contents.layout, GetParam().expected);
    EXPECT_EQ(reading.contents.dataPath, raw);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MetaImageHandMade,
    testing::Values(
        HandMadeCase{"Minimal", "NDims = 3\nDimSize = 4 3 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                     makeLayout(4, 3, 2, 1, vdtByte, boLittleEndian, 0)},
        HandMadeCase{"TypicalWriter",
                     "ObjectType = Image\nNDims = 3\nBinaryData = True\nBinaryDataByteOrderMSB = True\n"
                     "CompressedData = False\nTransformMatrix = 1 0 0 0 1 0 0 0 1\nOffset = 0 0 0\n"
                     "ElementSpacing = 0.5 0.5 1\nDimSize = 5 4 2\nElementType = MET_SHORT\n"
                     "ElementDataFile = v.raw\n",
                     makeLayout(5, 4, 2, 1, vdtInt16, boBigEndian, 0)},
        HandMadeCase{"FourDimensions",
                     "NDims = 4\nDimSize = 2 2 2 3\nElementType = MET_FLOAT\nElementByteOrderMSB = False\n"
                     "HeaderSize = 8\nElementDataFile = v.raw\n",
                     makeLayout(2, 2, 2, 3, vdtFloat32, boLittleEndian, 8)},
        HandMadeCase{"TwoDimensionsCrLf",
                     "NDims = 2\r\nDimSize = 10 3\r\nElementType = MET_CHAR\r\nElementDataFile = v.raw\r\n",
                     makeLayout(10, 3, 1, 1, vdtInt8, boLittleEndian, 0)},
        HandMadeCase{"DataAtTheEnd",
                     "NDims = 3\nDimSize = 3 3 3\nElementType = MET_USHORT\nElementByteOrderMSB = True\n"
                     "HeaderSize = -1\nElementDataFile = v.raw\n",
                     makeLayout(3, 3, 3, 1, vdtUInt16, boBigEndian, 200 - 54)},
        HandMadeCase{"SpacesAndCase", "ndims=3\n  dimsize =  2   2\t2 \nelementtype = MET_UINT\nelementdatafile =  v.raw  \n",
                     makeLayout(2, 2, 2, 1, vdtUInt32, boLittleEndian, 0)},
        HandMadeCase{"IntAndDouble", "NDims = 3\nDimSize = 1 1 1\nElementType = MET_INT\nElementDataFile = v.raw\n",
                     makeLayout(1, 1, 1, 1, vdtInt32, boLittleEndian, 0)},
        HandMadeCase{"FiveDimsTrailingOne",
                     "NDims = 5\nDimSize = 2 2 2 2 1\nElementType = MET_DOUBLE\nElementDataFile = v.raw\n",
                     makeLayout(2, 2, 2, 2, vdtFloat64, boLittleEndian, 0)}),
    [](const testing::TestParamInfo<HandMadeCase>& info) { return info.param.name; });

TEST(MetaImageLayoutFile, AttachedDataStartsAfterTheDataFileLine)
{
    TempDir dir;
    const std::string header = "NDims = 3\nDimSize = 2 2 1\nElementType = MET_UCHAR\nHeaderSize = 2\n"
                               "ElementDataFile = LOCAL\n";
    const std::string path = dir.write("v.mha", header + "\x01\x02" + "ABCD");
    const LayoutFileReading reading = readLayoutFile(path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Layout) << reading.refusal;
    EXPECT_EQ(reading.contents.dataPath, path);
    EXPECT_EQ(reading.contents.layout.headerBytes, static_cast<std::int64_t>(header.size() + 2));
}

TEST(MetaImageLayoutFile, HeaderTextMatchesTheFieldList)
{
    EXPECT_EQ(metaImageHeaderText(makeLayout(4, 3, 2, 5, vdtUInt16, boBigEndian, 12), "/abs/v.raw"),
              "ObjectType = Image\nNDims = 4\nDimSize = 4 3 2 5\nElementType = MET_USHORT\nBinaryData = True\n"
              "ElementByteOrderMSB = True\nHeaderSize = 12\nElementDataFile = /abs/v.raw\n");
}

// ---- What cannot be shown, and hostile headers ----

struct RefusalCase
{
    std::string name;
    std::string header;
    std::string refusalPart;
};

class MetaImageRefusal : public testing::TestWithParam<RefusalCase>
{
};

TEST_P(MetaImageRefusal, IsRefusedClearly)
{
    TempDir dir;
    dir.write("v.raw", std::string(64, 'x'));
    std::filesystem::create_directories(dir.path("dir"));
    const std::string path = dir.write("h.mhd", GetParam().header);
    const LayoutFileReading reading = readLayoutFile(path);
    ASSERT_EQ(reading.outcome, LayoutFileReading::Outcome::Refusal);
    EXPECT_TRUE(reading.refusal.starts_with(path)) << reading.refusal;
    EXPECT_NE(reading.refusal.find(GetParam().refusalPart), std::string::npos) << reading.refusal;
}

const std::string Dims = "NDims = 3\nDimSize = 2 2 2\n";

INSTANTIATE_TEST_SUITE_P(
    Headers, MetaImageRefusal,
    testing::Values(
        RefusalCase{"Empty", "", "has no ElementDataFile line"},
        RefusalCase{"Truncated", "NDims = 3\nDimSize = 2 2", "has no ElementDataFile line"},
        RefusalCase{"Binary", std::string("\x00\x01\x02=\xff\n", 6), "has no ElementDataFile line"},
        RefusalCase{"NoNDims", "DimSize = 2 2 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n", "no NDims"},
        RefusalCase{"NoType", Dims + "ElementDataFile = v.raw\n", "no ElementType"},
        RefusalCase{"CompressedUnclear", Dims + "ElementType = MET_UCHAR\nCompressedData = Yes\nElementDataFile = v.raw\n",
                    "gives CompressedData = Yes, which is neither True nor False"},
        RefusalCase{"CompressedAtEnd",
                    Dims + "ElementType = MET_UCHAR\nCompressedData = True\nHeaderSize = -1\nElementDataFile = v.raw\n",
                    "gives HeaderSize = -1 for compressed data"},
        RefusalCase{"Text", Dims + "ElementType = MET_UCHAR\nBinaryData = False\nElementDataFile = v.raw\n",
                    "stores its voxels as text"},
        RefusalCase{"Rgb", Dims + "ElementType = MET_UCHAR\nElementNumberOfChannels = 3\nElementDataFile = v.raw\n",
                    "holds 3 channels per voxel"},
        RefusalCase{"LongLong", Dims + "ElementType = MET_LONG_LONG\nElementDataFile = v.raw\n",
                    "holds 64-bit integer voxels"},
        RefusalCase{"UnknownType", Dims + "ElementType = MET_FLOAT_MATRIX\nElementDataFile = v.raw\n",
                    "holds voxels of type MET_FLOAT_MATRIX"},
        RefusalCase{"FiveDims", "NDims = 5\nDimSize = 2 2 2 2 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "has 5 dimensions; Kelvox shows at most four"},
        RefusalCase{"MillionDims", "NDims = 1000000\nDimSize = 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "has 1000000 dimensions"},
        RefusalCase{"ZeroDims", "NDims = 0\nDimSize = \nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "NDims = 0"},
        RefusalCase{"TooFewSizes", "NDims = 3\nDimSize = 2 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "gives 2 DimSize values for its 3 dimensions"},
        RefusalCase{"TooManySizes", "NDims = 2\nDimSize = 2 2 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "more DimSize values"},
        RefusalCase{"OverflowingSizes",
                    "NDims = 3\nDimSize = 4000000000 3000000000 5000000000\nElementType = MET_SHORT\n"
                    "ElementDataFile = v.raw\n",
                    "bytes exceed what a file can hold"},
        RefusalCase{"SizeBeyond64Bits",
                    "NDims = 3\nDimSize = 99999999999999999999 1 1\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "not a whole number"},
        RefusalCase{"ZeroSize", "NDims = 3\nDimSize = 2 0 2\nElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "the size 0"},
        RefusalCase{"NegativeHeader", Dims + "ElementType = MET_UCHAR\nHeaderSize = -7\nElementDataFile = v.raw\n",
                    "HeaderSize = -7"},
        RefusalCase{"HeaderAtEndTooBig",
                    "NDims = 3\nDimSize = 20 20 20\nElementType = MET_UCHAR\nHeaderSize = -1\nElementDataFile = v.raw\n",
                    "smaller than the voxels it states"},
        RefusalCase{"Missing", Dims + "ElementType = MET_UCHAR\nElementDataFile = nope.raw\n", "does not exist"},
        RefusalCase{"Folder", Dims + "ElementType = MET_UCHAR\nElementDataFile = dir\n", "is a folder"},
        RefusalCase{"List", Dims + "ElementType = MET_UCHAR\nElementDataFile = LIST\nv.raw\nv.raw\n",
                    "spreads its data over several files"},
        RefusalCase{"Pattern", Dims + "ElementType = MET_UCHAR\nElementDataFile = v%03d.raw 1 2 1\n",
                    "spreads its data over several files"},
        RefusalCase{"NotAnImage", "ObjectType = Mesh\n" + Dims + "ElementType = MET_UCHAR\nElementDataFile = v.raw\n",
                    "describes a Mesh, not an image"},
        RefusalCase{"BadByteOrder", Dims + "ElementType = MET_SHORT\nElementByteOrderMSB = maybe\nElementDataFile = v.raw\n",
                    "neither True nor False"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

} // namespace
