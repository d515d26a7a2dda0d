#pragma once

// The Windows-style types, constants and COM interfaces that the drop target
// and its data formats are written against. Numeric values are the platform's
// published ones so that code above this layer reads like ordinary code of
// that platform. Interfaces are abstract classes with reference counting;
// they are held only through ComPtr (ComPtr.h).

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using CLIPFORMAT = std::uint16_t;
using WCHAR = char16_t;
using UINT_PTR = std::uintptr_t;
using LPARAM = std::intptr_t;
using WPARAM = std::uintptr_t;
using LRESULT = std::intptr_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Opaque handles. A window handle stands for a widget of the toolkit; only the
// bridge (platform/qt) knows what it points to.
using HWND = struct HWND__*;
using HGLOBAL = struct HGLOBAL__*;
using HIMAGELIST = struct HIMAGELIST__*;

// --- results ---------------------------------------------------------------

constexpr HRESULT makeHResult(std::uint32_t value) { return static_cast<HRESULT>(value); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = makeHResult(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = makeHResult(0x80004002u);
inline constexpr HRESULT E_POINTER = makeHResult(0x80004003u);
inline constexpr HRESULT E_FAIL = makeHResult(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = makeHResult(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = makeHResult(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = makeHResult(0x80070057u);
inline constexpr HRESULT DV_E_FORMATETC = makeHResult(0x80040064u);
inline constexpr HRESULT DV_E_TYMED = makeHResult(0x80040069u);
inline constexpr HRESULT DV_E_CLIPFORMAT = makeHResult(0x8004006Au);
inline constexpr HRESULT DV_E_LINDEX = makeHResult(0x80040068u);
inline constexpr HRESULT DV_E_DVASPECT = makeHResult(0x8004006Bu);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = makeHResult(0x80040003u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = makeHResult(0x80040154u);
inline constexpr HRESULT CLIPBRD_E_CANT_OPEN = makeHResult(0x800401D0u);
inline constexpr HRESULT DRAGDROP_E_NOTREGISTERED = makeHResult(0x80040100u);
inline constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = makeHResult(0x80040101u);
inline constexpr HRESULT DRAGDROP_E_INVALIDHWND = makeHResult(0x80040102u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = makeHResult(0x800401F0u);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = makeHResult(0x80030001u);
inline constexpr HRESULT STG_E_INVALIDPOINTER = makeHResult(0x80030009u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// --- geometry --------------------------------------------------------------

struct POINT
{
    LONG x = 0;
    LONG y = 0;
    friend bool operator==(const POINT&, const POINT&) = default;
};

using POINTL = POINT;

struct RECT
{
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

// True when pt lies in rc, the right and bottom edges excluded.
constexpr bool PtInRect(const RECT& rc, POINT pt)
{
    return pt.x >= rc.left && pt.x < rc.right && pt.y >= rc.top && pt.y < rc.bottom;
}

// --- identifiers -----------------------------------------------------------

struct GUID
{
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};
    friend bool operator==(const GUID&, const GUID&) = default;
};

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumFORMATETC{0x00000103, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDropTarget{0x00000122, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStream{0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISequentialStream{0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr IID IID_IMalloc{0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDropTargetHelper{0x4657278B, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
inline constexpr CLSID CLSID_DragDropHelper{0x4657278A, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
inline constexpr IID IID_IAsyncOperation{0x3D8B0590, 0xF691, 0x11D2, {0x8E, 0xA9, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};

// --- drag and drop constants -----------------------------------------------

using DROPEFFECT = DWORD;
inline constexpr DROPEFFECT DROPEFFECT_NONE = 0;
inline constexpr DROPEFFECT DROPEFFECT_COPY = 1;
inline constexpr DROPEFFECT DROPEFFECT_MOVE = 2;
inline constexpr DROPEFFECT DROPEFFECT_LINK = 4;
inline constexpr DROPEFFECT DROPEFFECT_SCROLL = 0x80000000u;

inline constexpr DWORD MK_LBUTTON = 0x0001;
inline constexpr DWORD MK_RBUTTON = 0x0002;
inline constexpr DWORD MK_SHIFT = 0x0004;
inline constexpr DWORD MK_CONTROL = 0x0008;
inline constexpr DWORD MK_MBUTTON = 0x0010;
inline constexpr DWORD MK_ALT = 0x0020;

inline constexpr CLIPFORMAT CF_HDROP = 15;

enum : DWORD {
    DVASPECT_CONTENT = 1,
    DVASPECT_THUMBNAIL = 2,
    DVASPECT_ICON = 4,
    DVASPECT_DOCPRINT = 8,
};

enum : DWORD {
    TYMED_NULL = 0,
    TYMED_HGLOBAL = 1,
    TYMED_FILE = 2,
    TYMED_ISTREAM = 4,
    TYMED_ISTORAGE = 8,
    TYMED_GDI = 16,
    TYMED_MFPICT = 32,
    TYMED_ENHMF = 64,
};

enum : DWORD {
    DATADIR_GET = 1,
    DATADIR_SET = 2,
};

enum : DWORD {
    STREAM_SEEK_SET = 0,
    STREAM_SEEK_CUR = 1,
    STREAM_SEEK_END = 2,
};

enum : DWORD {
    STATFLAG_DEFAULT = 0,
    STATFLAG_NONAME = 1,
};

enum : DWORD {
    STGTY_STREAM = 2,
};

// --- data transfer structures ----------------------------------------------

struct DVTARGETDEVICE;
class IUnknown;
class IStream;

struct FORMATETC
{
    CLIPFORMAT cfFormat = 0;
    DVTARGETDEVICE* ptd = nullptr;
    DWORD dwAspect = DVASPECT_CONTENT;
    LONG lindex = -1;
    DWORD tymed = TYMED_NULL;
};

// A storage medium. Whoever holds one with pUnkForRelease == nullptr owns the
// handle or interface in it and frees it with ReleaseStgMedium.
struct STGMEDIUM
{
    DWORD tymed = TYMED_NULL;
    HGLOBAL hGlobal = nullptr;
    IStream* pstm = nullptr;
    IUnknown* pUnkForRelease = nullptr;
};

struct STATSTG
{
    const WCHAR* pwcsName = nullptr;
    DWORD type = STGTY_STREAM;
    std::uint64_t cbSize = 0;
};

// The DROPFILES header of a CF_HDROP block (20 bytes, little-endian): the
// byte offset of the name list, the drop point, the non-client flag and
// whether the names are 16-bit characters.
struct DROPFILES
{
    DWORD pFiles = 0;
    POINT pt;
    BOOL fNC = FALSE;
    BOOL fWide = FALSE;
};
static_assert(sizeof(DROPFILES) == 20);

// A CIDA ("Shell IDList Array") starts with the item count followed by
// count + 1 byte offsets; see dragdrop/DragDropPIDL.h.
struct CIDA
{
    UINT cidl = 0;
    UINT aoffset[1] = {};
};

// --- interfaces --------------------------------------------------------------

// Every interface has a protected non-virtual destructor: objects die by
// Release only, and only ComPtr calls AddRef/Release.
class IUnknown
{
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    IUnknown() = default;
    IUnknown(const IUnknown&) = default;
    IUnknown& operator=(const IUnknown&) = default;
    ~IUnknown() = default;
};

class IEnumFORMATETC : public IUnknown
{
public:
    // Copies up to celt entries into rgelt; S_OK when all celt were given.
    virtual HRESULT Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFORMATETC** ppenum) = 0;

protected:
    ~IEnumFORMATETC() = default;
};

class IDataObject : public IUnknown
{
public:
    // On S_OK the caller owns *pmedium and frees it with ReleaseStgMedium.
    virtual HRESULT GetData(const FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
    virtual HRESULT QueryGetData(const FORMATETC* pformatetc) = 0;
    // With fRelease true the data object takes ownership of *pmedium on S_OK.
    virtual HRESULT SetData(const FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) = 0;
    virtual HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) = 0;

protected:
    ~IDataObject() = default;
};

class IStream : public IUnknown
{
public:
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    virtual HRESULT Seek(std::int64_t dlibMove, DWORD dwOrigin, std::uint64_t* plibNewPosition) = 0;
    virtual HRESULT SetSize(std::uint64_t libNewSize) = 0;
    // A negative cb (all bits set, as the platform's unsigned maximum) asks for
    // everything from the position to the end.
    virtual HRESULT CopyTo(IStream* pstm, std::int64_t cb, std::uint64_t* pcbRead, std::uint64_t* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;

protected:
    ~IStream() = default;
};

class IDropTarget : public IUnknown
{
public:
    virtual HRESULT DragEnter(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) = 0;
    virtual HRESULT DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT Drop(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) = 0;

protected:
    ~IDropTarget() = default;
};

class IDropTargetHelper : public IUnknown
{
public:
    virtual HRESULT DragEnter(HWND hwndTarget, IDataObject* pDataObject, POINT* ppt, DWORD dwEffect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT DragOver(POINT* ppt, DWORD dwEffect) = 0;
    virtual HRESULT Drop(IDataObject* pDataObject, POINT* ppt, DWORD dwEffect) = 0;
    virtual HRESULT Show(BOOL fShow) = 0;

protected:
    ~IDropTargetHelper() = default;
};

class IMalloc : public IUnknown
{
public:
    virtual void* Alloc(std::size_t cb) = 0;
    virtual void Free(void* pv) = 0;

protected:
    ~IMalloc() = default;
};
