#pragma once

// Image-list dragging. The program never starts a drag of its own, so no
// image list is ever being dragged: ImageList_GetDragImage yields none and
// the other drag calls have nothing to draw.

#include "platform/WinTypes.h"

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int cInitial, int cGrow);
BOOL ImageList_Destroy(HIMAGELIST himl);
HIMAGELIST ImageList_GetDragImage(POINT* ppt, POINT* pptHotspot);
BOOL ImageList_SetDragCursorImage(HIMAGELIST himlDrag, int iDrag, int dxHotspot, int dyHotspot);
BOOL ImageList_DragEnter(HWND hwndLock, int x, int y);
BOOL ImageList_DragMove(int x, int y);
BOOL ImageList_DragLeave(HWND hwndLock);
BOOL ImageList_DragShowNolock(BOOL fShow);
