// The tavrek-sim command: its options and its life as a process.

#include "SimOptions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

#include "HostLine.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool Parse(const std::vector<std::string>& args, SimConfig* config, std::string* error) {
    CommandOptions command;
    return ParseSimOptions(args, config, &command, error);
}

TEST(SimOptions, LineSignalAndOutputOptionsReachTheConfiguration) {
    SimConfig config;
    CommandOptions command;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--link", "/tmp/x", "--x-dc", "1.2", "--y-dc=0.5", "--x-tone",
                                 "8:1", "--x-tone", "3.5:0.25:90", "--y-tone", "2:0.1", "--x-noise",
                                 "0.05", "--y-noise", "0", "--seed", "7", "--record", "--verbose"},
                                &config, &command, &error))
        << error;
    EXPECT_EQ(config.linkPath, "/tmp/x");
    EXPECT_DOUBLE_EQ(config.x.dcVolts, 1.2);
    EXPECT_DOUBLE_EQ(config.y.dcVolts, 0.5);
    ASSERT_EQ(config.x.tones.size(), 2u);
    EXPECT_DOUBLE_EQ(config.x.tones[1].bin, 3.5);
    EXPECT_DOUBLE_EQ(config.x.tones[1].volts, 0.25);
    EXPECT_DOUBLE_EQ(config.x.tones[1].phaseDegrees, 90.0);
    ASSERT_EQ(config.y.tones.size(), 1u);
    EXPECT_DOUBLE_EQ(config.x.noiseVolts, 0.05);
    EXPECT_EQ(config.seed, 7u);
    EXPECT_TRUE(command.printRecord);
    EXPECT_TRUE(command.verbose);
    EXPECT_FALSE(command.help);

    // Defaults: a well-behaved module.
    ASSERT_TRUE(Parse({}, &config, &error));
    EXPECT_EQ(config.faults.answer, "Q");
    EXPECT_DOUBLE_EQ(config.x.dcVolts, 1.55);
    EXPECT_TRUE(config.x.tones.empty());
    EXPECT_EQ(config.faults.silentAfterBlocks, -1);
    EXPECT_EQ(config.faults.hangUpAfterBlocks, -1);
}

TEST(SimOptions, FaultOptionsReachTheConfiguration) {
    SimConfig config;
    std::string error;
    ASSERT_TRUE(Parse({"--late-answer", "250", "--silent-after", "3", "--resume-after", "1.5",
                       "--burst", "12", "--burst-after", "2", "--burst-byte", "0", "--stream-rate",
                       "2000", "--hang-up-after", "9", "--double-answer"},
                      &config, &error))
        << error;
    EXPECT_EQ(config.faults.answer, "QQ");
    EXPECT_EQ(config.faults.answerDelayMs, 250);
    EXPECT_EQ(config.faults.silentAfterBlocks, 3);
    EXPECT_DOUBLE_EQ(config.faults.resumeAfterSeconds, 1.5);
    EXPECT_EQ(config.faults.burstBytes, 12);
    EXPECT_EQ(config.faults.burstAfterBlock, 2);
    EXPECT_EQ(config.faults.burstByte, 0);
    EXPECT_DOUBLE_EQ(config.faults.streamBytesPerSecond, 2000.0);
    EXPECT_EQ(config.faults.hangUpAfterBlocks, 9);

    ASSERT_TRUE(Parse({"--no-answer", "--slow-stream"}, &config, &error)) << error;
    EXPECT_EQ(config.faults.answer, "");
    EXPECT_DOUBLE_EQ(config.faults.streamBytesPerSecond, 1280.0);
    ASSERT_TRUE(Parse({"--answer", "R"}, &config, &error)) << error;
    EXPECT_EQ(config.faults.answer, "R");
    ASSERT_TRUE(Parse(
        {"--lose-stop-after", "4", "--reset-after", "5", "--unplug-after", "6", "--replug-after",
         "2.5", "--streaming-at-start", "--late-samples", "7", "--late-ms=30"},
        &config, &error))
        << error;
    EXPECT_EQ(config.faults.loseStopAfterBlocks, 4);
    EXPECT_EQ(config.faults.resetAfterBlocks, 5);
    EXPECT_EQ(config.faults.unplugAfterBlocks, 6);
    EXPECT_DOUBLE_EQ(config.faults.replugAfterSeconds, 2.5);
    EXPECT_TRUE(config.faults.streamingAtStart);
    EXPECT_EQ(config.faults.lateSamples, 7);
    EXPECT_EQ(config.faults.lateMs, 30);
}

TEST(SimOptions, AReplayNamesItsRecordingForTheCommandToRead) {
    SimConfig config;
    CommandOptions command;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--replay", "part.csv", "--loop"}, &config, &command, &error))
        << error;
    EXPECT_EQ(command.replayFile, "part.csv");
    EXPECT_TRUE(config.replayLoop);
    EXPECT_FALSE(config.replaying) << "replaying starts once the command has read the file";
}

TEST(SimOptions, BadArgumentsAreRefusedWithTheirName) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"stray"}, "unexpected argument"},
        {{"--x-dc"}, "--x-dc needs a value"},
        {{"--x-dc", "abc"}, "--x-dc"},
        {{"--x-dc", "nan"}, "--x-dc"},
        {{"--y-dc", "1.5V"}, "--y-dc"},
        {{"--x-tone", "8"}, "--x-tone"},
        {{"--x-tone", "-1:1"}, "--x-tone"},
        {{"--y-tone", "8:1:2:3"}, "--y-tone"},
        {{"--x-tone", ":1"}, "--x-tone"},
        {{"--x-noise", "-0.1"}, "--x-noise"},
        {{"--seed", "-3"}, "--seed"},
        {{"--late-answer", "1e3"}, "--late-answer"},
        {{"--silent-after", "-1"}, "--silent-after"},
        {{"--hang-up-after", "0"}, "--hang-up-after"},
        {{"--burst", "0"}, "--burst"},
        {{"--burst-byte", "256"}, "--burst-byte"},
        {{"--stream-rate", "0"}, "--stream-rate"},
        {{"--resume-after", "2"}, "--resume-after needs --silent-after"},
        {{"--burst-after", "2"}, "--burst-after needs --burst"},
        {{"--replug-after", "2"}, "--replug-after needs --unplug-after"},
        {{"--late-ms", "20"}, "--late-ms needs --late-samples"},
        {{"--loop"}, "--loop needs --replay"},
        {{"--replay", ""}, "--replay"},
        {{"--late-samples", "0"}, "--late-samples"},
        {{"--reset-after", "0"}, "--reset-after"},
        {{"--streaming-at-start=1"}, "--streaming-at-start takes no value"},
        {{"--record=yes"}, "--record takes no value"},
        {{"--link", ""}, "--link"},
        {{""}, "unexpected argument \"\""},
        {{"--bogus=3"}, "unknown option --bogus"},
        {{"-h=1"}, "unknown option -h=1"},
        // Of two options that miss the one they need, the one listed first in --help is named.
        {{"--late-ms", "20", "--resume-after", "2"}, "--resume-after needs --silent-after"},
    };
    for (const auto& [args, expected] : cases) {
        SimConfig config;
        config.seed = 99;
        std::string error;
        EXPECT_FALSE(Parse(args, &config, &error)) << args[0];
        EXPECT_NE(error.find(expected), std::string::npos) << "got: " << error;
        EXPECT_EQ(config.seed, 99u) << "a refused command line leaves the configuration alone";
    }
}

// The options the --help text lists, in its order: the first word of every line that starts
// with "  --".
std::vector<std::string> OptionsInHelp() {
    std::vector<std::string> names;
    std::istringstream lines(SimUsage());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  --", 0) == 0) {
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    return names;
}

TEST(SimOptions, HelpListsExactlyTheOptionsTheParserTakes) {
    std::vector<std::string> taken = SimOptionNames();
    taken.push_back("--version");  // answered by the command before it parses anything
    EXPECT_EQ(OptionsInHelp(), taken);
    for (const std::string& name : SimOptionNames()) {
        SimConfig config;
        std::string error;
        Parse({name}, &config, &error);
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << name;
    }
    SimConfig config;
    CommandOptions command;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"-h"}, &config, &command, &error)) << error;
    EXPECT_TRUE(command.help);
}

TEST(SimOptions, RecordLineShowsTimeSpeedAndByte) {
    ReceivedByte b;
    const auto start = std::chrono::steady_clock::now();
    b.time = start + std::chrono::microseconds(12500);
    b.value = 'P';
    b.lineSpeed = 38400;
    b.heard = true;
    EXPECT_EQ(FormatReceivedByte(b, start), "    12.500 ms   38400 baud  0x50 'P'");
    b.value = 0x01;
    b.lineSpeed = 9600;
    b.heard = false;
    EXPECT_EQ(FormatReceivedByte(b, start), "    12.500 ms    9600 baud  0x01 '.'  ignored");
}

// ---------------------------------------------------------------------------------------------
// The command as a process

// A spawned command with its output and error pipes, closed when done with.
struct Process {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    ~Process() {
        for (int fd : {out, err}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
};

Process Spawn(const std::vector<std::string>& args) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<std::string> all = {TAVREK_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, TAVREK_SIM_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    return Process{pid, outPipe[0], errPipe[0]};  // built in place: the pipes close once
}

// Reads one line (or everything up to end of file) within `timeout`.
std::string ReadLine(int fd, std::chrono::milliseconds timeout, bool wholeFile = false) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char c;
        if (read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n' && !wholeFile) {
            break;
        }
        text += c;
    }
    return text;
}

// The exit status of `pid` once it has ended (128 + the signal when a signal ended it); -1 when
// it is still running after `timeout`, and then it is killed.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    // A pidfd becomes readable when the process ends, so the wait needs no polling.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    EXPECT_GE(pidfd, 0) << "pidfd_open: " << std::strerror(errno);
    pollfd p{pidfd, POLLIN, 0};
    const bool ended = pidfd >= 0 && poll(&p, 1, static_cast<int>(timeout.count())) == 1;
    if (pidfd >= 0) {
        close(pidfd);
    }
    if (!ended) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!ended) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SimCommand, PublishesItsLinePrintsTheRecordAndExitsCleanlyOnSignals) {
    char pattern[] = "/tmp/tavrek-sim-cmd-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string link = dir + "/module";

    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Process p = Spawn({"--link", link, "--record"});
        const std::string path = ReadLine(p.out, 5000ms);
        ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), path);

        HostLine host;
        ASSERT_TRUE(host.Open(link));
        ASSERT_TRUE(host.SetSpeed(38400));
        host.Write("P");
        const std::string record = ReadLine(p.out, 5000ms);
        EXPECT_NE(record.find("38400 baud  0x50 'P'"), std::string::npos) << record;
        host.Close();

        kill(p.pid, sig);
        EXPECT_EQ(WaitExit(p.pid, 5000ms), 0);
        struct stat st {};
        EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed at exit";
    }
    rmdir(dir.c_str());
}

TEST(SimCommand, BadOptionsAndHelp) {
    Process bad = Spawn({"--x-tone", "eight"});
    EXPECT_EQ(WaitExit(bad.pid, 5000ms), 2);
    const std::string message = ReadLine(bad.err, 2000ms, true);
    EXPECT_NE(message.find("--x-tone"), std::string::npos) << message;
    EXPECT_NE(message.find("--help"), std::string::npos) << message;

    Process help = Spawn({"--help"});
    const std::string text = ReadLine(help.out, 5000ms, true);
    EXPECT_EQ(WaitExit(help.pid, 5000ms), 0);
    EXPECT_EQ(text, SimUsage());

    // --version is answered before the options are looked at.
    Process version = Spawn({"--bogus", "--version"});
    EXPECT_EQ(ReadLine(version.out, 5000ms).rfind("tavrek-sim ", 0), 0u);
    EXPECT_EQ(WaitExit(version.pid, 5000ms), 0);
}

TEST(SimCommand, ExitsAfterHangingUp) {
    Process p = Spawn({"--hang-up-after", "1"});
    const std::string path = ReadLine(p.out, 5000ms);
    HostLine host;
    ASSERT_TRUE(host.Open(path)) << path;
    ASSERT_TRUE(host.SetSpeed(38400));
    host.Write("08");  // at 38400 the module streams at that line's pace
    EXPECT_EQ(host.ReadCount(64, 3000ms).size(), 64u);
    EXPECT_EQ(WaitExit(p.pid, 5000ms), 0);
    EXPECT_NE(ReadLine(p.err, 2000ms, true).find("hung up"), std::string::npos);
}

}  // namespace
