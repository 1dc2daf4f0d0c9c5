// Read first by every translation unit of the Windows build: the system's ODBC headers
// take their base types (DWORD, HWND, ...) from <windows.h> without including it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
