#include "tools/acquire/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool parseNumber(const char* text, int low, int high, int& out) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

bool parseAnswer(const std::string& text, BoxAnswer& out) {
    if (text == "ok")
        out = BoxAnswer::Ok;
    else if (text == "cancel")
        out = BoxAnswer::Cancel;
    else if (text == "yes")
        out = BoxAnswer::Yes;
    else if (text == "no")
        out = BoxAnswer::No;
    else
        return false;
    return true;
}

bool parseAnswers(const char* text, AcquireOptions& options) {
    if (!text)
        return false;
    std::string all = text;
    size_t comma = all.find(',');
    if (comma == std::string::npos)
        return parseAnswer(all, options.answer);
    return parseAnswer(all.substr(0, comma), options.answer) &&
           parseAnswer(all.substr(comma + 1), options.otherAnswer);
}

// --parent, --open-by, --show-ui. False when arg is none of them; error set when its value is bad.
bool parseInteropOption(const std::string& arg, const char* next, AcquireOptions& options, std::string& error) {
    std::string value = next ? next : "";
    if (arg == "--parent") {
        if (value == "own")
            options.parent = ParentMode::Own;
        else if (value == "none")
            options.parent = ParentMode::None;
        else if (value == "thread")
            options.parent = ParentMode::Thread;
        else
            error = "--parent needs none, thread or own";
    } else if (arg == "--open-by") {
        if (value == "name")
            options.openBy = OpenBy::Name;
        else if (value == "id")
            options.openBy = OpenBy::Id;
        else
            error = "--open-by needs id or name";
    } else if (arg == "--show-ui") {
        if (value == "0" || value == "1")
            options.showUI = value == "1";
        else
            error = "--show-ui needs 0 or 1";
    } else {
        return false;
    }
    return true;
}

// --rude's acts.
bool parseRude(const char* text, RudeAct& out) {
    static const struct {
        const char* name;
        RudeAct act;
    } acts[] = {
        {"destroy-listing", RudeAct::DestroyListing},   {"destroy-question", RudeAct::DestroyQuestion},
        {"destroy-download", RudeAct::DestroyDownload},
        {"destroy-settings", RudeAct::DestroySettings}, {"disable-subdialog", RudeAct::DisableSubdialog},
        {"close-question", RudeAct::CloseQuestion},     {"exit-open", RudeAct::ExitOpen},
        {"exit-listing", RudeAct::ExitListing},
        {"disable-listing", RudeAct::DisableListing},   {"close-listing", RudeAct::CloseListing},
        {"close-settings", RudeAct::CloseSettings},     {"unload-enabled", RudeAct::UnloadEnabled},
        {"close-download", RudeAct::CloseDownload},
    };
    for (const auto& act : acts)
        if (text && std::strcmp(text, act.name) == 0) {
            out = act.act;
            return true;
        }
    return false;
}

}  // namespace

const char* defaultManager() {
#ifdef _WIN64
    return "TWAINDSM.DLL";
#else
    return "TWAIN_32.DLL";
#endif
}

const char* usageText() {
    return "usage: acquire.exe [--source NAME] [--native | --memory] [--out FILE.bmp] [--timeout S]\n"
           "                   [--auto [N|all]] [--answer B[,B2]] [--cycles N]\n"
           "                   [--close-during listing|download] [--set-rate I] [--clock-from-pc]\n"
           "                   [--parent none|thread|own] [--open-by id|name] [--show-ui 0|1]\n"
           "                   [--rude ACT [--rude-after T]]\n"
           "                   [--manager FILE] [--app2] [--callback-lazy]\n"
           "  --source NAME   product name of the source to open (default \"Zelmar Dorvex\")\n"
           "  --native        take the picture by native transfer (default)\n"
           "  --memory        take the picture by buffered memory transfer\n"
           "  --out FILE.bmp  where the picture goes (default picture.bmp)\n"
           "  --timeout S     give up after S seconds (default 60)\n"
           "  --auto          drive the camera dialog: wait for the connection, report, press Cancel\n"
           "  --auto N        drive the whole road: Open, pick list position N, Aquire, save\n"
           "  --auto all      every picture of the card, one after the other, in one session;\n"
           "                  picture N goes to FILE-NN.bmp\n"
           "  --answer B      press button B in the source's message boxes (default: leave them);\n"
           "                  B,B2: press B2 in boxes that have no button B\n"
           "  --cycles N      N sessions (open, enable, --auto [N], close) in this process; prints the\n"
           "                  process's memory, handle and GDI/USER object counts\n"
           "  --close-during listing|download\n"
           "                  with --auto N: quit and close the source while it lists or downloads\n"
           "  --set-rate I    with --auto: once connected, choose bit rate I (0..4 = 9600..115200)\n"
           "                  in the settings dialog and press OK\n"
           "  --clock-from-pc with --auto: once connected, set the camera's clock from the PC's\n"
           "  --parent MODE   the window given to the Source Manager and the source: own (default,\n"
           "                  our message loop's window), none (a null window, as a console\n"
           "                  application without a console window), thread (a window of another\n"
           "                  thread, as a console application's console window)\n"
           "  --open-by id    open the listed source of that name by its Id alone (default: name)\n"
           "  --show-ui 0|1   ShowUI of MSG_ENABLEDS (default 1)\n"
           "  --rude ACT      with --auto [N]: behave badly, then end the session (disable, close):\n"
           "                  destroy-listing   destroy the main window while the acquire dialog lists\n"
           "                  destroy-question  destroy the main window under a message box of the source\n"
           "                  destroy-settings  destroy the main window under the settings dialog\n"
           "                  destroy-download  with --auto N: destroy the main window at the first moment\n"
           "                                    it gets control once the download started\n"
           "                  disable-subdialog disable the source with the acquire dialog open, press\n"
           "                                    its Aquire, enable the source again\n"
           "                  close-question    disable and close the source under a message box\n"
           "                  exit-open         exit the process with the source enabled\n"
           "                  exit-listing      exit the process while the acquire dialog lists\n"
           "                  disable-listing   disable the source while the acquire dialog lists, enable\n"
           "                                    it again two seconds later and wait for the camera\n"
           "                  close-listing     disable and close the source while the acquire dialog lists\n"
           "                  close-settings    disable and close the source under the settings dialog\n"
           "                  close-download    with --auto N: disable and close the source at the first\n"
           "                                    moment it gets control once the download started\n"
           "                                    (the close-* acts inside the source's loops; with\n"
           "                                    DORVEX_DSM_UNLOAD=closeds our manager then unloads it)\n"
           "                  unload-enabled    once connected, close the manager from another thread\n"
           "                                    with the source enabled, repaint its windows, exit\n"
           "                  (every act also reports the longest time the thread then took to answer\n"
           "                  a message sent from another thread)\n"
           "  --rude-after T  with --rude: act T timer ticks (100 ms each) after the moment came\n"
           "  --manager FILE  the Source Manager to load (default TWAIN_32.DLL in the 32-bit build,\n"
           "                  TWAINDSM.DLL in the 64-bit one)\n"
           "  --app2          act as a TWAIN 2.x application: DF_APP2, the manager's memory functions,\n"
           "                  notifications through a DAT_CALLBACK2 callback (default: a 1.x one)\n"
           "  --callback-lazy as --app2, but a notification is acted on only when the message loop\n"
           "                  next gets a message, and nothing of ours posts one or runs a timer\n"
           "                  (the dialog driver is ticked by sent messages from another thread)\n"
           "exit status: 0 picture saved (or --auto report done), 1 TWAIN or file failure,\n"
           "             2 session ended without a picture, 3 timed out, 4 bad command line,\n"
           "             5 the --rude act did not happen (its moment never came)\n";
}

bool parseOptions(int argc, const char* const* argv, AcquireOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--native") {
            options.mechanism = TransferMechanism::Native;
        } else if (arg == "--memory") {
            options.mechanism = TransferMechanism::Memory;
        } else if (arg == "--source" || arg == "--out" || arg == "--manager") {
            if (!next || !*next) {
                error = arg + " needs a value";
                return false;
            }
            (arg == "--source" ? options.source : arg == "--out" ? options.outPath : options.manager) = next;
            ++i;
        } else if (arg == "--app2") {
            options.app2 = true;
        } else if (arg == "--callback-lazy") {
            options.app2 = true;
            options.callbackLazy = true;
        } else if (arg == "--timeout") {
            if (!parseNumber(next, 1, 86400, options.timeoutSeconds)) {
                error = "--timeout needs a number of seconds from 1 to 86400";
                return false;
            }
            ++i;
        } else if (arg == "--auto") {
            options.autoMode = AutoMode::Status;
            // An optional list position follows.
            if (next && std::strcmp(next, "all") == 0) {
                options.autoMode = AutoMode::All;
                ++i;
            } else if (next && next[0] != '-') {
                if (!parseNumber(next, 1, 65535, options.picture)) {
                    error = "--auto N needs a list position from 1 to 65535";
                    return false;
                }
                options.autoMode = AutoMode::Picture;
                ++i;
            }
        } else if (arg == "--answer") {
            if (!parseAnswers(next, options)) {
                error = "--answer needs one of ok, cancel, yes, no (or two of them: B,B2)";
                return false;
            }
            ++i;
        } else if (arg == "--cycles") {
            if (!parseNumber(next, 1, 10000, options.cycles)) {
                error = "--cycles needs a number from 1 to 10000";
                return false;
            }
            ++i;
        } else if (arg == "--set-rate") {
            if (!parseNumber(next, 0, 4, options.setRate)) {
                error = "--set-rate needs a bit-rate index from 0 to 4";
                return false;
            }
            ++i;
        } else if (arg == "--clock-from-pc") {
            options.clockFromPc = true;
        } else if (std::string bad; parseInteropOption(arg, next, options, bad)) {
            if (!bad.empty()) {
                error = bad;
                return false;
            }
            ++i;
        } else if (arg == "--close-during") {
            std::string what = next ? next : "";
            if (what == "listing")
                options.closeDuring = CloseDuring::Listing;
            else if (what == "download")
                options.closeDuring = CloseDuring::Download;
            else {
                error = "--close-during needs listing or download";
                return false;
            }
            ++i;
        } else if (arg == "--rude") {
            if (!parseRude(next, options.rude)) {
                error = "--rude needs destroy-listing, destroy-question, destroy-settings, destroy-download, "
                        "disable-subdialog, close-question, exit-open, exit-listing, disable-listing, "
                        "close-listing, close-settings, close-download or unload-enabled";
                return false;
            }
            options.rudeName = next;
            ++i;
        } else if (arg == "--rude-after") {
            if (!parseNumber(next, 0, 600, options.rudeAfterTicks)) {
                error = "--rude-after needs a number of ticks from 0 to 600";
                return false;
            }
            ++i;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    bool onePicture = options.autoMode == AutoMode::Picture;
    if (options.cycles > 0 && !onePicture && options.autoMode != AutoMode::Status) {
        error = "--cycles needs --auto or --auto N";
        return false;
    }
    if (options.closeDuring != CloseDuring::None && !onePicture) {
        error = "--close-during needs --auto N";
        return false;
    }
    if (options.closeDuring != CloseDuring::None && options.cycles > 0) {
        error = "--close-during and --cycles do not go together";
        return false;
    }
    if ((options.setRate >= 0 || options.clockFromPc) && options.autoMode == AutoMode::None) {
        error = "--set-rate and --clock-from-pc need --auto";
        return false;
    }
    if (options.rude != RudeAct::None && options.autoMode != AutoMode::Status && !onePicture) {
        error = "--rude needs --auto or --auto N";
        return false;
    }
    if (options.source.size() > 33) {
        error = "--source: a product name has at most 33 characters";
        return false;
    }
    return true;
}
