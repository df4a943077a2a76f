#include "tools/acquire/console_text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <io.h>
#include <string>
#include <vector>

namespace {

std::wstring wideFromAnsi(const char* text, int length) {
    if (length <= 0)
        return std::wstring();
    const int count = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    std::wstring wide(count > 0 ? count : 0, L'\0');
    if (count > 0)
        MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], count);
    return wide;
}

std::string utf8FromWide(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int length = static_cast<int>(wide.size());
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(count > 0 ? count : 0, '\0');
    if (count > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &text[0], count, nullptr, nullptr);
    return text;
}

}  // namespace

void say(const char* format, ...) {
    char small[1024];
    std::va_list args;
    va_start(args, format);
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0)
        return;
    std::vector<char> large;
    const char* text = small;
    if (static_cast<size_t>(length) >= sizeof small) {
        large.resize(static_cast<size_t>(length) + 1);
        va_start(args, format);
        std::vsnprintf(large.data(), large.size(), format, args);
        va_end(args);
        text = large.data();
    }
    const std::wstring wide = wideFromAnsi(text, length);
    // The handle behind the C library's stdout, so that a redirection of either is followed.
    std::fflush(stdout);
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const std::string utf8 = utf8FromWide(wide);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}
