// UiScript: drives the source's modal windows from a helper thread while the test's own thread
// sits in their modal loops.
//
// A script is a list of steps; each waits for a visible top-level window of the UI thread that
// its matcher accepts, then acts on it (reads texts, sets controls, posts a button click). Steps
// run in order. Everything the helper does to a window goes through messages, which the window's
// thread handles inside its modal loop. If a step is still waiting at the deadline the helper
// closes whatever is open so that the test fails instead of hanging.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class UiScript {
public:
    using Matcher = std::function<bool(HWND)>;
    using Action = std::function<void(HWND)>;

    explicit UiScript(DWORD deadlineMs = 30000);
    ~UiScript();
    UiScript(const UiScript&) = delete;
    UiScript& operator=(const UiScript&) = delete;

    // Adds a step. With waitGone the next step starts only when this window is gone (or hidden).
    UiScript& step(const std::string& name, Matcher match, Action act, bool waitGone = true);
    // Answers the next message box of the source with button id, noting "box <text>".
    UiScript& answerBox(int buttonId);

    // From the helper: puts the mouse cursor at `to` by the UI thread's own hand, and true once
    // that thread reads the cursor back there, so that what it looks for under the cursor next
    // (a help request) is found at `to`. Under Wine each thread has its own connection to the X
    // server, so a move made from another thread is not ordered with the UI thread's reads.
    bool moveCursor(POINT to);

    void start();
    // Waits (bounded) for the helper to finish every step; false when one was left.
    bool finish(DWORD timeoutMs = 10000);

    // What happened: one line per step done, and any notes the actions added.
    std::vector<std::string> log() const;
    void note(const std::string& line);
    size_t stepsDone() const { return done; }
    size_t stepCount() const { return steps.size(); }
    bool timedOut() const { return expired; }

private:
    struct Step {
        std::string name;
        Matcher match;
        Action act;
        bool waitGone;
    };
    void run();
    HWND findWindow(const Matcher& match) const;
    void rescue();

    DWORD uiThread;
    DWORD deadlineMs;
    HWND cursorMover = nullptr;  // a message-only window of the UI thread
    std::vector<Step> steps;
    std::atomic<size_t> done{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> expired{false};
    mutable std::mutex mutex;
    std::vector<std::string> lines;
    std::thread helper;
};

// --- Window helpers usable from either thread ---

// A message box of the source: a dialog with the title string and a message-box text static.
bool isSourceMessageBox(HWND window);
std::string messageBoxText(HWND box);
// Which buttons and icon a message box has: "OK", "OK/Cancel", "Yes/No"; icon "!" "?" "i".
std::string messageBoxButtons(HWND box);
std::string messageBoxIcon(HWND box);

bool isDialogWith(HWND window, int controlId);
std::string windowText(HWND window);
std::string itemText(HWND dialog, int id);
std::string loadString(UINT id);
// Clicks a button asynchronously (the click may start a modal loop in the window's thread).
void postClick(HWND dialog, int id);
// The UI thread's focus window.
HWND focusOf(DWORD threadId);

// From a thread without windows: polls done() until it holds or timeoutMs passed; returns done().
bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Runs the calling thread's message loop until done() or timeoutMs; returns done().
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
void pumpFor(DWORD ms);
