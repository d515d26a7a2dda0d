#include "platform/Ole.h"

#include "platform/ComPtr.h"
#include "platform/GlobalMemory.h"
#include "platform/Windowing.h"

#include <cstdio>

namespace {

int oleInitCount = 0;

} // namespace

HRESULT OleInitialize(void*)
{
    return ++oleInitCount == 1 ? S_OK : S_FALSE;
}

void OleUninitialize()
{
    // Registered clipboard formats keep their numbers for the whole run, as
    // the classes that use them cache the numbers.
    if (oleInitCount > 0) {
        --oleInitCount;
    }
}

bool IsOleInitialized()
{
    return oleInitCount > 0;
}

HRESULT RegisterDragDrop(HWND hwnd, IDropTarget* pDropTarget)
{
    if (!IsOleInitialized()) {
        return E_OUTOFMEMORY;  // what the platform answers without OleInitialize
    }
    if (pDropTarget == nullptr) {
        return E_INVALIDARG;
    }
    if (hwnd == nullptr) {
        return DRAGDROP_E_INVALIDHWND;
    }
    return CurrentWindowServices().registerDragDrop(hwnd, pDropTarget);
}

HRESULT RevokeDragDrop(HWND hwnd)
{
    if (hwnd == nullptr) {
        return DRAGDROP_E_INVALIDHWND;
    }
    return CurrentWindowServices().revokeDragDrop(hwnd);
}

void ReleaseStgMedium(STGMEDIUM* pmedium)
{
    if (pmedium == nullptr) {
        return;
    }
    STGMEDIUM medium = *pmedium;
    *pmedium = STGMEDIUM{};
    if (medium.pUnkForRelease != nullptr) {
        ComPtr<IUnknown>::adopt(medium.pUnkForRelease).reset();
        return;
    }
    switch (medium.tymed) {
    case TYMED_HGLOBAL:
        if (medium.hGlobal != nullptr) {
            GlobalFree(medium.hGlobal);
        }
        break;
    case TYMED_ISTREAM:
        ComPtr<IStream>::adopt(medium.pstm).reset();
        break;
    default:
        break;
    }
}

HRESULT CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, void** ppv)
{
    if (ppv != nullptr) {
        *ppv = nullptr;
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT OleGetClipboard(IDataObject** ppDataObj)
{
    if (ppDataObj != nullptr) {
        *ppDataObj = nullptr;
    }
    return CLIPBRD_E_CANT_OPEN;
}

void StringFromGUID(const GUID& guid, char (&text)[39])
{
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}
