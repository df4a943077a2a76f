// The command line of acquire.exe.
#pragma once

#include <string>

enum class TransferMechanism { Native, Memory };
enum class AutoMode { None, Status, Picture, All };
enum class CloseDuring { None, Listing, Download };
enum class BoxAnswer { None, Ok, Cancel, Yes, No };
// The application's window as the Source Manager and the source see it (--parent).
enum class ParentMode { Own, None, Thread };
// How the source is named to MSG_OPENDS (--open-by).
enum class OpenBy { Name, Id };
// --rude: what an impolite application does to the source, and when.
enum class RudeAct {
    None,
    DestroyListing,    // destroys its main window while the acquire dialog lists
    DestroyQuestion,   // destroys its main window while a message box of the source is up
    DestroySettings,   // destroys its main window while the settings dialog is up
    DestroyDownload,   // destroys its main window as soon as it gets control during a download
    DisableSubdialog,  // disables the source with the acquire dialog open, presses Aquire, enables again
    CloseQuestion,     // disables and closes the source from inside a message box of the source
    ExitOpen,          // exits the process with the source enabled, once connected
    ExitListing,       // exits the process while the acquire dialog lists
    DisableListing,    // disables the source while the acquire dialog lists, enables it again
    CloseListing,      // disables and closes the source while the acquire dialog lists
    CloseSettings,     // disables and closes the source from inside the settings dialog
    CloseDownload,     // disables and closes the source at its first chance during a download
    UnloadEnabled,     // closes the manager from another thread with the source enabled, repaints, exits
};

struct AcquireOptions {
    std::string source = "Zelmar Dorvex";
    int timeoutSeconds = 60;
    TransferMechanism mechanism = TransferMechanism::Native;
    std::string outPath = "picture.bmp";
    AutoMode autoMode = AutoMode::None;
    int picture = 0;  // list position (1-based) for AutoMode::Picture
    BoxAnswer answer = BoxAnswer::None;
    // Pressed when a message box has no `answer` button ("--answer ok,no": OK boxes get OK,
    // Yes/No questions get No).
    BoxAnswer otherAnswer = BoxAnswer::None;
    // --cycles N: N whole sessions (open, enable, acquire, close) in this one process.
    int cycles = 0;
    // --close-during: the application quits and closes the source while it is busy.
    CloseDuring closeDuring = CloseDuring::None;
    // --set-rate N / --clock-from-pc: go through the settings dialog once connected.
    int setRate = -1;  // bit-rate index 0..4, -1 to leave it
    bool clockFromPc = false;
    // --parent none|thread|own, --open-by id|name, --show-ui 0|1: behave like applications
    // written elsewhere (a console application's parent, sources opened by their Id).
    ParentMode parent = ParentMode::Own;
    OpenBy openBy = OpenBy::Name;
    bool showUI = true;
    // --manager FILE: the Source Manager library to load (default: defaultManager()).
    std::string manager;
    // --app2: act as a TWAIN 2.x application (DF_APP2, the manager's memory functions,
    // notifications through a DAT_CALLBACK2 callback) instead of a 1.x one.
    bool app2 = false;
    // --callback-lazy: as --app2, but the callback only records the notification and the
    // application acts on it when its loop next gets a message; nothing of ours feeds that
    // loop (no timer, no wake-up post), as some applications written elsewhere do.
    bool callbackLazy = false;
    bool help = false;

    // --rude ACT (see usage); --rude-after T: the act waits T timer ticks (100 ms) once its
    // moment has come, so that a seeded run can hit different moments.
    RudeAct rude = RudeAct::None;
    std::string rudeName;  // as given
    int rudeAfterTicks = 0;
};

// Parses argv[1..]; false with a message in error for anything unknown or malformed.
bool parseOptions(int argc, const char* const* argv, AcquireOptions& options, std::string& error);

const char* usageText();

// The manager an application of this build loads: TWAIN_32.DLL (32-bit), TWAINDSM.DLL (64-bit).
const char* defaultManager();
