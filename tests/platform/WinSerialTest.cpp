// The Windows serial calls on POSIX terminals, over real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <iterator>
#include <string>
#include <utility>

#include "ComDeviceMap.h"
#include "ProcessChecks.h"
#include "PtyHarness.h"
#include "SerialSeam.h"
#include "TemporaryFolder.h"
#include "WinSerial.h"

namespace {

constexpr int kCom = 9;
constexpr const char* kName = "\\\\.\\COM9";

HANDLE OpenCom(const char* name = kName) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

class WinSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SerialSeam::Reset();
        ASSERT_TRUE(pty.ok());
    }
    void TearDown() override { SerialSeam::Reset(); }

    static DWORD InQueue(HANDLE device) {
        COMSTAT status{};
        DWORD errors = 0;
        return ClearCommError(device, &errors, &status) ? status.cbInQue : 0xFFFFFFFFu;
    }

    PtyPair pty{kCom};
};

TEST(ComDeviceMap, DefaultsToTheSerialDeviceOfTheSameNumber) {
    ClearComDeviceMap();
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(ComDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(16), "/dev/ttyS15");
    SetComDevicePath(3, "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");
    SetComDevicePath(3, "");
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyS2");
    SetComDevicePath(5, "/dev/pts/9");
    ClearComDeviceMap();
    EXPECT_EQ(ComDevicePath(5), "/dev/ttyS4");
}

// Repeats `poke` every 5 ms until `waiting` has finished (at most 5 s); true when it finished.
template <typename T>
bool PokeUntilDone(std::future<T>& waiting, const std::function<void()>& poke) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waiting.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        poke();
    }
    return true;
}

TEST_F(WinSerialTest, OpenRefusesNamesAndFilesThatAreNoSerialDevice) {
    for (const char* name :
         {"\\\\.\\COM0", "\\\\.\\COM", "\\\\.\\COM3x", "LPT1", "", "\\\\.\\COM-1"}) {
        EXPECT_EQ(OpenCom(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
    EXPECT_EQ(OpenCom(nullptr), INVALID_HANDLE_VALUE);
    SetComDevicePath(kCom, "/nonexistent/tty");
    EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetComDevicePath(kCom, "/dev/null");  // opens, but is no terminal
    EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    SetComDevicePath(kCom, pty.slavePath());
}

TEST_F(WinSerialTest, SpecialFilesThatAreNoCharacterDeviceAreNeverOpened) {
    TemporaryFolder dir;
    ASSERT_TRUE(dir.Create("sorvell-ports"));
    const std::string file = dir.Path("file");
    const std::string fifo = dir.Path("fifo");
    std::FILE* created = std::fopen(file.c_str(), "w");
    ASSERT_NE(created, nullptr);
    std::fclose(created);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.Path().c_str(), IN_OPEN), 0);
    for (const std::string& path : {file, fifo, dir.Path()}) {
        SetComDevicePath(kCom, path);
        EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE) << path;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << path;
    }
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "a refused path was opened";
    close(watch);
    SetComDevicePath(kCom, pty.slavePath());
}

TEST_F(WinSerialTest, RefusedAndFailedOpensLeaveNoDescriptorBehind) {
    HANDLE held = OpenCom();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int before = OpenDescriptors();
    EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE);  // held: the lock is refused after the open
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    for (const char* path : {"/dev/null", "/nonexistent/tty", "/tmp"}) {
        SetComDevicePath(kCom, path);
        EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE) << path;
    }
    SetComDevicePath(kCom, pty.slavePath());
    SerialSeam::FailCall(SerialCall::CreateFile, ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(CloseHandle(held));
    EXPECT_EQ(OpenDescriptors(), before - 1);
}

TEST_F(WinSerialTest, AClosedHandleNeverReachesADeviceOpenedLater) {
    HANDLE first = OpenCom();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(first));
    HANDLE second = OpenCom();
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(first, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_TRUE(GetCommState(second, &dcb));
    EXPECT_TRUE(CloseHandle(second));
}

TEST_F(WinSerialTest, ATerminalLeftAtSpeedZeroIsRawAtOnce) {
    // Another user of the terminal left it canonical and hung up (speed 0).
    const int other = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    termios cooked{};
    ASSERT_EQ(tcgetattr(other, &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO;
    cfsetispeed(&cooked, B0);
    cfsetospeed(&cooked, B0);
    ASSERT_EQ(tcsetattr(other, TCSANOW, &cooked), 0);
    ASSERT_EQ(pty.Speed(), 0u);

    HANDLE device = OpenCom();
    close(other);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    termios now{};
    ASSERT_EQ(tcgetattr(pty.master(), &now), 0);  // the master reads the slave's settings
    EXPECT_EQ(now.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(pty.Speed(), 9600u);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(device, &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    ASSERT_TRUE(pty.Send("x"));  // no newline needed
    EXPECT_TRUE(WaitUntil([&] { return InQueue(device) == 1; }));
    CloseHandle(device);
}

TEST_F(WinSerialTest, StopBitsFlowControlAndParitySenseSurviveAReadBack) {
    // A pseudo-terminal forces 8 data bits and clears PARENB, but keeps the rest of what was
    // set: the flags the layer asks for reach the driver.
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    struct Row {
        BYTE parity, stopBits;
        bool cts, xonOut, xonIn;
        unsigned cflag, iflag;
    };
    const Row table[] = {
        {ODDPARITY, ONESTOPBIT, false, false, false, PARODD, 0},
        {EVENPARITY, TWOSTOPBITS, false, false, false, CSTOPB, 0},
        {MARKPARITY, ONESTOPBIT, true, false, false, PARODD | CMSPAR | CRTSCTS, 0},
        {SPACEPARITY, TWOSTOPBITS, false, true, false, CMSPAR | CSTOPB, IXON},
        {NOPARITY, ONESTOPBIT, false, true, true, 0, IXON | IXOFF},
    };
    for (const Row& row : table) {
        DCB dcb{};
        ASSERT_TRUE(GetCommState(device, &dcb));
        dcb.Parity = row.parity;
        dcb.StopBits = row.stopBits;
        dcb.fOutxCtsFlow = row.cts;
        dcb.fOutX = row.xonOut;
        dcb.fInX = row.xonIn;
        ASSERT_TRUE(SetCommState(device, &dcb)) << int(row.parity);
        termios now{};
        ASSERT_EQ(tcgetattr(pty.master(), &now), 0);
        EXPECT_EQ(now.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), row.cflag) << int(row.parity);
        EXPECT_EQ(now.c_iflag & (IXON | IXOFF | IXANY), row.iflag) << int(row.parity);
    }
    CloseHandle(device);
}

TEST_F(WinSerialTest, ErrorCountersBecomeLineErrorsOnce) {
    SerialSeam::SetErrorCounters(ErrorCounters{});
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ErrorCounters counters;
    counters.frame = 2;
    counters.brk = 1;
    SerialSeam::SetErrorCounters(counters);
    DWORD errors = 0;
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(device, &errors, &status));
    EXPECT_EQ(errors, DWORD{CE_FRAME | CE_BREAK});
    ASSERT_TRUE(ClearCommError(device, &errors, &status));
    EXPECT_EQ(errors, 0u);
    CloseHandle(device);
}

TEST_F(WinSerialTest, WaitCommEventRefusesEventsTheDeviceCannotShow) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    // A pseudo-terminal has neither modem lines nor error counters.
    for (DWORD mask : {EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_ERR, EV_BREAK, EV_RXFLAG,
                       EV_RXCHAR | EV_CTS, DWORD{0x200}}) {
        ASSERT_TRUE(SetCommMask(device, mask));
        DWORD events = 99;
        EXPECT_FALSE(WaitCommEvent(device, &events, nullptr)) << mask;
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << mask;
        EXPECT_EQ(events, 0u) << mask;
    }
    CloseHandle(device);
}

TEST_F(WinSerialTest, WaitCommEventSeesLineEventsAndEndsWhenTheMaskChanges) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    const auto wait = [device] {
        DWORD events = 0xFFFF;
        const BOOL ok = WaitCommEvent(device, &events, nullptr);
        return ok ? events : DWORD{0xDEAD};
    };

    // A new mask ends a wait on a quiet line, with no event.
    ASSERT_TRUE(SetCommMask(device, EV_RXCHAR));
    std::future<DWORD> quiet = std::async(std::launch::async, wait);
    ASSERT_TRUE(PokeUntilDone(quiet, [&] { SetCommMask(device, EV_RXCHAR); }));
    EXPECT_EQ(quiet.get(), 0u);

    // Errors and breaks counted by the driver.
    ErrorCounters counters;
    SerialSeam::SetErrorCounters(counters);
    ASSERT_TRUE(SetCommMask(device, EV_ERR | EV_RXCHAR));
    std::future<DWORD> error = std::async(std::launch::async, wait);
    ASSERT_TRUE(PokeUntilDone(error, [&] {
        ++counters.parity;
        SerialSeam::SetErrorCounters(counters);
    }));
    EXPECT_EQ(error.get(), DWORD{EV_ERR});
    ASSERT_TRUE(SetCommMask(device, EV_BREAK));
    std::future<DWORD> brk = std::async(std::launch::async, wait);
    ASSERT_TRUE(PokeUntilDone(brk, [&] {
        ++counters.brk;
        SerialSeam::SetErrorCounters(counters);
    }));
    EXPECT_EQ(brk.get(), DWORD{EV_BREAK});

    // A modem line that changes.
    SerialSeam::SetModemStatus(0);
    ASSERT_TRUE(SetCommMask(device, EV_CTS));
    std::future<DWORD> cts = std::async(std::launch::async, wait);
    DWORD lines = 0;
    ASSERT_TRUE(PokeUntilDone(cts, [&] {
        lines ^= MS_CTS_ON;  // toggled, so the wait sees a change whenever it started
        SerialSeam::SetModemStatus(lines);
    }));
    EXPECT_EQ(cts.get(), DWORD{EV_CTS});
    CloseHandle(device);
}

TEST_F(WinSerialTest, CallsOnHandlesThatNameNoDeviceFail) {
    int notADevice = 0;
    DCB dcb{};
    DWORD value = 0;
    COMSTAT status{};
    for (HANDLE handle :
         {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&notADevice)}) {
        SetLastError(0);
        EXPECT_FALSE(GetCommState(handle, &dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetCommState(handle, &dcb));
        EXPECT_FALSE(ClearCommError(handle, &value, &status));
        EXPECT_FALSE(ReadFile(handle, &value, 1, &value, nullptr));
        EXPECT_FALSE(WriteFile(handle, "x", 1, &value, nullptr));
        EXPECT_FALSE(EscapeCommFunction(handle, SETDTR));
        EXPECT_FALSE(PurgeComm(handle, PURGE_RXCLEAR));
        EXPECT_FALSE(CloseHandle(handle));
    }
}

TEST_F(WinSerialTest, TerminalIsRawAtOnce) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    // No newline needed, nothing translated, nothing echoed back.
    ASSERT_TRUE(pty.Send(std::string("a\rb\x03\x04\x7f", 6)));
    ASSERT_TRUE(WaitUntil([&] { return InQueue(device) == 6; }));
    char buffer[16] = {};
    DWORD got = 0;
    OVERLAPPED record{};
    ASSERT_TRUE(ReadFile(device, buffer, sizeof buffer, &got, &record));
    EXPECT_EQ(std::string(buffer, got), std::string("a\rb\x03\x04\x7f", 6));
    EXPECT_EQ(record.InternalHigh, got);
    EXPECT_TRUE(HasOverlappedIoCompleted(&record));
    // Nothing waiting: the read returns at once with nothing.
    EXPECT_TRUE(ReadFile(device, buffer, sizeof buffer, &got, &record));
    EXPECT_EQ(got, 0u);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(device, "\n\r", 2, &written, &record));
    EXPECT_EQ(written, 2u);
    // An echo of the six bytes taken above would have reached the far end before these two.
    EXPECT_EQ(pty.Receive(2), "\n\r");
    EXPECT_TRUE(TransmitCommChar(device, 'T'));
    EXPECT_EQ(pty.Receive(1), "T");
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(WinSerialTest, TheControlBlockSetIsTheOneReturned) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(device, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonLim = 77;
    dcb.EvtChar = '!';
    ASSERT_TRUE(SetCommState(device, &dcb));
    EXPECT_EQ(pty.Speed(), 9600u);
    DCB back{};
    ASSERT_TRUE(GetCommState(device, &back));  // a pseudo-terminal forces 8N1; we keep ours
    EXPECT_EQ(back.ByteSize, 7);
    EXPECT_EQ(back.Parity, EVENPARITY);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.XonLim, 77);
    EXPECT_EQ(back.EvtChar, '!');

    // Refused blocks are not kept: the speed and the sizes stay as last accepted.
    const std::pair<void (*)(DCB&), DWORD> refused[] = {
        {[](DCB& d) { d.ByteSize = 4; }, ERROR_INVALID_PARAMETER},
        {[](DCB& d) { d.StopBits = ONE5STOPBITS; }, ERROR_INVALID_PARAMETER},  // 5 bits only
        {[](DCB& d) { d.Parity = 5; }, ERROR_INVALID_PARAMETER},
        {[](DCB& d) { d.fOutxDsrFlow = 1; }, ERROR_NOT_SUPPORTED},
        {[](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }, ERROR_NOT_SUPPORTED},
        {[](DCB& d) { d.BaudRate = 0; }, ERROR_INVALID_PARAMETER},
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        DCB bad = back;
        refused[i].first(bad);
        EXPECT_FALSE(SetCommState(device, &bad)) << i;
        EXPECT_EQ(GetLastError(), refused[i].second) << i;
    }
    DCB five = back;
    five.ByteSize = 5;
    five.StopBits = ONE5STOPBITS;
    EXPECT_TRUE(SetCommState(device, &five));
    EXPECT_EQ(pty.Speed(), 9600u);
    ASSERT_TRUE(GetCommState(device, &back));
    EXPECT_EQ(back.ByteSize, 5);  // refused blocks were not kept
    CloseHandle(device);
}

TEST_F(WinSerialTest, SecondOpenIsRefusedInThisAndAnotherProcess) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenCom(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const HANDLE other = OpenCom();
        _exit(other == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another process opened the held device";

    ASSERT_TRUE(CloseHandle(device));
    HANDLE again = OpenCom();
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(WinSerialTest, HangUpFailsEveryTransfer) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    pty.HangUp();
    COMSTAT status{};
    DWORD errors = 0;
    EXPECT_FALSE(ClearCommError(device, &errors, &status));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    char buffer[8];
    DWORD got = 99;
    OVERLAPPED record{};
    EXPECT_FALSE(ReadFile(device, buffer, sizeof buffer, &got, &record));
    EXPECT_EQ(got, 0u);
    DWORD done = 0;
    EXPECT_FALSE(GetOverlappedResult(device, &record, &done, TRUE));
    EXPECT_FALSE(WriteFile(device, "abc", 3, &done, &record));
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(WinSerialTest, SeamFailuresCountDownAndQueueCountsStandIn) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DWORD modem = 0;
    EXPECT_FALSE(GetCommModemStatus(device, &modem));  // no modem lines on a pseudo-terminal

    SerialSeam::FailCall(SerialCall::PurgeComm, ERROR_GEN_FAILURE, 2);
    EXPECT_FALSE(PurgeComm(device, PURGE_RXCLEAR));
    EXPECT_FALSE(PurgeComm(device, PURGE_RXCLEAR));
    EXPECT_TRUE(PurgeComm(device, PURGE_RXCLEAR));
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::PurgeComm), 3);

    SerialSeam::SetQueueCounts(7, 9);
    COMSTAT status{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(device, &errors, &status));
    EXPECT_EQ(status.cbInQue, 7u);
    EXPECT_EQ(status.cbOutQue, 9u);
    SerialSeam::Reset();
    ASSERT_TRUE(ClearCommError(device, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    CloseHandle(device);
}

TEST_F(WinSerialTest, BreakAndEventMask) {
    HANDLE device = OpenCom();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetCommBreak(device));
    EXPECT_TRUE(ClearCommBreak(device));
    DWORD mask = 1;
    EXPECT_TRUE(GetCommMask(device, &mask));
    EXPECT_EQ(mask, 0u);
    EXPECT_TRUE(SetCommMask(device, EV_RXCHAR | EV_TXEMPTY));
    DWORD events = 0;
    EXPECT_TRUE(WaitCommEvent(device, &events, nullptr));
    EXPECT_EQ(events, EV_TXEMPTY);
    COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 0};
    EXPECT_TRUE(SetCommTimeouts(device, &timeouts));
    COMMTIMEOUTS back{};
    EXPECT_TRUE(GetCommTimeouts(device, &back));
    EXPECT_EQ(back.ReadIntervalTimeout, 0xFFFFFFFFu);
    CloseHandle(device);
}

}  // namespace
