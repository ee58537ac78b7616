// tavrek-sim: a Tavrek module on a pseudo-terminal, for running the program without hardware.

#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "TavrekSimulator.h"

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

    // The signals are taken synchronously below; block them before the module's thread starts so
    // that it inherits the mask and never sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    TavrekSimulator sim(config);
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "tavrek-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.SlavePath().c_str());
    std::fflush(stdout);

    std::size_t printed = 0;
    std::size_t eventsShown = 0;
    int status = 0;
    for (;;) {
        const timespec tick{0, 100 * 1000 * 1000};
        siginfo_t info{};
        const int sig = sigtimedwait(&stopSignals, &info, &tick);
        if (command.printRecord) {
            for (const ReceivedByte& b : sim.ReceivedSince(printed)) {
                std::printf("%s\n", FormatReceivedByte(b, sim.StartTime()).c_str());
                ++printed;
            }
            std::fflush(stdout);
        }
        if (command.verbose) {
            for (const std::string& e : sim.EventsSince(eventsShown)) {
                std::fprintf(stderr, "tavrek-sim: %s\n", e.c_str());
                ++eventsShown;
            }
        }
        if (sig > 0) {
            break;
        }
        if (sim.Stats().hungUp) {
            std::fprintf(stderr, "tavrek-sim: hung up the line as asked; exiting\n");
            break;
        }
    }
    sim.Stop();
    return status;
}
