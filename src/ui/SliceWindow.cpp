#include "ui/SliceWindow.h"

#include "ui/NumberFormat.h"
#include "volume/ViewImage.h"

std::pair<double, double> observedWindow(const TKelvoxDataMgr& dataMgr)
{
    const TVoxelDataType type = dataMgr.LastRenderGuess(vkSlice).dataType;
    return {observedWindowEnd(dataMgr.ObservedMin, type), observedWindowEnd(dataMgr.ObservedMax, type)};
}

std::pair<double, double> sliceOwnWindow(TKelvoxDataMgr& dataMgr, std::int32_t slice, std::int32_t step)
{
    MemoryViewImage unseen;
    dataMgr.RenderView(0, slice, vkSlice, unseen, step);
    return observedWindow(dataMgr);
}
