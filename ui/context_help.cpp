#include "ui/context_help.h"

#include "resources/resource_ids.h"
#include "ui/help_popup.h"
#include "ui/user_messages.h"

namespace {

// Window property that marks the help target. A property lives on its window only, so the mark
// needs no process-wide state and disappears with the window.
const char* const helpTargetProperty = "DorvexHelpTarget";

// Owner chains are short (help pop-up, information, acquire, camera dialog, application); the
// bound only protects against a cycle made by a foreign window.
constexpr int maxOwnerDepth = 16;

}  // namespace

int findControlUnderCursor(HWND dialog) {
    POINT cursor{};
    if (!dialog || !GetCursorPos(&cursor)) return 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const WORD id = static_cast<WORD>(GetDlgCtrlID(child));
        if (id == 0 || id == 0xFFFF) continue;
        if (!(GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) continue;
        RECT rect{};
        if (GetWindowRect(child, &rect) && PtInRect(&rect, cursor)) return id;
    }
    return 0;
}

UINT helpStringFor(const HelpEntry* table, size_t count, int id) {
    if (!table || id == 0) return 0;
    for (size_t i = 0; i < count; ++i)
        if (id >= table[i].firstId && id <= table[i].lastId) return table[i].stringId;
    return 0;
}

UINT showContextHelp(HWND dialog, const HelpEntry* table, size_t count) {
    const UINT stringId = helpStringFor(table, count, findControlUnderCursor(dialog));
    if (stringId == 0) return 0;
    HelpPopup popup(stringId, dialog);
    popup.run();
    return stringId;
}

void registerHelpTarget(HWND target) {
    if (target) SetPropA(target, helpTargetProperty, reinterpret_cast<HANDLE>(1));
}

void unregisterHelpTarget(HWND target) {
    if (target) RemovePropA(target, helpTargetProperty);
}

bool forwardHelpRequest(HWND dialog) {
    HWND window = dialog;
    for (int depth = 0; window && depth < maxOwnerDepth; ++depth) {
        if (GetPropA(window, helpTargetProperty)) {
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(ID_HELP_COMMAND, 0), 0);
            return true;
        }
        window = GetWindow(window, GW_OWNER);
    }
    return false;
}

bool runHelpCommand() {
    // A request that came from the F1 key shows nothing; only the caption's help button does.
    // The high bit means "down". The thread's own key state is asked first: under Wine 8 the
    // asynchronous state can still read "up" in the thread handling the key's own help request,
    // and asking for it overwrites the thread's state with that stale value.
    if ((GetKeyState(VK_F1) & 0x8000) || (GetAsyncKeyState(VK_F1) & 0x8000)) return false;
    HWND active = GetActiveWindow();
    if (!active) return false;
    SendMessageA(active, UM_CONTEXT_HELP, 0, 0);
    return true;
}
