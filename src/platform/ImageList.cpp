#include "platform/ImageList.h"

#include <memory>

namespace {

struct ImageListData
{
    int cx = 0;
    int cy = 0;
};

} // namespace

HIMAGELIST ImageList_Create(int cx, int cy, UINT, int, int)
{
    return reinterpret_cast<HIMAGELIST>(new ImageListData{cx, cy});
}

BOOL ImageList_Destroy(HIMAGELIST himl)
{
    if (himl == nullptr) {
        return FALSE;
    }
    std::unique_ptr<ImageListData> owned(reinterpret_cast<ImageListData*>(himl));
    return TRUE;
}

HIMAGELIST ImageList_GetDragImage(POINT* ppt, POINT* pptHotspot)
{
    if (ppt != nullptr) {
        *ppt = {};
    }
    if (pptHotspot != nullptr) {
        *pptHotspot = {};
    }
    return nullptr;
}

BOOL ImageList_SetDragCursorImage(HIMAGELIST, int, int, int) { return FALSE; }
BOOL ImageList_DragEnter(HWND, int, int) { return FALSE; }
BOOL ImageList_DragMove(int, int) { return FALSE; }
BOOL ImageList_DragLeave(HWND) { return FALSE; }
BOOL ImageList_DragShowNolock(BOOL) { return FALSE; }
