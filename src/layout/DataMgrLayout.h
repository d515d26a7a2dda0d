#pragma once

#include "layout/VolumeLayout.h"
#include "volume/Kelvox_DataMgr.h"

// The data manager's guess as a layout and back: the one conversion between
// the two, for the window, the guess dialog and kelvox-render.

// Dimensions, data type, byte order and header bytes as dataMgr holds them,
// with the whole volumes its open file holds (a compressed file counts its
// unpacked bytes; no file: 1).
VolumeLayout layoutOf(const TKelvoxDataMgr& dataMgr);

// Makes layout dataMgr's guess with the intensity window low .. high. Each
// dimension lies within 1 .. 2^31 - 1 (the window's within 1 ..
// MaxShownDim); the number of volumes plays no part.
void setLayout(TKelvoxDataMgr& dataMgr, const VolumeLayout& layout, double low, double high);
