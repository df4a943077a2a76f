#include "tests/ui/screenshot.h"

#include <cstdio>
#include <cstdlib>

std::string languageSuffix() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? "_ja" : "_en";
}

bool takeScreenshot(const std::string& name, HWND window) {
    const char* dir = std::getenv("DORVEX_SHOT_DIR");
    RECT r{};
    if (!dir || !GetWindowRect(window, &r)) return false;
    const std::string base = std::string(dir) + "\\" + name + languageSuffix();
    // Written under another name and renamed, so that the wrapper never reads half a request.
    const std::string temp = base + ".tmp", request = base + ".req", picture = base + ".png";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::fclose(f);
    if (!MoveFileA(temp.c_str(), request.c_str())) return false;
    for (int i = 0; i < 150; ++i) {
        if (GetFileAttributesA(picture.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(100);
    }
    return false;
}
