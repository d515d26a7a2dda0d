#pragma once

#include "volume/Kelvox_DataMgr.h"

#include <cstdint>
#include <utility>

// The intensity window "Apply" takes from the last slice render of
// dataMgr: each observed end through observedWindowEnd under that render's
// data type.
std::pair<double, double> observedWindow(const TKelvoxDataMgr& dataMgr);

// The window a slice's own values give: slice `slice` of volume 0 rendered
// at the zoom 1:step under dataMgr's guess into a bitmap nobody sees, then
// observedWindow. The render stays dataMgr's last slice render (its record
// and observed range), as any other would.
std::pair<double, double> sliceOwnWindow(TKelvoxDataMgr& dataMgr, std::int32_t slice, std::int32_t step = 1);
