#pragma once

// Diagnostic lines on the standard error stream. Nothing reads them; what
// matters is reported as statistics. Each call formats one line with a wide
// printf format (use %ls for wide strings: it means the same on every C
// runtime) and writes it as UTF-8, byte for byte, so "\r\n" stays "\r\n".
void DiagPrintf(const wchar_t* format, ...);

// Puts the standard error stream in binary mode (Windows); call once at start.
void DiagInit();
