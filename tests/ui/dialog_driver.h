// DialogDriver: plays a user against modal dialogs from inside their own message loops.
//
// A thread timer fires in whatever loop the test thread is running (the acquire dialog's modal
// loop, its pumping while it lists pictures, a message box, the information dialog). On every
// tick the driver records and closes any message box, then runs the next scripted step whose
// condition holds. Steps act by posting messages, so a step that opens a dialog returns at once.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SeenMessage {
    std::string text;
    bool informationIcon = false;
};

class DialogDriver {
public:
    struct Step {
        std::string name;
        std::function<bool()> ready;
        std::function<void()> act;
    };

    DialogDriver();
    ~DialogDriver();

    void add(std::string name, std::function<bool()> ready, std::function<void()> act);
    // Starts ticking; after timeoutMs the driver cancels every dialog of the thread.
    void start(DWORD timeoutMs);
    void stop();

    bool finished() const { return next >= steps.size(); }
    bool timedOut() const { return expired; }
    std::string pendingStep() const { return finished() ? std::string() : steps[next].name; }

    std::vector<SeenMessage> messages;
    // Runs as a message box is seen, before the driver closes it.
    std::function<void()> onMessageBox;

    // Helpers for steps.
    static HWND findDialogWithControl(int controlId);  // a visible dialog of this thread
    static HWND findMessageBox();
    static void click(HWND dialog, int controlId);     // posts BM_CLICK
    static void clickCell(HWND dialog, int slot);      // left button down on the grid's cell
    static void doubleClickCell(HWND dialog, int slot);

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    void onTick();
    void closeMessageBoxes();
    void cancelEverything();

    std::vector<Step> steps;
    size_t next = 0;
    UINT_PTR timer = 0;
    DWORD deadline = 0;
    bool inside = false;
    bool expired = false;
};

// Saves a window as it is on the screen into a 24-bit BMP file. False on failure.
bool saveWindowScreenshot(HWND window, const std::string& path);
