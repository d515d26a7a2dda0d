#pragma once

#include "volume/Kelvox_DataMgr.h"

#include <QString>

#include <cstdint>
#include <utility>

class QLocale;

// Number formatting of the main window: the intensity label, the voxel
// readout of the status bar and the conversion of the observed range.
// No widgets here; every function is pure.

// The decimal text of value with blanks in front up to width characters;
// a longer text is left as it is.
QString IntToStrPadded(std::int32_t value, int width);

// C's "%W.Df" (W = width, D = decimals): fixed point, the locale's decimal
// separator, no grouping, a leading "-" for negative values, right-aligned
// with blanks in at least width characters. A NaN gives "NAN" and an infinity
// "INF", each with "-" when its sign bit is set. A magnitude of 1e18 or more
// uses C's "%E" form (six decimals, "E+nn") in the same width. Gives "Error"
// (padded the same way) when the value cannot be formatted, for instance for
// decimals outside 0..20.
QString formatFixed(double value, int decimals, int width, const QLocale& locale);

// "%W.0n": no decimals, digits grouped by threes with the locale's thousands
// separator, a leading "-" for negative values, right-aligned with blanks in
// at least width characters.
QString formatGrouped(std::int64_t value, int width, const QLocale& locale);

// "0x" + hexadecimal digits in groups of four joined by ".": two groups below
// 2^32 ("0x0025.AD0E"), from 2^32 on as many more groups from the left as the
// value needs (4,294,967,396 gives "0x0001.0000.0064"). A negative value
// shows its 64 bits as two's complement ("0xFFFF.FFFF.FFFF.FFFF" for -1).
QString formatHexOffset(std::int64_t byteOffset);

// The intensity label: "Intens: " + "%10.2f" of observedMin + " to " +
// "%10.2f" of observedMax.
QString intensityLabelText(float observedMin, float observedMax, const QLocale& locale);

// The "Apply" conversion of an observed value to an intensity end: above
// 2147483647, or NaN, gives 2147483647; otherwise below -2147483647 gives
// -2147483648; anything else is rounded to the nearest integer, halves to the
// even neighbour (2.5 -> 2, 3.5 -> 4).
std::int32_t observedToInt(float value);

// The intensity end "Apply" takes from an observed extreme of a render of
// dataType: for the float types the float itself (an infinity as the largest
// float of its sign), for UInt-32 the nearest whole number within
// 0..4294967295 (halves to even), for every other type observedToInt.
double observedWindowEnd(float observed, TVoxelDataType dataType);

// The text an intensity edit shows for an end under dataType: a whole number
// within the 32-bit range (for UInt-32 up to 4294967295) as its digits; any
// other value with the intensity label's
// decimals where that text reads back as the same 32-bit float, otherwise the
// shortest decimal text that does. The locale's decimal separator, no
// grouping. parseIntensityText reads every such text back.
QString intensityEditText(double value, TVoxelDataType dataType, const QLocale& locale);

// The items of the intensity range pop-up menu, in menu order.
enum class IntensityPreset {
    FromSelectedSlice,
    FullRange,
    PositiveRange,
    ZeroToOne,
    MinusOneToOne,
    ZeroTo255,
    ZeroTo10000
};

// The (minimum, maximum) pair a preset writes for a data type.
// FromSelectedSlice depends on the last render, not on the data type: callers
// handle it themselves (as "Apply"); here it gives {0, 0}. A data type outside
// the eight known ones also gives {0, 0}.
std::pair<std::int32_t, std::int32_t> intensityPresetRange(IntensityPreset preset,
                                                           TVoxelDataType dataType);

// The three status-bar texts of the voxel readout.
struct ReadoutTexts
{
    QString panel0; // the four indices
    QString panel1; // the value
    QString panel2; // voxel number and byte offset
};

// The readout for the pointer at column x, row y of view as last rendered at
// position shown (its indices: viewVoxelIndices):
// the value, its decimals and the offsets follow the guess of that render
// (geometry, data type, header), so the texts describe the picture on screen
// while a newer guess waits for its refresh. "Byte Offset" is the position in
// the file, header included; for a compressed file it is the position in the
// unpacked bytes, labelled "Byte Offset (unpacked)". Reads only the view buffers and the offset
// arithmetic of dataMgr, never the file.
ReadoutTexts voxelReadout(const TKelvoxDataMgr& dataMgr, TViewKind view, std::int32_t x,
                          std::int32_t y, const ShownPosition& shown, const QLocale& locale);
