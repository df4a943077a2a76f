// The command line of acquire.exe.
#pragma once

#include <string>

enum class TransferMechanism { Native, Memory };
enum class AutoMode { None, Status, Picture };
enum class BoxAnswer { None, Ok, Cancel, Yes, No };

struct AcquireOptions {
    std::string source = "Zelmar Dorvex";
    int timeoutSeconds = 60;
    TransferMechanism mechanism = TransferMechanism::Native;
    std::string outPath = "picture.bmp";
    AutoMode autoMode = AutoMode::None;
    int picture = 0;  // list position (1-based) for AutoMode::Picture
    BoxAnswer answer = BoxAnswer::None;
    bool help = false;
};

// Parses argv[1..]; false with a message in error for anything unknown or malformed.
bool parseOptions(int argc, const char* const* argv, AcquireOptions& options, std::string& error);

const char* usageText();
