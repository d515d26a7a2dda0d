#include "platform/DebugOutput.h"

#include "platform/Ole.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

namespace {

struct SinkHolder
{
    std::mutex mutex;
    DebugOutputSink sink;
};

SinkHolder& holder()
{
    static SinkHolder h;
    return h;
}

bool debuggerAttached()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
        }
    }
    return false;
}

struct KnownInterface
{
    IID iid;
    const char* name;
};

constexpr KnownInterface KnownInterfaces[] = {
    {IID_IUnknown, "IUnknown"},
    {IID_IDataObject, "IDataObject"},
    {IID_IEnumFORMATETC, "IEnumFORMATETC"},
    {IID_IDropTarget, "IDropTarget"},
    {IID_IStream, "IStream"},
    {IID_ISequentialStream, "ISequentialStream"},
    {IID_IMalloc, "IMalloc"},
    {IID_IDropTargetHelper, "IDropTargetHelper"},
    {IID_IAsyncOperation, "IAsyncOperation"},
};

} // namespace

void OutputDebugStringA(const char* lpOutputString)
{
    if (lpOutputString == nullptr) {
        return;
    }
    DebugOutputSink sink;
    {
        SinkHolder& h = holder();
        std::lock_guard lock(h.mutex);
        sink = h.sink;
    }
    if (sink) {
        sink(lpOutputString);
    } else if (debuggerAttached()) {
        std::fputs(lpOutputString, stderr);
        std::fputc('\n', stderr);
    }
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink)
{
    SinkHolder& h = holder();
    std::lock_guard lock(h.mutex);
    std::swap(h.sink, sink);
    return sink;
}

LONG RegQueryValueA(HKEY hKey, const char* lpSubKey, char* lpData, LONG* lpcbData)
{
    constexpr std::string_view Prefix = "Interface\\";
    if (hKey != HKEY_CLASSES_ROOT || lpSubKey == nullptr || lpcbData == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string_view key(lpSubKey);
    if (key.size() != Prefix.size() + 38 || key.substr(0, Prefix.size()) != Prefix) {
        return ERROR_FILE_NOT_FOUND;
    }
    for (const KnownInterface& known : KnownInterfaces) {
        char text[39];
        StringFromGUID(known.iid, text);
        if (key.substr(Prefix.size()) != std::string_view(text, 38)) {
            continue;
        }
        const LONG needed = static_cast<LONG>(std::strlen(known.name) + 1);
        if (lpData == nullptr || *lpcbData < needed) {
            *lpcbData = needed;
            return lpData == nullptr ? ERROR_SUCCESS : ERROR_MORE_DATA;
        }
        std::memcpy(lpData, known.name, static_cast<std::size_t>(needed));
        *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}
