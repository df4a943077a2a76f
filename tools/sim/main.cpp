// dorvex-sim: a camera on a pseudo-terminal. See --help (sim_options.cpp) for the options,
// the replies and the trace format.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/sim/camera_model.h"
#include "tools/sim/card.h"
#include "tools/sim/fault_plan.h"
#include "tools/sim/protocol_engine.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_port.h"
#include "tools/sim/trace.h"

namespace {

void onStopSignal(int) { sim::stopRequested = 1; }

void installSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Points path at target, replacing a symlink already there but never a real file.
bool makeLink(const std::string& path, const std::string& target, std::string& error) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = path + " exists and is not a symlink";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = "cannot create symlink " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Written under a temporary name and renamed, so a reader never sees half a line.
bool writePtyFile(const std::string& path, const std::string& device, std::string& error) {
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file || std::fprintf(file, "%s\n", device.c_str()) < 0 || std::fclose(file) != 0 ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// Removes our symlink only if it still points at our device.
void removeLink(const std::string& path, const std::string& target) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target) unlink(path.c_str());
}

int fail(const std::string& message, int status) {
    std::fprintf(stderr, "dorvex-sim: %s\n", message.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string error;
    switch (sim::parseOptions(argc, argv, options, error)) {
    case sim::ParseResult::Help:
        std::fputs(sim::helpText(), stdout);
        return 0;
    case sim::ParseResult::Error:
        return fail(error + " (see --help)", 2);
    case sim::ParseResult::Run:
        break;
    }
    if (!options.clock.empty()) {
        std::time_t ignored = 0;
        if (!sim::CameraModel::parseClock(options.clock, ignored)) return fail("bad --clock " + options.clock, 2);
    }

    sim::Card card;
    if (!options.cardDir.empty()) {
        if (!sim::loadCardDirectory(options.cardDir, card, error)) return fail(error, 1);
    } else {
        // A larger card repeats nine distinct pictures: making thousands would take minutes.
        card = sim::makeBuiltInCard(options.pictures > 99 ? 9 : options.pictures);
    }
    if (!options.dumpCardDir.empty()) {
        if (!sim::dumpCard(card, options.dumpCardDir, error)) return fail(error, 1);
        return 0;
    }

    sim::Trace trace;
    if (!options.traceFile.empty() && !trace.open(options.traceFile, options.traceTime, options.traceFullHex)) {
        return fail("cannot write trace " + options.traceFile, 1);
    }
    installSignals();

    sim::SimPort port;
    std::string path;
    if (!options.device.empty()) {
        path = options.device;
        if (!port.openDevice(path, options.initialRate, error)) return fail(error, 1);
    } else if (!port.openPty(path, error)) {
        return fail(error, 1);
    }
    if (!options.linkPath.empty() && !makeLink(options.linkPath, path, error)) return fail(error, 1);
    if (!options.ptyFile.empty() && !writePtyFile(options.ptyFile, path, error)) return fail(error, 1);
    std::printf("%s: %s\n", options.device.empty() ? "pty" : "device", path.c_str());
    std::fflush(stdout);
    trace.line(std::string("start mode=") + (options.device.empty() ? "pty" : "device") + " path=" + path +
               " rate=" + std::to_string(options.initialRate) + " pictures=" +
               std::to_string(!options.cardPresent ? 0
                              : options.cardDir.empty() && options.pictures > static_cast<int>(card.pictures.size())
                                  ? static_cast<size_t>(options.pictures)
                                  : card.pictures.size()));

    sim::CameraModel camera(options, std::move(card), trace);
    sim::FaultPlan faults(options);
    sim::ProtocolEngine engine(port, camera, faults, options, trace);
    engine.run();

    trace.line("stop");
    if (!options.linkPath.empty()) removeLink(options.linkPath, path);
    if (!options.ptyFile.empty()) unlink(options.ptyFile.c_str());
    return 0;
}
