#pragma once

// Global memory blocks: a handle table over heap blocks. A handle stays valid
// until GlobalFree; unknown or freed handles are refused (null, 0, FALSE)
// rather than trusted.

#include "platform/WinTypes.h"

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GMEM_DDESHARE = 0x2000;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A new block of dwBytes bytes (zero-filled); null when the memory cannot be had.
HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes);
// Pointer to the block's bytes, valid until GlobalFree; null for an unknown
// handle or a block of size 0.
void* GlobalLock(HGLOBAL hMem);
// FALSE once the lock count reaches 0 (as the platform does).
BOOL GlobalUnlock(HGLOBAL hMem);
// Exact size given at allocation; 0 for an unknown handle.
std::size_t GlobalSize(HGLOBAL hMem);
// Null on success, the handle when it was unknown.
HGLOBAL GlobalFree(HGLOBAL hMem);

// Number of live blocks, so tests can see that every medium was released.
std::size_t GlobalBlockCount();
