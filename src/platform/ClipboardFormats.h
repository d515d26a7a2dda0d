#pragma once

// The process-wide registry of clipboard formats: one number per name from
// 0xC000 on, names compared without regard to ASCII case.

#include "platform/WinTypes.h"

// The number for lpszFormat, registering it at first use; 0 for a null or
// empty name or when the 16-bit number space is used up.
UINT RegisterClipboardFormatA(const char* lpszFormat);

// Copies the registered name of format into lpszFormatName (at most
// cchMaxCount - 1 characters and a terminator) and returns the characters
// copied; 0 for predefined or unknown formats or a buffer of no size.
int GetClipboardFormatNameA(UINT format, char* lpszFormatName, int cchMaxCount);
