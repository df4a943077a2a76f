#include "tools/dsm/source_choice.h"

#include <cstring>

#include "tools/dsm/source_choice_ids.h"

namespace {

struct Choice {
    const std::vector<std::string>* names;
    size_t initial;
};

void onInit(HWND dialog, const Choice& choice) {
    HWND list = GetDlgItem(dialog, selectSourceListId);
    for (const std::string& name : *choice.names)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageA(list, LB_SETCURSEL, choice.initial, 0);
    SetFocus(list);
}

void onOk(HWND dialog) {
    LRESULT chosen = SendDlgItemMessageA(dialog, selectSourceListId, LB_GETCURSEL, 0, 0);
    if (chosen != LB_ERR)
        EndDialog(dialog, chosen + 1);  // 0 is left for Cancel
}

INT_PTR CALLBACK selectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        onInit(dialog, *reinterpret_cast<const Choice*>(lParam));
        return FALSE;  // focus set by onInit
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || (LOWORD(wParam) == selectSourceListId && HIWORD(wParam) == LBN_DBLCLK))
            onOk(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

HINSTANCE thisLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&selectProc), &self);
    return self;
}

}  // namespace

int askUserForSource(HWND owner, const std::vector<std::string>& names, size_t initial) {
    if (names.empty())
        return -2;
    Choice choice{&names, initial < names.size() ? initial : 0};
    // The dialog of the user's language (English or Japanese), from this library's resources.
    INT_PTR result = DialogBoxParamW(thisLibrary(), MAKEINTRESOURCEW(IDD_SELECT_SOURCE), owner, selectProc,
                                     reinterpret_cast<LPARAM>(&choice));
    if (result == -1)
        return -2;
    if (result <= 0 || static_cast<size_t>(result) > names.size())
        return -1;
    return static_cast<int>(result - 1);
}

std::string rememberedSource() {
    char name[64] = "";
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, rememberedSourceKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    LONG rc = RegQueryValueExA(key, rememberedSourceValue, nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return "";
    name[size < sizeof name ? size : sizeof name - 1] = '\0';
    return name;
}

void rememberSource(const char* productName) {
    if (rememberedSource() == productName)
        return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, rememberedSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, rememberedSourceValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(productName),
                   static_cast<DWORD>(std::strlen(productName) + 1));
    RegCloseKey(key);
}

bool windowOfThisProcess(HWND window) {
    DWORD process = 0;
    return GetWindowThreadProcessId(window, &process) != 0 && process == GetCurrentProcessId();
}
