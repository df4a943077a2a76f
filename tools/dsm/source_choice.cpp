#include "tools/dsm/source_choice.h"

#include <cstring>

namespace {

struct Choice {
    const std::vector<std::string>* names;
    size_t initial;
};

// A DLGTEMPLATE in memory (the manager carries no resources): WORD-aligned items, each item
// DWORD-aligned, strings as UTF-16.
class TemplateWriter {
public:
    void word(WORD w) { words.push_back(w); }
    void dword(DWORD d) {
        word(LOWORD(d));
        word(HIWORD(d));
    }
    void text(const char* s) {
        while (*s)
            word(static_cast<unsigned char>(*s++));
        word(0);
    }
    void align() {
        if (words.size() % 2)
            word(0);
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const char* title) {
        align();
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        for (short v : {x, y, cx, cy})
            word(static_cast<WORD>(v));
        word(id);
        word(0xFFFF);
        word(classAtom);
        text(title);
        word(0);  // no creation data
    }
    std::vector<WORD> words;
};

std::vector<WORD> dialogTemplate() {
    TemplateWriter t;
    t.dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.dword(0);
    t.word(3);  // items
    for (short v : {0, 0, 180, 110})
        t.word(static_cast<WORD>(v));
    t.word(0);  // no menu
    t.word(0);  // the dialog class
    t.text(selectSourceTitle);
    t.word(8);
    t.text("MS Shell Dlg");
    t.item(LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 7, 7, 166, 76, selectSourceListId, 0x0083, "");
    t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 66, 89, 50, 14, IDOK, 0x0080, "OK");
    t.item(BS_PUSHBUTTON | WS_TABSTOP, 123, 89, 50, 14, IDCANCEL, 0x0080, "Cancel");
    return t.words;
}

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
    std::vector<WORD> words = dialogTemplate();
    Choice choice{&names, initial < names.size() ? initial : 0};
    INT_PTR result = DialogBoxIndirectParamA(thisLibrary(), reinterpret_cast<LPCDLGTEMPLATEA>(words.data()), owner,
                                             selectProc, reinterpret_cast<LPARAM>(&choice));
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
