// say: acquire.exe's one way to print a line. Texts come in the ANSI code page (the source's
// Japanese resources in code page 932); a terminal that expects UTF-8 would see those bytes as
// garbage. So the text is turned to UTF-16 and written with WriteConsoleW to a console, or
// as UTF-8 to a file or pipe.
#pragma once

#if defined(__GNUC__)
#define ACQUIRE_PRINTF_LIKE __attribute__((format(gnu_printf, 1, 2)))
#else
#define ACQUIRE_PRINTF_LIKE
#endif

void say(const char* format, ...) ACQUIRE_PRINTF_LIKE;
