#include "platform/ClipboardFormats.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr UINT FirstRegisteredFormat = 0xC000;
constexpr UINT LastRegisteredFormat = 0xFFFF;

struct Registry
{
    std::mutex mutex;
    std::vector<std::string> names;  // index i has number 0xC000 + i
};

Registry& registry()
{
    static Registry r;
    return r;
}

bool sameName(const std::string& a, const char* b)
{
    const std::size_t n = std::strlen(b);
    if (a.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

UINT RegisterClipboardFormatA(const char* lpszFormat)
{
    if (lpszFormat == nullptr || *lpszFormat == '\0') {
        return 0;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (std::size_t i = 0; i < r.names.size(); ++i) {
        if (sameName(r.names[i], lpszFormat)) {
            return FirstRegisteredFormat + static_cast<UINT>(i);
        }
    }
    if (r.names.size() > LastRegisteredFormat - FirstRegisteredFormat) {
        return 0;
    }
    r.names.emplace_back(lpszFormat);
    return FirstRegisteredFormat + static_cast<UINT>(r.names.size() - 1);
}

int GetClipboardFormatNameA(UINT format, char* lpszFormatName, int cchMaxCount)
{
    if (lpszFormatName == nullptr || cchMaxCount <= 0) {
        return 0;
    }
    lpszFormatName[0] = '\0';
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (format < FirstRegisteredFormat || format - FirstRegisteredFormat >= r.names.size()) {
        return 0;
    }
    const std::string& name = r.names[format - FirstRegisteredFormat];
    const std::size_t count = std::min(name.size(), static_cast<std::size_t>(cchMaxCount - 1));
    std::memcpy(lpszFormatName, name.data(), count);
    lpszFormatName[count] = '\0';
    return static_cast<int>(count);
}
