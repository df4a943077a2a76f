// Drives an installer or uninstaller window from outside, as a user would: presses the page's
// main button (Next, Install, Uninstall, Close) whenever it is enabled, and answers its message
// boxes with Yes or No. Prints the text of every message box it answers.
//
// usage: nsis_driver.exe TITLE yes|no SECONDS
//   TITLE    the start of the windows' caption (the main window and its message boxes share it)
// exit status: 0 the main window was seen and has closed, 1 timed out, 2 bad command line
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string windowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

struct Search {
    std::string title;
    HWND mainWindow = nullptr;
    HWND messageBox = nullptr;
};

BOOL CALLBACK visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    char caption[256] = {};
    if (!IsWindowVisible(window) || !GetWindowTextA(window, caption, sizeof caption))
        return TRUE;
    if (std::strncmp(caption, search->title.c_str(), search->title.size()) != 0)
        return TRUE;
    // Message boxes belong to the main window, which has no owner.
    if (GetWindow(window, GW_OWNER))
        search->messageBox = window;
    else
        search->mainWindow = window;
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[2], "yes") != 0 && std::strcmp(argv[2], "no") != 0)) {
        std::fprintf(stderr, "usage: nsis_driver.exe TITLE yes|no SECONDS\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const int answer = std::strcmp(argv[2], "yes") == 0 ? IDYES : IDNO;
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;
    bool seen = false;
    while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
        Search search;
        search.title = argv[1];
        EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
        if (search.messageBox) {
            std::printf("Message box: %s\n", windowText(GetDlgItem(search.messageBox, 0xFFFF)).c_str());
            PostMessageA(search.messageBox, WM_COMMAND, GetDlgItem(search.messageBox, answer) ? answer : IDOK, 0);
        } else if (search.mainWindow) {
            seen = true;
            HWND next = GetDlgItem(search.mainWindow, IDOK);
            if (next && IsWindowEnabled(next) && IsWindowVisible(next)) {
                std::printf("Pressed: %s\n", windowText(next).c_str());
                PostMessageA(search.mainWindow, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(next));
            }
        } else if (seen) {
            return 0;
        }
        Sleep(300);
    }
    std::printf("Timed out\n");
    return 1;
}
