#include "layout/DataMgrLayout.h"

#include "layout/LayoutFile.h"

VolumeLayout layoutOf(const TKelvoxDataMgr& dataMgr)
{
    VolumeLayout layout;
    layout.dims = {dataMgr.DimSize(0), dataMgr.DimSize(1), dataMgr.DimSize(2)};
    layout.dataType = dataMgr.DataType;
    layout.byteOrder = dataMgr.ByteOrder;
    layout.headerBytes = dataMgr.HeaderBytes;
    layout.volumes = wholeVolumesIn(layout, dataMgr.Stream ? dataMgr.Stream->size() : 0);
    return layout;
}

void setLayout(TKelvoxDataMgr& dataMgr, const VolumeLayout& layout, double low, double high)
{
    dataMgr.SetParams(static_cast<std::int32_t>(layout.dims[0]), static_cast<std::int32_t>(layout.dims[1]),
                      static_cast<std::int32_t>(layout.dims[2]), layout.dataType, layout.byteOrder, low, high,
                      layout.headerBytes);
}
