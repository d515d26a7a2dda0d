#pragma once

// A minimal shell namespace for item-ID lists. The desktop is the file-system
// root "/"; every item of a list carries one path component:
//
//   item := cb (16-bit little-endian, counting its own two bytes) kind name...
//   list := item* 0x00 0x00
//
// kind is ShellItemFileSystem for a component of a file-system path; any
// other kind is a virtual item, which has no file-system path.

#include "platform/WinTypes.h"

#include <string>
#include <string_view>

struct ITEMIDLIST;  // only ever used through pointers to its first byte

inline constexpr int MAX_PATH = 260;
inline constexpr BYTE ShellItemFileSystem = 0x01;
inline constexpr BYTE ShellItemVirtual = 0x02;

// Writes the file-system path of the absolute list pidl into pszPath, which
// must hold MAX_PATH characters: "/" plus the components joined with "/".
// FALSE, with pszPath empty, for a null list, a virtual item, a component
// that is empty, "." or "..", or holds "/" or a zero byte, or a path that
// does not fit. pidl must be a well-formed list (terminated; every cb >= 3).
BOOL SHGetPathFromIDListA(const ITEMIDLIST* pidl, char* pszPath);

// The shell's task allocator.
HRESULT SHGetMalloc(IMalloc** ppMalloc);

// Builders for well-formed lists (as byte strings with their terminator).
std::string MakeShellItem(BYTE kind, std::string_view name);
std::string MakeItemIdList(std::string_view itemsWithoutTerminator);
// The absolute list of an absolute path ("/a/b" -> items "a", "b"); the
// empty list (the desktop) for "/".
std::string ItemIdListFromPath(std::string_view path);

inline const ITEMIDLIST* AsItemIdList(const std::string& bytes)
{
    return reinterpret_cast<const ITEMIDLIST*>(bytes.data());
}
