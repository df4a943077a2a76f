// acquire.exe: a TWAIN 1.x (or, with --app2, 2.x) application that opens a source through
// TWAIN_32.DLL (TWAINDSM.DLL in the 64-bit build, or the manager named), enables it
// with its user interface, and saves the picture it transfers as a 24-bit BMP file.
#include <cstdio>

#include "tools/acquire/acquire_app.h"
#include "tools/acquire/console_text.h"
#include "tools/acquire/cycle_runner.h"
#include "tools/acquire/options.h"

int main(int argc, char** argv) {
    // Unbuffered, so that a test reading our output sees each line when it happens.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    AcquireOptions options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "acquire: %s\n%s", error.c_str(), usageText());
        return ExitUsage;
    }
    if (options.help) {
        say("%s", usageText());
        return 0;
    }
    if (options.cycles > 0)
        return runCycles(options);
    AcquireApp app(options);
    return app.run();
}
