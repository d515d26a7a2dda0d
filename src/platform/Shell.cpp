#include "platform/Shell.h"

#include "platform/ComPtr.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace {

class TaskAllocator final : public RefCounted<IMalloc>
{
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IMalloc) {
            *ppv = static_cast<IMalloc*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    void* Alloc(std::size_t cb) override { return std::malloc(cb == 0 ? 1 : cb); }
    void Free(void* pv) override { std::free(pv); }
};

std::uint16_t readCount(const BYTE* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

BOOL SHGetPathFromIDListA(const ITEMIDLIST* pidl, char* pszPath)
{
    if (pszPath == nullptr) {
        return FALSE;
    }
    pszPath[0] = '\0';
    if (pidl == nullptr) {
        return FALSE;
    }
    // The path is assembled in a local buffer of the caller's size, so an
    // item list that would give a longer path fails before anything is copied.
    std::array<char, MAX_PATH> path{};
    std::size_t length = 0;
    const auto* p = reinterpret_cast<const BYTE*>(pidl);
    for (std::uint16_t cb = readCount(p); cb != 0; p += cb, cb = readCount(p)) {
        if (cb < 3 || p[2] != ShellItemFileSystem) {
            return FALSE;
        }
        const std::string_view name(reinterpret_cast<const char*>(p + 3), cb - 3u);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos
            || name.find('\0') != std::string_view::npos) {
            return FALSE;
        }
        if (length + 1 + name.size() >= MAX_PATH) {
            return FALSE;
        }
        path[length++] = '/';
        std::copy(name.begin(), name.end(), path.begin() + static_cast<std::ptrdiff_t>(length));
        length += name.size();
    }
    if (length == 0) {
        path[length++] = '/';
    }
    std::copy_n(path.begin(), length, pszPath);
    pszPath[length] = '\0';
    return TRUE;
}

HRESULT SHGetMalloc(IMalloc** ppMalloc)
{
    if (ppMalloc == nullptr) {
        return E_POINTER;
    }
    *ppMalloc = new TaskAllocator;
    return S_OK;
}

std::string MakeShellItem(BYTE kind, std::string_view name)
{
    const std::size_t cb = name.size() + 3;
    std::string item;
    item.push_back(static_cast<char>(cb & 0xFF));
    item.push_back(static_cast<char>((cb >> 8) & 0xFF));
    item.push_back(static_cast<char>(kind));
    item.append(name);
    return item;
}

std::string MakeItemIdList(std::string_view itemsWithoutTerminator)
{
    std::string list(itemsWithoutTerminator);
    list.append(2, '\0');
    return list;
}

std::string ItemIdListFromPath(std::string_view path)
{
    std::string items;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            items += MakeShellItem(ShellItemFileSystem, path.substr(start, end - start));
        }
        start = end + 1;
    }
    return MakeItemIdList(items);
}
