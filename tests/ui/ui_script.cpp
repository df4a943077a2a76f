#include "tests/ui/ui_script.h"

#include <chrono>

#include "source/module.h"

namespace {

constexpr int messageBoxTextId = 0xFFFF;  // the static that holds a message box's text
constexpr int messageBoxIconId = 0x440;   // the static that holds its icon

std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct EnumState {
    const UiScript::Matcher* match;
    HWND found;
};

BOOL CALLBACK collectMatch(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<EnumState*>(param);
    if (IsWindowVisible(window) && (*state->match)(window)) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

constexpr UINT moveCursorMessage = WM_APP + 0x2C1;

LRESULT CALLBACK cursorMoverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != moveCursorMessage) return DefWindowProcA(window, message, wParam, lParam);
    const POINT to{static_cast<LONG>(wParam), static_cast<LONG>(lParam)};
    SetCursorPos(to.x, to.y);
    POINT at{};
    return GetCursorPos(&at) && at.x == to.x && at.y == to.y;
}

}  // namespace

UiScript::UiScript(DWORD deadlineMs) : uiThread(GetCurrentThreadId()), deadlineMs(deadlineMs) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = cursorMoverProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "DorvexUiScriptCursorMover";
    RegisterClassA(&windowClass);  // fails harmlessly when another script registered it
    cursorMover = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
}

UiScript::~UiScript() {
    stopping = true;
    if (helper.joinable()) helper.join();
    if (cursorMover) DestroyWindow(cursorMover);
}

bool UiScript::moveCursor(POINT to) {
    DWORD_PTR landed = 0;
    return cursorMover &&
           SendMessageTimeoutA(cursorMover, moveCursorMessage, static_cast<WPARAM>(to.x), static_cast<LPARAM>(to.y),
                               SMTO_NORMAL, 20000, &landed) &&
           landed;
}

UiScript& UiScript::step(const std::string& name, Matcher match, Action act, bool waitGone) {
    steps.push_back({name, std::move(match), std::move(act), waitGone});
    return *this;
}

UiScript& UiScript::answerBox(int buttonId) {
    return step(
        "box", isSourceMessageBox,
        [this, buttonId](HWND box) {
            note("box " + messageBoxText(box));
            postClick(box, buttonId);
        },
        true);
}

void UiScript::start() {
    helper = std::thread([this] { run(); });
}

bool UiScript::finish(DWORD timeoutMs) {
    pumpUntil([this] { return done >= steps.size() || expired; }, timeoutMs);
    stopping = true;
    if (helper.joinable()) helper.join();
    return done >= steps.size();
}

std::vector<std::string> UiScript::log() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}

void UiScript::note(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
}

HWND UiScript::findWindow(const Matcher& match) const {
    EnumState state{&match, nullptr};
    EnumThreadWindows(uiThread, collectMatch, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

void UiScript::run() {
    const auto start = std::chrono::steady_clock::now();
    auto elapsedMs = [&] {
        return static_cast<DWORD>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    };
    while (!stopping && done < steps.size()) {
        if (elapsedMs() > deadlineMs) {
            note("timeout waiting for step '" + steps[done].name + "'");
            expired = true;
            rescue();
            return;
        }
        const Step& current = steps[done];
        HWND window = findWindow(current.match);
        if (!window) {
            Sleep(20);
            continue;
        }
        // Let the window finish its initialisation (focus, texts) before acting on it.
        Sleep(50);
        current.act(window);
        if (current.waitGone) {
            while (!stopping && IsWindow(window) && IsWindowVisible(window) && elapsedMs() <= deadlineMs) Sleep(10);
        }
        note("step " + current.name);
        ++done;
    }
}

void UiScript::rescue() {
    // Close every window of the UI thread that would keep a modal loop running.
    for (int round = 0; round < 20; ++round) {
        HWND window = findWindow([](HWND w) { return className(w) == "#32770"; });
        if (!window) return;
        if (isSourceMessageBox(window)) {
            for (int id : {IDCANCEL, IDNO, IDOK})
                if (GetDlgItem(window, id)) {
                    postClick(window, id);
                    break;
                }
        } else {
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        Sleep(200);
    }
}

bool isSourceMessageBox(HWND window) {
    return className(window) == "#32770" && windowText(window) == loadString(57344) &&
           GetDlgItem(window, messageBoxTextId) != nullptr;
}

std::string messageBoxText(HWND box) {
    return itemText(box, messageBoxTextId);
}

std::string messageBoxButtons(HWND box) {
    const bool ok = GetDlgItem(box, IDOK), cancel = GetDlgItem(box, IDCANCEL);
    const bool yes = GetDlgItem(box, IDYES), no = GetDlgItem(box, IDNO);
    if (yes && no && !ok && !cancel) return "Yes/No";
    if (ok && cancel && !yes) return "OK/Cancel";
    if (ok && !cancel && !yes) return "OK";
    return "other";
}

std::string messageBoxIcon(HWND box) {
    const auto icon = reinterpret_cast<HICON>(SendDlgItemMessageA(box, messageBoxIconId, STM_GETICON, 0, 0));
    if (!icon) return "none";
    if (icon == LoadIcon(nullptr, IDI_EXCLAMATION)) return "!";
    if (icon == LoadIcon(nullptr, IDI_QUESTION)) return "?";
    if (icon == LoadIcon(nullptr, IDI_INFORMATION)) return "i";
    return "other";
}

bool isDialogWith(HWND window, int controlId) {
    return className(window) == "#32770" && GetDlgItem(window, controlId) != nullptr;
}

std::string windowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string itemText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? windowText(control) : std::string("<no control>");
}

std::string loadString(UINT id) {
    char text[1024] = {};
    LoadStringA(moduleInstance(), id, text, sizeof text);
    return text;
}

void postClick(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND focusOf(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
}

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void pumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    pumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 100);
}
