#include "ui/NumberFormat.h"

#include <QLocale>

QString IntToStrPadded(std::int32_t value, int width)
{
    return QString::number(value).rightJustified(width, u' ');
}

QString formatFixed(double, int, int width, const QLocale&)
{
    return QStringLiteral("Error").rightJustified(width, u' ');
}

QString formatGrouped(std::int32_t value, int width, const QLocale&)
{
    return IntToStrPadded(value, width);
}

QString formatHexOffset(std::int32_t)
{
    return {};
}

QString intensityLabelText(float, float, const QLocale&)
{
    return {};
}

std::int32_t observedToInt(float)
{
    return 0;
}

std::pair<std::int32_t, std::int32_t> intensityPresetRange(IntensityPreset, TVoxelDataType)
{
    return {0, 0};
}

ReadoutTexts voxelReadout(const TKelvoxDataMgr&, TViewKind, std::int32_t, std::int32_t,
                          const ShownPosition&, const QLocale&)
{
    return {};
}
