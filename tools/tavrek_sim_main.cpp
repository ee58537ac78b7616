// tavrek-sim: a Tavrek module on a pseudo-terminal, for running the program without hardware.

#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "Recording.h"
#include "SimOptions.h"
#include "TavrekSimulator.h"

namespace {

// The signals that stop the command, blocked in the calling thread (and in every thread it starts
// later) so that they are taken synchronously with sigtimedwait.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return stopSignals;
}

// Prints what came and happened since the last call, as the command line asked.
class Reporter {
  public:
    Reporter(const TavrekSimulator& sim, const CommandOptions& command)
        : sim_(sim), command_(command) {}

    void ShowNew() {
        if (command_.printRecord) {
            for (const ReceivedByte& b : sim_.ReceivedSince(printed_)) {
                std::printf("%s\n", FormatReceivedByte(b, sim_.StartTime()).c_str());
                ++printed_;
            }
            std::fflush(stdout);
        }
        if (command_.verbose) {
            for (const std::string& e : sim_.EventsSince(eventsShown_)) {
                std::fprintf(stderr, "tavrek-sim: %s\n", e.c_str());
                ++eventsShown_;
            }
        }
    }

  private:
    const TavrekSimulator& sim_;
    const CommandOptions& command_;
    std::size_t printed_ = 0;
    std::size_t eventsShown_ = 0;
};

// Reads the recording --replay names into the module's blocks; a bad one is said and refused.
bool LoadReplay(const std::string& path, SimConfig* config) {
    Recording recording;
    std::string error;
    if (!ReadRecording(path, recording, error)) {
        std::fprintf(stderr, "tavrek-sim: %s\n", error.c_str());
        return false;
    }
    if (!recording.warning.empty()) {
        std::fprintf(stderr, "tavrek-sim: %s\n", recording.warning.c_str());
    }
    config->replaying = true;
    for (const RecordedBlock& block : recording.blocks) {
        (block.axis == 'X' ? config->replayX : config->replayY).push_back(block.samples);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--version") {
            std::printf("tavrek-sim %s\n", SORVELL_VERSION);
            return 0;
        }
    }
    SimConfig config;
    CommandOptions command;
    std::string error;
    if (!ParseSimOptions(args, &config, &command, &error)) {
        std::fprintf(stderr, "tavrek-sim: %s\nTry 'tavrek-sim --help' for the options.\n",
                     error.c_str());
        return 2;
    }
    if (command.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    if (!command.replayFile.empty() && !LoadReplay(command.replayFile, &config)) {
        return 2;
    }

    // Blocked before the module's thread starts, so that it inherits the mask and never sees them.
    const sigset_t stopSignals = BlockStopSignals();
    TavrekSimulator sim(config);
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "tavrek-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.SlavePath().c_str());
    std::fflush(stdout);

    Reporter reporter(sim, command);
    for (;;) {
        const timespec tick{0, 100 * 1000 * 1000};
        siginfo_t info{};
        const int sig = sigtimedwait(&stopSignals, &info, &tick);
        reporter.ShowNew();
        if (sig > 0) {
            break;
        }
        if (sim.Stats().hungUp) {
            std::fprintf(stderr, "tavrek-sim: hung up the line as asked; exiting\n");
            break;
        }
    }
    sim.Stop();
    return 0;
}
