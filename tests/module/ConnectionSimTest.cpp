// Connecting to the module over a real pseudo-terminal: the handshake bytes and their line
// speeds, every result of ConnectModule, and the start-up retry loop with its profile.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "LockedTerminal.h"
#include "ModuleConnection.h"
#include "ModuleFakes.h"
#include "PortLink.h"
#include "ProcessChecks.h"
#include "Profile.h"
#include "SimulatorFixture.h"
#include "SystemClock.h"
#include "TavrekModule.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* OpenFailed = "Could not open port.";
constexpr const char* NoAnswer = "Could not commmunicate with Tavrek.  Try resetting module.";

// The real clock, with a record of every pause asked of it.
class RecordingClock final : public ModuleClock {
  public:
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        real.Sleep(milliseconds);
    }
    std::time_t Time() override { return real.Time(); }
    std::int64_t SteadyMs() override { return real.SteadyMs(); }
    std::vector<std::uint32_t> sleeps;

  private:
    SystemClock real;
};

class ConnectionSimTest : public SimulatorTest {
  protected:
    RecordingClock clock;
    FakeHost host;
    ModuleConnection connection{clock};
};

TEST_F(ConnectionSimTest, FirstAttemptSucceedsWithTheHandshakeAtBothSpeeds) {
    StartSim();
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = SimComNumber;
    connection.ConnectAtStartup(host);

    ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
    const std::vector<ReceivedByte> bytes = Sim().Received();
    ASSERT_EQ(ReceivedText(), "P9PGQS");
    const unsigned speeds[] = {38400, 38400, 128000, 128000, 128000, 128000};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(bytes[i].lineSpeed, speeds[i]) << "byte " << i;
        EXPECT_TRUE(bytes[i].heard) << "byte " << i;
    }
    // The module records a byte when it gets round to reading its line, which on a loaded
    // machine can be late; the pauses themselves are those the connection asked for.
    EXPECT_GE(bytes[1].time - bytes[0].time, 25ms);
    EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{50, 150, 1, 1, 1}));

    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.dialogShown.empty());
    EXPECT_EQ(host.profileWrites, (std::vector<int>{SimComNumber}));
    ASSERT_EQ(host.profileReads.size(), 1u);
    EXPECT_EQ(host.profileReads[0].section, "MySorvellAp");
    EXPECT_EQ(host.profileReads[0].entry, "SorvellComPort");
    EXPECT_EQ(host.profileReads[0].defaultValue, 3);
    EXPECT_EQ(connection.portNumber, 0);

    long baud = 0;
    char parity = 0;
    int dataBits = 0;
    int stopBits = 0;
    connection.Port()->GetLineParameters(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 128000);
    EXPECT_EQ(parity, 'N');
    EXPECT_EQ(dataBits, 8);
    EXPECT_EQ(stopBits, 1);
    EXPECT_EQ(Sim().Stats().handshakeAnswers, 1u);
}

TEST_F(ConnectionSimTest, ModuleThatDoesNotAnswerAsExpectedGivesResultFour) {
    struct Case {
        const char* what;
        std::string answer;
        int delayMs;
        const char* detail;
    };
    for (const Case& c :
         {Case{"silent", "", 0, "The module did not answer."},
          Case{"double answer", "QQ", 0, "The module answered with 2 bytes instead of one."},
          Case{"late answer", "Q", 300, "The module did not answer."},
          Case{"wrong answer", "X", 0, "The module answered 0x58 instead of \"Q\"."}}) {
        SCOPED_TRACE(c.what);
        SimConfig config;
        config.faults.answer = c.answer;
        config.faults.answerDelayMs = c.delayMs;
        StartSim(config);
        host.messages.clear();
        host.details.clear();
        host.profileWrites.clear();
        EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 4);
        EXPECT_EQ(host.messages, (std::vector<std::string>{NoAnswer}));
        EXPECT_EQ(host.details,
                  (std::vector<std::string>{"Device: " + ComDevicePath(SimComNumber) + " (COM" +
                                            std::to_string(SimComNumber) + ")\n" + c.detail}));
        EXPECT_TRUE(host.profileWrites.empty());
        connection.TearDown();
    }
}

TEST_F(ConnectionSimTest, ModuleLeftStreamingIsStoppedAtItsOwnSpeedAndConnectionGoesOn) {
    SimConfig config;
    config.faults.streamingAtStart = true;
    StartSim(config);
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = SimComNumber;
    connection.ConnectAtStartup(host);

    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.dialogShown.empty());
    EXPECT_FALSE(Sim().Stats().streaming);
    ASSERT_TRUE(Sim().WaitForReceived(7, 2000ms));
    const std::vector<ReceivedByte> bytes = Sim().Received();
    ASSERT_EQ(ReceivedText(), "P89PGQS");
    // "P" and "9" at 38400 go past a module that listens at 128000; the "8" at 128000 stops it.
    const bool heard[] = {false, true, false, true, true, true, true};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(bytes[i].heard, heard[i]) << "byte " << i;
    }
    EXPECT_EQ(bytes[1].lineSpeed, 128000u);
    EXPECT_EQ(host.profileWrites, (std::vector<int>{SimComNumber}));
}

TEST_F(ConnectionSimTest, PortThatCannotBeOpenedGivesResultOne) {
    MapMissing(SimComNumber);
    EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 1);
    EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed}));
    // The box names the device that was tried, the system's reason, and the way to the adapter.
    EXPECT_EQ(host.details,
              (std::vector<std::string>{
                  "Device: /nonexistent/sorvell-test-port (COM" + std::to_string(SimComNumber) +
                  ")\nNo such file or directory. Choose your adapter in the list of "
                  "the next dialog."}));
    EXPECT_EQ(connection.Settings(), nullptr);
}

TEST_F(ConnectionSimTest, ADeviceThatOpensButIsNoTerminalIsNamedAsNoSerialDevice) {
    // Reachable and ours to open, so the reason comes from the open itself, not a guess.
    SetComDevicePath(SimComNumber, "/dev/null");
    EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 1);
    EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed}));
    EXPECT_EQ(host.details,
              (std::vector<std::string>{"Device: /dev/null (COM" + std::to_string(SimComNumber) +
                                        ")\nNot a serial device. " + ChooseAdapterText}));
}

TEST_F(ConnectionSimTest, ANumberThatIsNoComNumberPointsToTheListOfAdapters) {
    EXPECT_EQ(connection.ConnectModule(host, 0), 1);
    EXPECT_EQ(host.details, (std::vector<std::string>{"COM0 is no port: numbers run from 1 to 16. "
                                                      "Choose your adapter in the list of the "
                                                      "next dialog."}));
}

TEST_F(ConnectionSimTest, ADeviceTheUserMayNotOpenIsNamedWithTheDialoutHint) {
    const LockedTerminal terminal;
    const std::string& slave = terminal.Path();
    ASSERT_FALSE(slave.empty());
    SetComDevicePath(SimComNumber, slave);
    const std::string expected = "Device: " + slave + " (COM" + std::to_string(SimComNumber) +
                                 ")\nPermission denied.\nYour user may not open it: add it to "
                                 "the dialout group (sudo adduser $USER dialout), then log in "
                                 "again.";
    const auto attempt = [&] {
        return connection.ConnectModule(host, SimComNumber) == 1 &&
               host.messages == std::vector<std::string>{OpenFailed} &&
               host.details == std::vector<std::string>{expected};
    };
    // Root opens every device: then the attempt is made as an unprivileged user.
    EXPECT_TRUE(CheckAsUnprivilegedUser(attempt)) << (host.details.empty() ? "" : host.details[0]);
}

TEST_F(ConnectionSimTest, PortHeldByAnotherProcessGivesResultOne) {
    StartSim();
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const std::string path = ComDevicePath(SimComNumber);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the device as another serial program would, until told to let go.
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char done;
        (void)!read(release[0], &done, 1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 1);
    EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed}));
    EXPECT_EQ(host.details,
              (std::vector<std::string>{"Device: " + path + " (COM" + std::to_string(SimComNumber) +
                                        ")\nIt may be in use by another program."}));
    EXPECT_TRUE(ReceivedText().empty());

    const char done = 'x';
    (void)!write(release[1], &done, 1);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        close(fd);
    }
    // Once the other program has let go the same number connects.
    host.messages.clear();
    EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 0);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(ConnectionSimTest, LineThatRefusesAHandshakeSpeedGivesResultsTwoAndThree) {
    StartSim();
    SerialSeam::FailBaudRate(38400);
    EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 2);
    EXPECT_EQ(host.messages, (std::vector<std::string>{"Could not set 38.4K baud rate."}));
    ASSERT_EQ(host.details.size(), 1u);
    EXPECT_EQ(host.details[0], "Device: " + ComDevicePath(SimComNumber) + " (COM" +
                                   std::to_string(SimComNumber) +
                                   ")\nThe device does not support this line setting.");
    SerialSeam::ClearBaudFailures();

    SerialSeam::FailBaudRate(128000);
    host.messages.clear();
    EXPECT_EQ(connection.ConnectModule(host, SimComNumber), 3);
    EXPECT_EQ(host.messages, (std::vector<std::string>{"Could not set 128K baud rate."}));
    ASSERT_TRUE(Sim().WaitUntilLineRead(2000ms));
    EXPECT_EQ(ReceivedText(), "P9");
    SerialSeam::ClearBaudFailures();
    EXPECT_TRUE(host.profileWrites.empty());
}

TEST_F(ConnectionSimTest, NumbersOutsideOneToSixteenBuildNoPort) {
    for (int number : {0, -4, 17, 999}) {
        host.messages.clear();
        EXPECT_EQ(connection.ConnectModule(host, number), 1) << number;
        EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed}));
        EXPECT_EQ(connection.Port(), nullptr);
        EXPECT_EQ(connection.Link(), nullptr);
    }
}

TEST_F(ConnectionSimTest, SavedNumberAboveSixteenOrMissingTriesComThree) {
    for (const int saved : {-1, 20, 1000}) {
        SCOPED_TRACE(saved);
        StartSim();
        FakeHost fresh;
        if (saved >= 0) {
            fresh.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = saved;
        }
        ModuleConnection attempt(clock);
        attempt.ConnectAtStartup(fresh);
        EXPECT_TRUE(fresh.messages.empty());
        EXPECT_EQ(fresh.profileWrites, (std::vector<int>{3}));
        EXPECT_EQ(attempt.portNumber, 0);
        ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
        EXPECT_EQ(ReceivedText(), "P9PGQS");
    }
}

TEST_F(ConnectionSimTest, OkWithANewNumberConnectsThereAndSavesIt) {
    StartSim(SimConfig{}, 7);
    MapMissing(5);
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = 5;
    host.dialog = [](int& portNumber) { portNumber = 7; };
    connection.ConnectAtStartup(host);
    EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed}));
    EXPECT_EQ(host.dialogShown, (std::vector<int>{5}));
    EXPECT_EQ(host.profileWrites, (std::vector<int>{7, 7}));
    EXPECT_EQ(connection.portNumber, 7);
    ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
    EXPECT_EQ(ReceivedText(), "P9PGQS");
    // The second read takes the profile as the dialog left it, without the start-up limit.
    ASSERT_EQ(host.profileReads.size(), 2u);
}

TEST_F(ConnectionSimTest, AProfileThatCannotKeepTheNumberStillGetsTheTypedOneTried) {
    StartSim(SimConfig{}, 7);
    MapMissing(5);
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = 5;
    host.profileKeeps = false;
    host.dialog = [](int& portNumber) { portNumber = 7; };
    connection.ConnectAtStartup(host);
    EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed}));
    EXPECT_EQ(host.dialogShown, (std::vector<int>{5}));
    EXPECT_EQ(host.profileWrites, (std::vector<int>{7, 7}));
    EXPECT_EQ(host.profileReads.size(), 1u);  // the old 5 is not read back
    ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
    EXPECT_EQ(ReceivedText(), "P9PGQS");
}

TEST_F(ConnectionSimTest, EscapeTriesTheSameNumberAgain) {
    MapMissing(4);
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = 4;
    host.dialog = [this](int&) {
        // The user plugs the module in and cancels: the same number is tried again.
        StartSim(SimConfig{}, 4);
    };
    connection.ConnectAtStartup(host);
    EXPECT_EQ(host.dialogShown, (std::vector<int>{4}));
    EXPECT_EQ(host.profileWrites, (std::vector<int>{4, 4}));
    ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
    EXPECT_EQ(ReceivedText(), "P9PGQS");
}

TEST_F(ConnectionSimTest, TerminateSendsNoStartCommandsAndTheFirstTickCloses) {
    SimConfig config;
    config.faults.answer = "";
    StartSim(config);
    SpectrumStore store;
    TavrekModule module(store, clock);
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = SimComNumber;
    host.dialog = [](int& portNumber) { portNumber = TerminatePortNumber; };
    module.ConnectAtStartup(host);
    EXPECT_EQ(host.messages, (std::vector<std::string>{NoAnswer}));
    EXPECT_EQ(host.profileWrites, (std::vector<int>{1000}));
    EXPECT_EQ(module.Connection().portNumber, 1000);

    module.OnTimer(host);
    EXPECT_EQ(host.closes, 1);
    ASSERT_TRUE(Sim().WaitUntilLineRead(2000ms));
    EXPECT_EQ(ReceivedText(), "P9P");
}

TEST_F(ConnectionSimTest, NumbersOutsideTheRangeAreAskedForAgain) {
    StartSim();
    host.profile[FakeHost::Key(Profile::AppSection, Profile::ComPortEntry)] = 0;
    std::vector<bool> hadPort;
    host.dialog = [&](int& portNumber) {
        hadPort.push_back(connection.Port() != nullptr || connection.Link() != nullptr);
        portNumber = portNumber == 0 ? 17 : SimComNumber;
    };
    connection.ConnectAtStartup(host);
    EXPECT_EQ(host.messages, (std::vector<std::string>{OpenFailed, OpenFailed}));
    EXPECT_EQ(host.dialogShown, (std::vector<int>{0, 17}));
    EXPECT_EQ(hadPort, (std::vector<bool>{false, false}));
    EXPECT_EQ(host.profileWrites, (std::vector<int>{17, SimComNumber, SimComNumber}));
    ASSERT_TRUE(Sim().WaitForReceived(6, 2000ms));
}

TEST_F(ConnectionSimTest, TearDownPutsTheLineBackBeforeClosingThePort) {
    StartSim();
    ASSERT_EQ(connection.ConnectModule(host, SimComNumber), 0);
    SerialSeam::Reset();
    connection.TearDown();
    std::vector<DWORD> speeds;
    std::vector<SerialCall> order;
    for (const auto& [call, argument] : SerialSeam::CallLog()) {
        if (call == SerialCall::SetCommState) {
            speeds.push_back(argument);
        }
        if (call == SerialCall::SetCommState || call == SerialCall::CloseHandle) {
            order.push_back(call);
        }
    }
    // The line settings go first, from 128000 back to the 9600 the link had set; then the link
    // puts back what the port had; the port is closed last.
    ASSERT_FALSE(speeds.empty());
    EXPECT_EQ(speeds.front(), 9600u);
    EXPECT_NE(speeds.back(), 128000u);
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.back(), SerialCall::CloseHandle);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::CloseHandle), 1);
    EXPECT_EQ(connection.Settings(), nullptr);
    EXPECT_EQ(connection.Link(), nullptr);
    EXPECT_EQ(connection.Port(), nullptr);
}

}  // namespace
