// The Windows serial calls on POSIX terminals, over real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <iterator>
#include <string>
#include <utility>

#include "ComDeviceMap.h"
#include "PtyHarness.h"
#include "SerialSeam.h"
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
    ASSERT_TRUE(PtyPair::WaitFor([&] { return InQueue(device) == 6; }));
    char buffer[16] = {};
    DWORD got = 0;
    OVERLAPPED record{};
    ASSERT_TRUE(ReadFile(device, buffer, sizeof buffer, &got, &record));
    EXPECT_EQ(std::string(buffer, got), std::string("a\rb\x03\x04\x7f", 6));
    EXPECT_EQ(record.InternalHigh, got);
    EXPECT_TRUE(HasOverlappedIoCompleted(&record));
    EXPECT_EQ(pty.Drain(50), "");  // nothing echoed
    // Nothing waiting: the read returns at once with nothing.
    EXPECT_TRUE(ReadFile(device, buffer, sizeof buffer, &got, &record));
    EXPECT_EQ(got, 0u);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(device, "\n\r", 2, &written, &record));
    EXPECT_EQ(written, 2u);
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
