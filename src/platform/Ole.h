#pragma once

// OLE start-up and shut-down, drop-target registration, storage media and
// class creation. All functions run on the GUI thread.

#include "platform/WinTypes.h"

// Reference-counted initialisation: S_OK on the first call, S_FALSE on
// nested ones; drop-target registration needs it. main() calls
// OleInitialize first and OleUninitialize last.
HRESULT OleInitialize(void* pvReserved);
void OleUninitialize();

// True between the first OleInitialize and the last OleUninitialize.
bool IsOleInitialized();

// Binds pDropTarget to the window (a widget, see WinTypes.h): drags over the
// widget become calls of the target. The registration holds a reference to
// the target until RevokeDragDrop. DRAGDROP_E_INVALIDHWND for a null or
// unknown window, DRAGDROP_E_ALREADYREGISTERED when the window has a target,
// E_INVALIDARG for a null target.
HRESULT RegisterDragDrop(HWND hwnd, IDropTarget* pDropTarget);
// DRAGDROP_E_NOTREGISTERED when the window has no target.
HRESULT RevokeDragDrop(HWND hwnd);

// Frees what the medium owns: the global block or the stream, or, when
// pUnkForRelease is set, releases that object instead. Leaves the medium empty.
void ReleaseStgMedium(STGMEDIUM* pmedium);

// No classes are registered here: always REGDB_E_CLASSNOTREG with *ppv null.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);
inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

// There is no system clipboard data object: CLIPBRD_E_CANT_OPEN.
HRESULT OleGetClipboard(IDataObject** ppDataObj);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hexadecimal.
void StringFromGUID(const GUID& guid, char (&text)[39]);
