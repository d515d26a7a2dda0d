#include "volume/Kelvox_DataMgr.h"

#include "volume/ViewImage.h"
#include "volume/Wrap32.h"

TKelvoxDataMgr* DataMgr = nullptr;

TKelvoxDataMgr::TKelvoxDataMgr()
    : ViewBuffers{ViewBuffer(ViewBufferSize), ViewBuffer(ViewBufferSize), ViewBuffer(ViewBufferSize),
                  ViewBuffer(ViewBufferSize)}
{
}

TKelvoxDataMgr::~TKelvoxDataMgr() = default;

void TKelvoxDataMgr::OpenFile(const std::string& fileName)
{
    CloseFile();
    ErrorText.clear();
    (void)fileName;
    // TODO(vol): skeleton until the file layer lands in the next commit.
    ErrorText = "File does not exist";
}

void TKelvoxDataMgr::CloseFile()
{
    FileName.clear();
    Stream.reset();
}

void TKelvoxDataMgr::SetParams(std::int32_t voxelsPerRow, std::int32_t rowsPerSlice, std::int32_t slicesPerVolume,
                               TVoxelDataType dataType, TByteOrder byteOrder, std::int32_t intensityMin,
                               std::int32_t intensityMax)
{
    Dims = {voxelsPerRow, rowsPerSlice, slicesPerVolume};
    DataType = dataType;
    ByteOrder = byteOrder;
    IntensityMin = intensityMin;
    IntensityMax = intensityMax;
    Blocks[0] = Dims[0];
    Blocks[1] = Wrap32::mul(Blocks[0], Dims[1]);
    Blocks[2] = Wrap32::mul(Blocks[1], Dims[2]);
}

std::int32_t TKelvoxDataMgr::DimSize(int dim) const
{
    return dim >= 0 && dim < 3 ? Dims[static_cast<std::size_t>(dim)] : 0;
}

std::int32_t TKelvoxDataMgr::BlockVoxels(int level) const
{
    return level >= 0 && level < 3 ? Blocks[static_cast<std::size_t>(level)] : 0;
}

std::int32_t TKelvoxDataMgr::VoxelOffset(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const
{
    std::int32_t v = i0;
    v = Wrap32::add(v, Wrap32::mul(i1, Blocks[0]));
    v = Wrap32::add(v, Wrap32::mul(i2, Blocks[1]));
    v = Wrap32::add(v, Wrap32::mul(i3, Blocks[2]));
    return v;
}

std::int32_t TKelvoxDataMgr::ByteOffset(std::int32_t i0, std::int32_t i1, std::int32_t i2, std::int32_t i3) const
{
    const std::int32_t b = DataType < 4 ? BytesPerVoxel[DataType] : 1;
    return Wrap32::mul(VoxelOffset(i0, i1, i2, i3), b);
}

std::int16_t TKelvoxDataMgr::DecodeInt16(std::int32_t, std::span<const std::uint8_t>) const { return 0; }
std::int32_t TKelvoxDataMgr::DecodeInt32(std::int32_t, std::span<const std::uint8_t>) const { return 0; }
float TKelvoxDataMgr::DecodeFloat32(std::int32_t, std::span<const std::uint8_t>) const { return 0.0f; }

double TKelvoxDataMgr::ViewValue(TViewKind, std::int32_t, std::int32_t) const { return 0.0; }

bool TKelvoxDataMgr::elementHoldsData(TViewKind, std::int64_t) const { return false; }

void TKelvoxDataMgr::RenderView(std::int32_t, std::int32_t, TViewKind view, ViewImage& image)
{
    const int w = Dims[0] > 0 ? Dims[0] : 0;
    const int hDim = view == vkCrossSlice ? Dims[2] : Dims[1];
    const int h = hDim > 0 ? hDim : 0;
    image.setSize24(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = image.rowPointer(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = 0;
            row[3 * x + 1] = 255;
            row[3 * x + 2] = 255;
        }
    }
    image.repaintNow();
}
