// Text conversion of the simulation (kernel32). The simulation's ANSI code page is UTF-8, as its narrow
// texts are everywhere else. Modelled: counting and converting, with or without the terminator
// (cchWideChar -1), too small buffers, unpaired surrogates (U+FFFD, or ERROR_NO_UNICODE_TRANSLATION with
// WC_ERR_INVALID_CHARS) and the flag and default-character rules of an explicit CP_UTF8.
// Not modelled: other code pages (ERROR_INVALID_PARAMETER), composition: WC_COMPOSITECHECK is accepted
// with CP_ACP, as with a single-byte ANSI code page, and changes nothing.
#pragma once

#include "winsim/kernel/types.h"

typedef BOOL* LPBOOL;

#define CP_ACP 0
#define CP_UTF8 65001

#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400

#define ERROR_INVALID_FLAGS 1004L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

// Returns the bytes written (with cbMultiByte 0: the bytes needed), including the terminator when
// cchWideChar is -1; 0 and the last error on failure (ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER,
// ERROR_INVALID_FLAGS, ERROR_NO_UNICODE_TRANSLATION). A failure for a too small buffer leaves what fitted
// written.
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);
