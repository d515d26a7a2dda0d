#pragma once

#include "volume/VoxelType.h"

#include <QStringView>

#include <cstdint>
#include <optional>

class QLocale;

// The integer text syntax shared by every edit of the main window that holds
// a number. After any leading blanks (spaces only; a tab is not a blank) the
// text is either
//   - an optional "-" or "+" and one or more decimal digits, the value within
//     the signed 32-bit range (leading zeros allowed), or
//   - one of the prefixes "$", "x", "X", "0x", "0X" and 1 to 8 hexadecimal
//     digits in either case, the 32 bits read as two's complement
//     ("$FFFFFFFF" is -1).
// Nothing may follow, trailing blanks included. Only ASCII digits count.
// The empty text, a lone sign and a lone prefix do not convert; neither does
// a sign in front of a hexadecimal prefix.

// The value of text, or nothing when text does not follow the syntax.
std::optional<std::int32_t> parseIntText(QStringView text);

// The value of text, or def when text does not follow the syntax.
std::int32_t strToIntDef(QStringView text, std::int32_t def);

// A count of bytes in the same syntax at 64 bits: decimal within 0 .. 2^63 - 1
// (a "-" only before zero), or 1 to 16 hexadecimal digits whose 64 bits,
// read as two's complement, are not negative. Nothing when the text does not
// follow the syntax or the value is negative.
std::optional<std::int64_t> parseByteCountText(QStringView text);

// An end of the intensity window: the integer syntax above, or a decimal
// number (after leading blanks: an optional sign, digits with at most one
// decimal separator, the locale's or ".", at least one digit, an optional
// exponent "e"/"E" with an optional sign and digits; a trailing "e", "e+" or
// "e-" still being typed counts as no exponent) whose value lies within the
// 32-bit float range. Whole decimal numbers beyond the 32-bit range are
// taken only for UInt-32, up to 4294967295; for every other type such text is
// refused as before. Nothing when the text follows none of these.
std::optional<double> parseIntensityText(QStringView text, TVoxelDataType dataType, const QLocale& locale);
