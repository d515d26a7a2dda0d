#include "platform/qt/QtDataObject.h"

#include "platform/ClipboardFormats.h"
#include "platform/GlobalMemory.h"
#include "platform/Ole.h"
#include "platform/qt/QtFileNames.h"

#include <QMimeData>
#include <QUrl>

#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr std::string_view WindowsMimePrefix = "application/x-qt-windows-mime;value=\"";

struct OfferedFormat
{
    CLIPFORMAT format = 0;
    std::string bytes;
};

void appendWide(std::string& block, const QString& text)
{
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        block.push_back(static_cast<char>(unit & 0xFF));
        block.push_back(static_cast<char>(unit >> 8));
    }
    block.append(2, '\0');
}

std::string dropFilesBlock(const QStringList& files)
{
    DROPFILES header;
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::string block(sizeof header, '\0');
    std::memcpy(block.data(), &header, sizeof header);
    for (const QString& file : files) {
        appendWide(block, file);
    }
    block.append(2, '\0');
    return block;
}

class FormatEnumerator final : public RefCounted<IEnumFORMATETC>
{
public:
    explicit FormatEnumerator(std::vector<FORMATETC> formats, ULONG position = 0)
        : m_formats(std::move(formats)), m_position(position)
    {
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IEnumFORMATETC) {
            *ppv = static_cast<IEnumFORMATETC*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) override
    {
        if (rgelt == nullptr || (celt != 1 && pceltFetched == nullptr)) {
            return E_POINTER;
        }
        ULONG fetched = 0;
        while (fetched < celt && m_position < m_formats.size()) {
            rgelt[fetched++] = m_formats[m_position++];
        }
        if (pceltFetched != nullptr) {
            *pceltFetched = fetched;
        }
        return fetched == celt ? S_OK : S_FALSE;
    }

    HRESULT Skip(ULONG celt) override
    {
        const std::size_t left = m_formats.size() - m_position;
        m_position += static_cast<ULONG>(std::min<std::size_t>(celt, left));
        return celt <= left ? S_OK : S_FALSE;
    }

    HRESULT Reset() override
    {
        m_position = 0;
        return S_OK;
    }

    HRESULT Clone(IEnumFORMATETC** ppenum) override
    {
        if (ppenum == nullptr) {
            return E_POINTER;
        }
        *ppenum = new FormatEnumerator(m_formats, m_position);
        return S_OK;
    }

private:
    std::vector<FORMATETC> m_formats;
    ULONG m_position = 0;
};

} // namespace

class QtDataObject final : public RefCounted<IDataObject>
{
public:
    explicit QtDataObject(const QMimeData* mimeData)
    {
        if (mimeData != nullptr) {
            readFrom(*mimeData);
        }
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IDataObject) {
            *ppv = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetData(const FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override
    {
        if (pformatetcIn == nullptr || pmedium == nullptr) {
            return E_INVALIDARG;
        }
        *pmedium = STGMEDIUM{};
        const OfferedFormat* offered = nullptr;
        const HRESULT hr = check(*pformatetcIn, offered);
        if (FAILED(hr)) {
            return hr;
        }
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, offered->bytes.size());
        if (block == nullptr) {
            return E_OUTOFMEMORY;
        }
        if (!offered->bytes.empty()) {
            std::memcpy(GlobalLock(block), offered->bytes.data(), offered->bytes.size());
            GlobalUnlock(block);
        }
        pmedium->tymed = TYMED_HGLOBAL;
        pmedium->hGlobal = block;
        return S_OK;
    }

    HRESULT QueryGetData(const FORMATETC* pformatetc) override
    {
        if (pformatetc == nullptr) {
            return E_INVALIDARG;
        }
        const OfferedFormat* offered = nullptr;
        return check(*pformatetc, offered);
    }

    HRESULT SetData(const FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override
    {
        if (pformatetc == nullptr || pmedium == nullptr) {
            return E_INVALIDARG;
        }
        std::string bytes;
        if (!readMedium(*pmedium, bytes)) {
            return DV_E_TYMED;
        }
        if (pformatetc->cfFormat == RegisterClipboardFormatA("Performed DropEffect") && bytes.size() >= sizeof(DWORD)) {
            DWORD effect = 0;
            std::memcpy(&effect, bytes.data(), sizeof effect);
            m_performedEffect = effect;
            m_hasPerformedEffect = true;
        }
        m_setData[pformatetc->cfFormat] = std::move(bytes);
        if (fRelease) {
            ReleaseStgMedium(pmedium);
        }
        return S_OK;
    }

    HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override
    {
        if (ppenumFormatEtc == nullptr) {
            return E_POINTER;
        }
        *ppenumFormatEtc = nullptr;
        if (dwDirection != DATADIR_GET) {
            return E_NOTIMPL;
        }
        std::vector<FORMATETC> formats;
        for (const OfferedFormat& offered : m_formats) {
            FORMATETC f;
            f.cfFormat = offered.format;
            f.tymed = TYMED_HGLOBAL;
            formats.push_back(f);
        }
        *ppenumFormatEtc = new FormatEnumerator(std::move(formats));
        return S_OK;
    }

    bool performedEffect(DROPEFFECT& effect) const
    {
        effect = m_performedEffect;
        return m_hasPerformedEffect;
    }

private:
    void offer(CLIPFORMAT format, std::string bytes)
    {
        for (const OfferedFormat& offered : m_formats) {
            if (offered.format == format) {
                return;
            }
        }
        m_formats.push_back({format, std::move(bytes)});
    }

    void readFrom(const QMimeData& mimeData)
    {
        QStringList files;
        std::string firstName;
        for (const QUrl& url : mimeData.urls()) {
            std::string name;
            if (LocalFileNameOfUrl(url, name)) {
                if (files.isEmpty()) {
                    firstName = name;
                }
                files.push_back(QStringFromFileName(name));
            }
        }
        if (!files.isEmpty()) {
            offer(CF_HDROP, dropFilesBlock(files));
            std::string wide;
            appendWide(wide, files.front());
            offer(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileNameW")), std::move(wide));
            std::string narrow = firstName;
            narrow.push_back('\0');
            offer(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileName")), std::move(narrow));
        }
        for (const QString& mime : mimeData.formats()) {
            const std::string type = mime.toStdString();
            if (type.size() <= WindowsMimePrefix.size() + 1 || type.rfind(WindowsMimePrefix, 0) != 0
                || type.back() != '"') {
                continue;
            }
            const std::string name = type.substr(WindowsMimePrefix.size(), type.size() - WindowsMimePrefix.size() - 1);
            const UINT format = RegisterClipboardFormatA(name.c_str());
            if (format == 0) {
                continue;
            }
            const QByteArray data = mimeData.data(mime);
            offer(static_cast<CLIPFORMAT>(format), std::string(data.constData(), static_cast<std::size_t>(data.size())));
        }
    }

    HRESULT check(const FORMATETC& f, const OfferedFormat*& offered) const
    {
        for (const OfferedFormat& candidate : m_formats) {
            if (candidate.format == f.cfFormat) {
                offered = &candidate;
            }
        }
        if (offered == nullptr) {
            return DV_E_FORMATETC;
        }
        if (f.dwAspect != DVASPECT_CONTENT) {
            return DV_E_DVASPECT;
        }
        if (f.lindex != -1) {
            return DV_E_LINDEX;
        }
        if ((f.tymed & TYMED_HGLOBAL) == 0) {
            return DV_E_TYMED;
        }
        return S_OK;
    }

    static bool readMedium(const STGMEDIUM& medium, std::string& bytes)
    {
        if (medium.tymed == TYMED_HGLOBAL) {
            const std::size_t size = GlobalSize(medium.hGlobal);
            const void* p = GlobalLock(medium.hGlobal);
            if (p != nullptr) {
                bytes.assign(static_cast<const char*>(p), size);
                GlobalUnlock(medium.hGlobal);
            }
            return true;
        }
        if (medium.tymed == TYMED_ISTREAM && medium.pstm != nullptr) {
            STATSTG stat;
            if (FAILED(medium.pstm->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize > 0x10000) {
                return false;
            }
            bytes.assign(static_cast<std::size_t>(stat.cbSize), '\0');
            ULONG read = 0;
            if (FAILED(medium.pstm->Seek(0, STREAM_SEEK_SET, nullptr))
                || FAILED(medium.pstm->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read))) {
                return false;
            }
            bytes.resize(read);
            return true;
        }
        return false;
    }

    std::vector<OfferedFormat> m_formats;
    std::map<CLIPFORMAT, std::string> m_setData;
    DROPEFFECT m_performedEffect = DROPEFFECT_NONE;
    bool m_hasPerformedEffect = false;
};

std::string WindowsMimeType(std::string_view name)
{
    std::string type(WindowsMimePrefix);
    type.append(name);
    type.push_back('"');
    return type;
}

ComPtr<IDataObject> CreateQtDataObject(const QMimeData* mimeData)
{
    return ComPtr<IDataObject>::adopt(new QtDataObject(mimeData));
}

bool PerformedEffectOf(IDataObject* dataObject, DROPEFFECT& effect)
{
    const auto* ours = dynamic_cast<QtDataObject*>(dataObject);
    effect = DROPEFFECT_NONE;
    return ours != nullptr && ours->performedEffect(effect);
}
