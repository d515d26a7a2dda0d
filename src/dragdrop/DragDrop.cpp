#include "dragdrop/DragDrop.h"

#include "dragdrop/DragDropFormats.h"
#include "platform/DebugOutput.h"
#include "platform/Ole.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

OleError::OleError(HRESULT code)
    : DragDropError(Format("OLE error %08X", static_cast<unsigned>(code))), m_code(code)
{
}

void OleCheck(HRESULT hr)
{
    if (FAILED(hr)) {
        throw OleError(hr);
    }
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

namespace {

// The name of an interface for the trace line: the registry's name of the
// interface, else the identifier text.
std::string InterfaceName(REFIID iid)
{
    char text[39];
    StringFromGUID(iid, text);
    char name[256];
    LONG size = sizeof name;
    const std::string key = std::string("Interface\\") + text;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), name, &size) == ERROR_SUCCESS && size > 0) {
        return std::string(name, strnlen(name, sizeof name));
    }
    return text;
}

} // namespace

HRESULT TInterfacedComponent::QueryInterface(REFIID riid, void** ppv)
{
    HRESULT result = E_NOINTERFACE;
    if (ppv == nullptr) {
        result = E_POINTER;
    } else if (GetInterface(riid, ppv)) {
        AddRef();
        result = S_OK;
    } else {
        *ppv = nullptr;
    }
    const int returned = (ppv != nullptr && *ppv != nullptr) ? 1 : 0;
    OutputDebugStringA(
        Format("%s.QueryInterface(%s): %d (%d)", ClassName(), InterfaceName(riid).c_str(), result, returned).c_str());
    return result;
}

bool TInterfacedComponent::GetInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
        return true;
    }
    return false;
}

ULONG TInterfacedComponent::AddRef()
{
    if (auto* owner = dynamic_cast<IUnknown*>(Owner())) {
        return owner->AddRef();
    }
    return static_cast<ULONG>(-1);
}

ULONG TInterfacedComponent::Release()
{
    if (auto* owner = dynamic_cast<IUnknown*>(Owner())) {
        return owner->Release();
    }
    return static_cast<ULONG>(-1);
}

int TDataFormats::Add(TCustomDataFormat* format)
{
    const auto it = std::find(m_formats.begin(), m_formats.end(), format);
    if (it != m_formats.end()) {
        return static_cast<int>(it - m_formats.begin());
    }
    m_formats.push_back(format);
    return static_cast<int>(m_formats.size() - 1);
}

void TDataFormats::Remove(TCustomDataFormat* format)
{
    m_formats.erase(std::remove(m_formats.begin(), m_formats.end(), format), m_formats.end());
}
