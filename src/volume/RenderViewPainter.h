#pragma once

#include "volume/VoxelType.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// The smallest and largest value a slice render met, as 32-bit floats. A
// render starts from the pair (2^31, -2^31) and meets each value as "if v <
// min then min := v"; positions that hold no data meet the value 0 last.
struct ObservedRange
{
    float min = 2147483648.0f;
    float max = -2147483648.0f;

    void meet(float v)
    {
        if (v < min)
            min = v;
        if (v > max)
            max = v;
    }
};

// Paints runs of raw voxels of one type as pixels under the intensity window
// and meets their range on the way. A render hands it the view's voxels in
// scan order, in runs of any length (a run may span rows where the
// picture's rows follow one another in memory) as they are read, so every run is painted while its bytes are
// still in the cache. The pixels of a voxel never depend on the runs: they
// are those of the pixel rule (grey under the window, red (255, 0, 0) for a
// NaN or a value whose scaled form overflows a float).
class VoxelPainter
{
public:
    virtual ~VoxelPainter() = default;

    // Writes the pixels of the n voxels at src as 3 * n bytes (red, green,
    // blue) at dst; with the range taken, meets their values.
    virtual void paint(const std::uint8_t* src, std::size_t n, std::uint8_t* dst) = 0;

    // Folds the range of every voxel painted into range as a scan in order
    // meets it (nothing without the range taken, or when nothing was
    // painted). The runs must have been painted in scan order.
    virtual void observe(ObservedRange& range) const = 0;

    // The painter for voxels of type (any value: one outside 0..7 paints
    // every voxel as the value 0) in the byte order, under the intensity
    // window intensityMin .. intensityMax (the low end and the span taken as
    // 32-bit floats, a span of 0 as 1); takeRange: whether observe reports
    // the range. Chooses the vector loops when they are in use.
    static std::unique_ptr<VoxelPainter> make(TVoxelDataType type, bool bigEndian, double intensityMin,
                                              double intensityMax, bool takeRange);

protected:
    VoxelPainter() = default;
    VoxelPainter(const VoxelPainter&) = default;
    VoxelPainter& operator=(const VoxelPainter&) = default;
};

// Light blue (0, 255, 255) into the n pixels (3 * n bytes) at dst: where a
// view holds no data.
void paintNoData(std::uint8_t* dst, std::size_t n);
