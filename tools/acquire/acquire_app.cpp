#include "tools/acquire/acquire_app.h"

#include <cstdio>
#include <vector>

#include "tools/acquire/capability_reader.h"
#include "tools/acquire/console_text.h"
#include "tools/acquire/image_transfer.h"
#include "tools/acquire/picture.h"
#include "resources/resource_ids.h"
#include "tools/acquire/twain_names.h"

namespace {

constexpr char windowClass[] = "AcquireAppWindow";
constexpr UINT tickMs = 100;
// --callback-lazy: the tick, sent to our window from the ticker's thread.
constexpr UINT sentTickMessage = WM_APP + 1;
// After the deadline the loops get this long to wind down before the process just exits:
// a source stuck in a modal loop must not keep us forever.
constexpr DWORD graceMs = 15000;

void printIdentity(const TW_IDENTITY& id) {
    say("Source: %s\n", twainText(id.ProductName).c_str());
    say("  Id: %u\n", static_cast<unsigned>(id.Id));
    say("  Manufacturer: %s\n", twainText(id.Manufacturer).c_str());
    say("  Product family: %s\n", twainText(id.ProductFamily).c_str());
    say("  Version: %u.%u \"%s\" (language %u, country %u)\n", id.Version.MajorNum, id.Version.MinorNum,
        twainText(id.Version.Info).c_str(), id.Version.Language, id.Version.Country);
    say("  Protocol: %u.%u\n", id.ProtocolMajor, id.ProtocolMinor);
    say("  Supported groups: 0x%X\n", static_cast<unsigned>(id.SupportedGroups));
}

bool timePassed(DWORD now, DWORD when) { return static_cast<LONG>(now - when) >= 0; }

BOOL CALLBACK countShown(HWND hwnd, LPARAM count) {
    if (IsWindowVisible(hwnd))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// Windows of this thread on screen: ours is never shown, so these are the source's (its
// dialogs, message boxes, progress window).
int shownWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), countShown, reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace

AcquireApp::AcquireApp(const AcquireOptions& options) : options(options) {}

AcquireApp::~AcquireApp() {
    if (window)
        DestroyWindow(window);
}

int AcquireApp::run() {
    std::string error;
    if (!createWindow()) {
        say("Cannot create the application window\n");
        return ExitFailure;
    }
    // A picture that cannot be saved is found out before the source is even opened.
    if (!outputFolderWritable(error)) {
        say("%s\n", error.c_str());
        return ExitFailure;
    }
    const std::string manager = options.manager.empty() ? defaultManager() : options.manager;
    if (!client.load(manager, error)) {
        say("%s\n", error.c_str());
        return ExitFailure;
    }
    if (client.managerIsWines())
        say("Source Manager: %s (Wine's own, loaded when %s was asked for)\n"
            "  Wine's own manager lists only Wine's sources. To use ours, put our %s\n"
            "  in system32 (syswow64 in a 64-bit prefix) or beside acquire.exe and run with\n"
            "  WINEDLLOVERRIDES=\"twain_32=n\" (or name it with --manager FILE).\n",
            client.managerPath().c_str(), manager.c_str(), manager.c_str());
    else
        say("Source Manager: %s\n", client.managerPath().c_str());
    if (options.parent == ParentMode::Thread && !parentThread.start()) {
        say("Cannot create the parent window's thread\n");
        return ExitFailure;
    }
    deadline = GetTickCount() + static_cast<DWORD>(options.timeoutSeconds) * 1000;
    if (options.callbackLazy)
        sentTicker.start(window, sentTickMessage, tickMs);
    else
        SetTimer(window, 1, tickMs, timerProc);
    if (startSession())
        messageLoop();
    else
        failTwain();
    KillTimer(window, 1);
    sentTicker.stop();
    endSession();
    if (probe.running()) {
        const DWORD longest = probe.stop();
        say("Longest wait for the thread to answer: %lu ms (%lu ms after the act)\n",
            static_cast<unsigned long>(longest), static_cast<unsigned long>(probe.longestAfterStart()));
    }
    // An act whose moment never came (no question asked, a listing over before a tick) is a
    // run that did not test what it was asked to.
    if (options.rude != RudeAct::None && !rudeDone) {
        say("Rude act %s did not happen: its moment never came\n", options.rudeName.c_str());
        if (exitStatus != ExitFailure && exitStatus != ExitTimedOut)
            exitStatus = ExitRudeMissed;
    }
    return exitStatus;
}

// The folder of --out takes a new file (a scratch file made and removed there).
bool AcquireApp::outputFolderWritable(std::string& error) const {
    if (options.autoMode == AutoMode::Status)
        return true;  // nothing is saved
    const std::string& path = options.outPath;
    const size_t slash = path.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char scratch[MAX_PATH + 16];
    // Without its last separator (but a drive's root keeps it), so that a file in the folder's
    // place is seen as the file it is.
    std::string named = folder;
    if (named.size() > 1 && named[named.size() - 2] != ':')
        named.pop_back();
    const DWORD attributes = GetFileAttributesA(named.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const DWORD code = GetLastError();
        error = "cannot write " + path + ": " +
                (attributes != INVALID_FILE_ATTRIBUTES ? named + " is a file, not a folder"
                 : code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                     ? "the folder " + folder + " does not exist"
                     : "the folder " + folder + " cannot be reached (error " + std::to_string(code) + ")");
        return false;
    }
    if (!GetTempFileNameA(folder.c_str(), "acq", 0, scratch)) {
        error = "cannot write " + path + ": the folder " + folder + " does not take new files (error " +
                std::to_string(GetLastError()) + ")";
        return false;
    }
    DeleteFileA(scratch);
    return true;
}

bool AcquireApp::createWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = windowClass;
    RegisterClassA(&wc);
    // Top-level and never shown: the parent of the source's dialogs and the target of the
    // Source Manager's wake-up messages.
    window = CreateWindowA(windowClass, "acquire", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200, 100,
                           nullptr, nullptr, wc.hInstance, nullptr);
    if (window)
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return window != nullptr;
}

// The window that the Source Manager and the source get as the application's. Our own
// window stays the target of our timer in every mode.
HWND AcquireApp::twainParent() const {
    switch (options.parent) {
    case ParentMode::None:
        return nullptr;
    case ParentMode::Thread:
        return parentThread.window();
    default:
        return window;
    }
}

bool AcquireApp::startSession() {
    if (options.app2)
        client.actAsApp2(options.callbackLazy ? nullptr : window);
    if (!client.openManager(twainParent()))
        return false;
    std::vector<TW_IDENTITY> sources;
    if (!client.listSources(sources))
        return false;
    say("Sources:\n");
    for (const TW_IDENTITY& id : sources)
        say("  %s (%s, %s)\n", twainText(id.ProductName).c_str(), twainText(id.Manufacturer).c_str(),
            twainText(id.Version.Info).c_str());
    if (!openChosenSource(sources))
        return false;
    printIdentity(client.sourceIdentity());
    if (!negotiate())
        return false;
    if (!client.enableSource(twainParent(), options.showUI))
        return false;
    say("Source enabled\n");
    if (options.autoMode != AutoMode::None)
        driver = std::make_unique<DialogDriver>(options);
    return true;
}

// --open-by id: the Id that the manager listed for that name, and nothing else, names the
// source, as applications that offer their own list of sources do.
bool AcquireApp::openChosenSource(const std::vector<TW_IDENTITY>& sources) {
    if (options.openBy == OpenBy::Name)
        return client.openSource(options.source);
    for (const TW_IDENTITY& id : sources) {
        if (options.source == twainText(id.ProductName)) {
            say("Opening \"%s\" by its Id %u\n", twainText(id.ProductName).c_str(),
                static_cast<unsigned>(id.Id));
            return client.openSourceById(id.Id);
        }
    }
    client.noteFailure("no source named \"" + options.source + "\" is listed");
    return false;
}

bool AcquireApp::negotiate() {
    bool memory = options.mechanism == TransferMechanism::Memory;
    TW_UINT16 wanted = memory ? TWSX_MEMORY : TWSX_NATIVE;
    if (!setOneValue(client, ICAP_XFERMECH, TWTY_UINT16, wanted))
        return false;
    CapabilityValues values;
    if (!readCapability(client, ICAP_XFERMECH, MSG_GETCURRENT, values))
        return false;
    if (values.items.size() != 1 || values.items[0] != wanted) {
        client.noteFailure("ICAP_XFERMECH reads back " + describeValues(ICAP_XFERMECH, values) + " after setting " +
                           std::to_string(wanted));
        return false;
    }
    say("Transfer mechanism: %s\n", memory ? "memory" : "native");
    for (TW_UINT16 cap : {CAP_SUPPORTEDCAPS, ICAP_PIXELTYPE, ICAP_BITDEPTH, ICAP_XFERMECH}) {
        if (!readCapability(client, cap, MSG_GET, values))
            return false;
        say("%s: %s\n", capabilityName(cap).c_str(), describeValues(cap, values).c_str());
    }
    return true;
}

void AcquireApp::messageLoop() {
    MSG msg;
    // After the time-out nothing more is taken: a source whose modal loops the WM_QUIT ended
    // may still signal a transfer on its way out.
    while (!finished && !timedOut) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;  // WM_QUIT: the deadline passed (exit status set by onTimer)
        // A 2.x manager's callback only recorded its notifications; they are acted on here.
        TW_UINT16 notification = MSG_NULL;
        while (!finished && client.takeCallbackNotification(notification))
            onNotification(notification);
        if (finished)
            break;
        // A console application has no window of its own: every message it passes to the
        // source is the source's or the manager's. With --parent none|thread our hidden window
        // (the timer's) stands outside TWAIN, so its messages do not go to the source.
        if (options.parent != ParentMode::Own && msg.hwnd == window) {
            DispatchMessageA(&msg);
            continue;
        }
        if (client.sourceEnabled() && client.processEvent(msg, notification)) {
            if (notification != MSG_NULL)
                onNotification(notification);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void AcquireApp::onNotification(TW_UINT16 msg) {
    if (msg == MSG_XFERREADY) {
        say("MSG_XFERREADY\n");
        // A close asked for during the download wins: the pending transfer is not taken.
        if (driver && driver->closeWanted() && !closing)
            return closeWhileBusy();
        // The same for a destroy during the download: the source held the thread until now.
        if (driver && driver->rudeWanted() && !rudeDone)
            return actRudely();
        takePicture();
    } else if (msg == MSG_CLOSEDSREQ) {
        say("MSG_CLOSEDSREQ: the source asks to be closed\n");
        finish(driver && driver->reportDone() ? ExitPicture : ExitNoPicture);
    }
}

void AcquireApp::takePicture() {
    TW_IMAGEINFO info;
    if (!askImageInfo(client, info))
        return failTwain();
    say("Image: %d x %d, %d bits per pixel, %d samples, pixel type %d\n", static_cast<int>(info.ImageWidth),
        static_cast<int>(info.ImageLength), info.BitsPerPixel, info.SamplesPerPixel, info.PixelType);
    if (info.BitsPerPixel != 24 || info.SamplesPerPixel != 3 || info.PixelType != TWPT_RGB) {
        client.noteFailure("DAT_IMAGEINFO: only 24-bit RGB pictures are taken");
        return failTwain();
    }
    Picture picture;
    bool received = options.mechanism == TransferMechanism::Memory ? receiveMemory(client, info, picture)
                                                                  : receiveNative(client, picture);
    if (!received)
        return failTwain();
    if (picture.width() != info.ImageWidth || picture.height() != info.ImageLength) {
        client.noteFailure("the picture received is " + std::to_string(picture.width()) + " x " +
                           std::to_string(picture.height()) + ", not the size DAT_IMAGEINFO gave");
        return failTwain();
    }
    if (!endTransfer(client))
        return failTwain();
    std::string error;
    std::string path = picturePath();
    if (!writeBmp(path, picture, error)) {
        say("%s\n", error.c_str());
        return finish(ExitFailure);
    }
    size_t bytes = encodeBmp(picture).size();
    say("Saved %d x %d picture (%zu bytes) to %s\n", picture.width(), picture.height(), bytes,
        path.c_str());
    // --auto all goes on with the next picture; the driver ends the session after the last.
    if (options.autoMode == AutoMode::All && driver) {
        driver->pictureTaken();
        return;
    }
    finish(ExitPicture);
}

// FILE.bmp, or FILE-NN.bmp for list position NN with --auto all.
std::string AcquireApp::picturePath() const {
    if (options.autoMode != AutoMode::All || !driver)
        return options.outPath;
    std::string path = options.outPath;
    size_t slash = path.find_last_of("/\\");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        dot = path.size();
    char number[16];
    std::snprintf(number, sizeof number, "-%02d", driver->listPosition());
    return path.substr(0, dot) + number + path.substr(dot);
}

// --close-during: the application closes the source while the source is running one of its
// own loops (this runs from our timer, dispatched by that loop). The manager refuses to close
// a source from inside one of its calls, so the close is tried at once and then again by
// endSession once WM_QUIT has unwound the source's loops back to ours.
void AcquireApp::closeWhileBusy() {
    closing = true;
    if (client.disableSource())
        say("MSG_DISABLEDS during the source's loop: done\n");
    else
        say("MSG_DISABLEDS during the source's loop: %s\n", client.failureText().c_str());
    say("Source windows shown after MSG_DISABLEDS: %d\n", shownWindows());
    if (client.closeSource())
        say("MSG_CLOSEDS during the source's loop: done\n");
    else
        say("MSG_CLOSEDS during the source's loop: %s\n", client.failureText().c_str());
    say("Source windows shown after MSG_CLOSEDS: %d\n", shownWindows());
    client.noteFailure("");
    finish(ExitNoPicture);
    PostQuitMessage(0);
}

// --rude: the application misbehaves from inside one of the source's loops (this runs from our
// timer, dispatched by that loop), as real applications do.
void AcquireApp::actRudely() {
    rudeDone = true;
    // From now on: whatever the source does about the act, our thread must keep answering. Not
    // for the acts that end the process at once: there is nothing to measure, and a probe thread
    // cut off by the exit in the middle of a send to this thread is the likely cause of crashes
    // seen at such exits under Wine on a busy machine.
    if (options.rude != RudeAct::ExitOpen && options.rude != RudeAct::ExitListing) probe.start();
    switch (options.rude) {
    case RudeAct::DestroyListing:
    case RudeAct::DestroyQuestion:
    case RudeAct::DestroySettings:
    case RudeAct::DestroyDownload: {
        // As most applications do on WM_CLOSE; the source's dialogs are owned by this window.
        HWND doomed = window;
        window = nullptr;
        DestroyWindow(doomed);
        say("Main window destroyed\n");
        std::fflush(stdout);
        finish(ExitNoPicture);
        PostQuitMessage(0);
        return;
    }
    case RudeAct::CloseQuestion:
    case RudeAct::CloseSettings:
    case RudeAct::CloseListing:
    case RudeAct::CloseDownload:
        return closeWhileBusy();
    case RudeAct::UnloadEnabled:
        return unloadEnabled();
    case RudeAct::DisableSubdialog: {
        HWND acquire = driver ? driver->acquireWindow() : nullptr;
        if (client.disableSource())
            say("MSG_DISABLEDS with the acquire dialog open: done\n");
        else
            say("MSG_DISABLEDS with the acquire dialog open: %s\n", client.failureText().c_str());
        say("Source windows shown after MSG_DISABLEDS: %d\n", shownWindows());
        // The user goes on with the dialog as if nothing happened.
        if (acquire && IsWindow(acquire) && pressButton(acquire, IDC_AQUIRE))
            say("Pressed Aquire after the disable\n");
        reenableTicks = 20;
        return;
    }
    case RudeAct::ExitOpen:
        say("Exiting with the source enabled\n");
        std::fflush(stdout);
        ExitProcess(ExitNoPicture);
    case RudeAct::ExitListing:
        say("Exiting while the source lists\n");
        std::fflush(stdout);
        ExitProcess(ExitNoPicture);
    case RudeAct::DisableListing:
        if (client.disableSource())
            say("MSG_DISABLEDS during the listing: done\n");
        else
            say("MSG_DISABLEDS during the listing: %s\n", client.failureText().c_str());
        std::fflush(stdout);
        reenableTicks = 20;
        return;
    default:
        return;
    }
}

namespace {

DWORD WINAPI closeManagerThread(void* client) {
    return static_cast<TwainClient*>(client)->closeManager() ? 0 : 1;
}

// Handles this thread's messages for ms milliseconds, or until handle is signalled; true when
// it was. Nothing goes through the Source Manager.
bool pumpFor(DWORD ms, HANDLE handle) {
    const DWORD until = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const LONG left = static_cast<LONG>(until - GetTickCount());
        if (left <= 0)
            return false;
        const DWORD woken = MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, static_cast<DWORD>(left),
                                                      QS_ALLINPUT);
        if (handle && woken == WAIT_OBJECT_0)
            return true;
    }
}

BOOL CALLBACK repaintWindow(HWND hwnd, LPARAM count) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageA(hwnd, WM_NULL, 0, 0);
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

}  // namespace

// unload-enabled: another thread of the application closes the manager while the source is
// enabled (a manager that unloads the sources left open then frees it there, under that
// thread's loader lock); this thread goes on handling its messages and repaints its windows,
// the source's included, as any application's would. Then the process exits.
void AcquireApp::unloadEnabled() {
    HANDLE thread = CreateThread(nullptr, 0, closeManagerThread, &client, 0, nullptr);
    if (!thread) {
        say("Cannot start the closing thread\n");
        return finish(ExitFailure);
    }
    const bool ended = pumpFor(30000, thread);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    if (!ended) {
        say("MSG_CLOSEDSM from another thread did not return\n");
    } else {
        say("MSG_CLOSEDSM from another thread with the source enabled: %s\n",
            code == 0 ? "done" : client.failureText().c_str());
    }
    std::fflush(stdout);
    int windows = 0;
    for (int round = 0; round < 10; ++round) {
        windows = 0;
        EnumThreadWindows(GetCurrentThreadId(), repaintWindow, reinterpret_cast<LPARAM>(&windows));
        pumpFor(200, nullptr);
    }
    say("Repainted %d windows after the unload; exiting\n", windows);
    std::fflush(stdout);
    ExitProcess(ExitNoPicture);
}

// disable-subdialog: two seconds after the disable the source is enabled again, which must
// find it in state 4 (no transfer signalled behind the application's back).
void AcquireApp::afterRudeAct() {
    if (options.rude == RudeAct::DisableListing)
        return afterDisableListing();
    if (options.rude != RudeAct::DisableSubdialog || reenableTicks <= 0)
        return;
    if (--reenableTicks > 0)
        return;
    if (client.enableSource(window, true)) {
        say("MSG_ENABLEDS after the disable: done\n");
    } else {
        say("MSG_ENABLEDS after the disable: %s\n", client.failureText().c_str());
        client.noteFailure("");
    }
    finish(ExitNoPicture);
}

// disable-listing: two seconds after the disable (the source may still be stopping its listing)
// the source is enabled again; its new camera dialog must connect once the old one let go.
void AcquireApp::afterDisableListing() {
    if (reenableTicks > 0) {
        if (--reenableTicks > 0)
            return;
        if (client.enableSource(window, true)) {
            say("MSG_ENABLEDS after the disable: done\n");
            reconnectTicks = 900;
        } else {
            say("MSG_ENABLEDS after the disable: %s\n", client.failureText().c_str());
            client.noteFailure("");
            finish(ExitNoPicture);
        }
        std::fflush(stdout);
        return;
    }
    if (reconnectTicks <= 0)
        return;
    HWND setting = nullptr;
    for (HWND hwnd = FindWindowExA(nullptr, nullptr, nullptr, nullptr); hwnd && !setting;
         hwnd = FindWindowExA(nullptr, hwnd, nullptr, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(hwnd) && GetDlgItem(hwnd, IDC_OPEN))
            setting = GetDlgItem(hwnd, IDC_SETTING);
    }
    if (setting && IsWindowEnabled(setting)) {
        say("Connected again after the enable\n");
        reconnectTicks = 0;
        finish(ExitNoPicture);
    } else if (--reconnectTicks == 0) {
        say("Not connected again after the enable\n");
        finish(ExitNoPicture);
    }
}

void AcquireApp::failTwain() {
    say("TWAIN failure: %s\n", client.failureText().c_str());
    finish(ExitFailure);
}

void AcquireApp::finish(int status) {
    // A run that timed out says so, whatever the source did while its loops unwound.
    exitStatus = timedOut ? ExitTimedOut : status;
    finished = true;
}

// Disables and closes whatever is still open; a failure here spoils a successful run.
void AcquireApp::endSession() {
    bool ok = true;
    if (client.sourceEnabled())
        ok = client.disableSource() && ok;
    if (client.sourceOpen())
        ok = client.closeSource() && ok;
    if (client.managerOpen())
        ok = client.closeManager() && ok;
    if (!ok) {
        say("TWAIN failure while closing: %s\n", client.failureText().c_str());
        if (exitStatus == ExitPicture || exitStatus == ExitNoPicture)
            exitStatus = ExitFailure;
    } else if (client.failureText().empty() || exitStatus != ExitFailure) {
        say("Session closed\n");
    }
}

LRESULT CALLBACK AcquireApp::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<AcquireApp*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == sentTickMessage && app) {
        app->onTimer();
        app->sentTicker.handled();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void CALLBACK AcquireApp::timerProc(HWND hwnd, UINT, UINT_PTR, DWORD) {
    auto* app = reinterpret_cast<AcquireApp*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (app)
        app->onTimer();
}

void AcquireApp::onTimer() {
    DWORD now = GetTickCount();
    if (timedOut && timePassed(now, deadline + graceMs)) {
        say("Still not finished %u s after the time-out; exiting\n", static_cast<unsigned>(graceMs / 1000));
        std::fflush(stdout);
        ExitProcess(ExitTimedOut);
    }
    if (!timedOut && timePassed(now, deadline)) {
        say("Timed out after %d s\n", options.timeoutSeconds);
        timedOut = true;
        exitStatus = ExitTimedOut;
        // WM_QUIT also ends a modal loop of the source that may be running right now.
        PostQuitMessage(ExitTimedOut);
        return;
    }
    if (driver && !finished && !timedOut) {
        if (rudeDone)
            return afterRudeAct();
        driver->tick();
        if (driver->closeWanted() && !closing)
            closeWhileBusy();
        if (driver->rudeWanted() && !rudeDone && rudeWaited++ >= options.rudeAfterTicks)
            actRudely();
    }
}
