#pragma once

// Test doubles for the drop path: a data object that offers scripted blocks
// and records what it was asked, and window services over fake windows.

#include "dragdrop/DragDropFormats.h"
#include "platform/ClipboardFormats.h"
#include "platform/ComPtr.h"
#include "platform/GlobalMemory.h"
#include "platform/Ole.h"
#include "platform/Windowing.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

inline CLIPFORMAT formatNamed(const char* name)
{
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name));
}

// A little-endian byte string builder.
inline std::string le32(std::uint32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    return s;
}

inline std::string wideZ(std::u16string_view text)
{
    std::string s;
    for (char16_t c : text) {
        s.push_back(static_cast<char>(c & 0xFF));
        s.push_back(static_cast<char>(c >> 8));
    }
    s.append(2, '\0');
    return s;
}

inline std::string dropFiles(const std::string& list, bool wide, std::uint32_t pFiles = 20)
{
    return le32(pFiles) + le32(0) + le32(0) + le32(0) + le32(wide ? 1 : 0) + list;
}

// A stream that states one size and delivers another.
class ShortStream final : public RefCounted<IStream>
{
public:
    ShortStream(std::string bytes, std::uint64_t statedSize) : m_bytes(std::move(bytes)), m_stated(statedSize) {}
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        const auto n = static_cast<ULONG>(std::min<std::size_t>(cb, m_bytes.size() - m_pos));
        std::memcpy(pv, m_bytes.data() + m_pos, n);
        m_pos += n;
        *pcbRead = n;
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(std::int64_t move, DWORD, std::uint64_t*) override
    {
        m_pos = static_cast<std::size_t>(move);
        return S_OK;
    }
    HRESULT SetSize(std::uint64_t) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, std::int64_t, std::uint64_t*, std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT Stat(STATSTG* st, DWORD) override
    {
        *st = STATSTG{};
        st->cbSize = m_stated;
        return S_OK;
    }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

private:
    std::string m_bytes;
    std::uint64_t m_stated;
    std::size_t m_pos = 0;
};

class ScriptedDataObject final : public RefCounted<IDataObject>
{
public:
    enum class Medium { Global, Stream, ShortStream, FailGet };

    struct Offer
    {
        CLIPFORMAT format;
        std::string bytes;
        Medium medium = Medium::Global;
    };

    static ComPtr<ScriptedDataObject> make(std::vector<Offer> offers)
    {
        auto object = ComPtr<ScriptedDataObject>::adopt(new ScriptedDataObject);
        object->offers = std::move(offers);
        return object;
    }

    std::vector<Offer> offers;
    std::vector<CLIPFORMAT> queried;  // QueryGetData, in order
    std::vector<CLIPFORMAT> fetched;  // GetData, in order
    struct Written
    {
        CLIPFORMAT format;
        DWORD tymed;
        std::string bytes;
    };
    std::vector<Written> written;  // SetData
    bool failEnum = false;

    bool wasFetched(CLIPFORMAT f) const { return std::count(fetched.begin(), fetched.end(), f) > 0; }
    bool wasQueried(CLIPFORMAT f) const { return std::count(queried.begin(), queried.end(), f) > 0; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDataObject) {
            *ppv = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetData(const FORMATETC* f, STGMEDIUM* m) override
    {
        fetched.push_back(f->cfFormat);
        const Offer* offer = find(f->cfFormat);
        if (offer == nullptr || offer->medium == Medium::FailGet) {
            return DV_E_FORMATETC;
        }
        *m = STGMEDIUM{};
        if (offer->medium == Medium::Global) {
            m->tymed = TYMED_HGLOBAL;
            m->hGlobal = GlobalAlloc(GMEM_MOVEABLE, offer->bytes.size());
            if (!offer->bytes.empty()) {
                std::memcpy(GlobalLock(m->hGlobal), offer->bytes.data(), offer->bytes.size());
                GlobalUnlock(m->hGlobal);
            }
        } else if (offer->medium == Medium::Stream) {
            m->tymed = TYMED_ISTREAM;
            m->pstm = new TFixedStreamAdapter(std::vector<std::uint8_t>(offer->bytes.begin(), offer->bytes.end()));
        } else {
            m->tymed = TYMED_ISTREAM;
            m->pstm = new ShortStream(offer->bytes, offer->bytes.size() + 8);
        }
        return S_OK;
    }

    HRESULT QueryGetData(const FORMATETC* f) override
    {
        queried.push_back(f->cfFormat);
        return find(f->cfFormat) != nullptr ? S_OK : DV_E_FORMATETC;
    }

    HRESULT SetData(const FORMATETC* f, STGMEDIUM* m, BOOL release) override
    {
        Written w{f->cfFormat, m->tymed, {}};
        if (m->tymed == TYMED_ISTREAM) {
            ComPtr<IStream> copy = ComPtr<IStream>::adopt(new TFixedStreamAdapter);
            std::uint64_t read = 0;
            std::uint64_t wrote = 0;
            m->pstm->CopyTo(copy.get(), -1, &read, &wrote);
            const auto& mem = static_cast<TFixedStreamAdapter*>(copy.get())->Memory();
            w.bytes.assign(mem.begin(), mem.end());
        } else if (m->tymed == TYMED_HGLOBAL) {
            w.bytes.assign(static_cast<const char*>(GlobalLock(m->hGlobal)), GlobalSize(m->hGlobal));
            GlobalUnlock(m->hGlobal);
        }
        written.push_back(w);
        if (release) {
            ReleaseStgMedium(m);
        }
        return S_OK;
    }

    HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** out) override;

private:
    const Offer* find(CLIPFORMAT f) const
    {
        for (const Offer& o : offers) {
            if (o.format == f) {
                return &o;
            }
        }
        return nullptr;
    }
};

class ScriptedEnumerator final : public RefCounted<IEnumFORMATETC>
{
public:
    explicit ScriptedEnumerator(std::vector<FORMATETC> formats) : m_formats(std::move(formats)) {}
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT Next(ULONG celt, FORMATETC* out, ULONG* fetched) override
    {
        ULONG n = 0;
        while (n < celt && m_pos < m_formats.size()) {
            out[n++] = m_formats[m_pos++];
        }
        if (fetched != nullptr) {
            *fetched = n;
        }
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT Reset() override
    {
        m_pos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumFORMATETC**) override { return E_NOTIMPL; }

private:
    std::vector<FORMATETC> m_formats;
    std::size_t m_pos = 0;
};

inline HRESULT ScriptedDataObject::EnumFormatEtc(DWORD, IEnumFORMATETC** out)
{
    if (failEnum) {
        *out = nullptr;
        return E_FAIL;
    }
    std::vector<FORMATETC> formats;
    for (const Offer& o : offers) {
        FORMATETC f;
        f.cfFormat = o.format;
        f.tymed = TYMED_HGLOBAL;
        formats.push_back(f);
    }
    *out = new ScriptedEnumerator(std::move(formats));
    return S_OK;
}

// Fake windows: each is a rectangle on the screen with an optional parent.
class FakeWindowServices final : public WindowServices
{
public:
    struct Window
    {
        HWND parent = nullptr;
        POINT origin;  // client origin on the screen
        LONG width = 100;
        LONG height = 40;
        LONG style = 0;
        bool exists = true;
    };

    std::map<HWND, Window> windows;
    HWND underCursor = nullptr;
    std::map<HWND, IDropTarget*> registered;
    std::vector<std::string> calls;
    std::map<HWND, WindowProxyClient*> proxies;
    std::map<UINT_PTR, std::pair<UINT, TimerProc>> timers;
    UINT_PTR lastTimer = 0;

    FakeWindowServices() { m_previous = SetWindowServices(this); }
    ~FakeWindowServices() override { SetWindowServices(m_previous); }
    FakeWindowServices(const FakeWindowServices&) = delete;
    FakeWindowServices& operator=(const FakeWindowServices&) = delete;

    HWND add(int id, Window w)
    {
        HWND h = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000 + 16 * id));
        windows[h] = w;
        return h;
    }

    // Fires the one running timer once.
    void tick()
    {
        if (!timers.empty()) {
            TimerProc proc = timers.begin()->second.second;
            proc();
        }
    }

    HWND windowFromPoint(POINT) override { return underCursor; }
    HWND parentOf(HWND h) override { return windows.count(h) ? windows[h].parent : nullptr; }
    bool isWindow(HWND h) override { return windows.count(h) != 0 && windows[h].exists; }
    bool screenToClient(HWND h, POINT& pt) override
    {
        pt.x -= windows[h].origin.x;
        pt.y -= windows[h].origin.y;
        return true;
    }
    bool clientToScreen(HWND h, POINT& pt) override
    {
        pt.x += windows[h].origin.x;
        pt.y += windows[h].origin.y;
        return true;
    }
    bool windowRect(HWND h, RECT& rc) override
    {
        const Window& w = windows[h];
        rc = RECT{w.origin.x, w.origin.y, w.origin.x + w.width, w.origin.y + w.height};
        return true;
    }
    bool clientRect(HWND h, RECT& rc) override
    {
        rc = RECT{0, 0, windows[h].width, windows[h].height};
        return true;
    }
    LONG windowLong(HWND h, int) override { return windows[h].style; }
    int systemMetrics(int) override { return 10; }
    LRESULT sendMessage(HWND, UINT msg, WPARAM wParam, LPARAM) override
    {
        calls.push_back((msg == WM_VSCROLL ? "V" : "H") + std::to_string(wParam));
        return 0;
    }
    bool isRichEdit(HWND) override { return false; }
    HRESULT registerDragDrop(HWND h, IDropTarget* t) override
    {
        if (registered.count(h)) {
            return DRAGDROP_E_ALREADYREGISTERED;
        }
        registered[h] = t;
        calls.push_back("register");
        return S_OK;
    }
    HRESULT revokeDragDrop(HWND h) override
    {
        calls.push_back("revoke");
        return registered.erase(h) ? S_OK : DRAGDROP_E_NOTREGISTERED;
    }
    HPROXY createWindowProxy(HWND control, WindowProxyClient* client) override
    {
        proxies[control] = client;
        if (isWindow(control)) {
            client->windowCreated();
        }
        return reinterpret_cast<HPROXY>(control);
    }
    void destroyWindowProxy(HPROXY p) override { proxies.erase(reinterpret_cast<HWND>(p)); }
    UINT_PTR setTimer(UINT ms, TimerProc proc) override
    {
        timers[++lastTimer] = {ms, std::move(proc)};
        return lastTimer;
    }
    bool killTimer(UINT_PTR id) override { return timers.erase(id) != 0; }

private:
    WindowServices* m_previous = nullptr;
};
