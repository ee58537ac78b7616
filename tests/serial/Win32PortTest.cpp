// The Win32 port over a real pseudo-terminal, with the platform seam driving what a
// pseudo-terminal cannot show (modem lines, line errors, hold flags, full queues, failures).
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ComDeviceMap.h"
#include "ProcessChecks.h"
#include "PtyHarness.h"
#include "SerialSeam.h"
#include "Win32Port.h"

namespace {

constexpr int kCom = 7;
constexpr int kIndex = kCom - 1;

std::vector<std::string>& DumpedLines() {
    static std::vector<std::string> lines;
    return lines;
}

int CollectLine(const char* line) {
    DumpedLines().emplace_back(line);
    return 0;
}

std::vector<std::string> Dump(CWin32Port& port) {
    DumpedLines().clear();
    port.DumpStatus(CollectLine);
    return DumpedLines();
}

using Params = std::tuple<long, char, int, int>;  // baud, parity, data bits, stop bits

Params LineParams(CWin32Port& port) {
    Params p{};
    port.GetLineParameters(std::get<0>(p), std::get<1>(p), std::get<2>(p), std::get<3>(p));
    return p;
}

using Flow = std::pair<int, int>;  // input and output handshake

Flow Handshake(CWin32Port& port) {
    Flow flow{-1, -1};
    port.GetHandshake(flow.first, flow.second);
    return flow;
}

class Win32PortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SerialSeam::Reset();
        ASSERT_TRUE(pty.ok());
        ASSERT_EQ(PortOpenCount[kIndex], 0);
    }
    void TearDown() override {
        SerialSeam::Reset();
        EXPECT_EQ(PortOpenCount[kIndex], 0) << "a port kept its claim";
    }

    // Sends bytes from the far end and waits until the port counts them.
    void Arrive(CWin32Port& port, const std::string& bytes) {
        ASSERT_TRUE(pty.Send(bytes));
        ASSERT_TRUE(WaitUntil([&] {
            BufferStatus status{};
            return port.GetBufferStatus(&status, 1)->rxCount >= static_cast<int>(bytes.size());
        }));
    }

    int CountCalls(SerialCall call, DWORD argument) {
        int n = 0;
        for (const auto& [made, arg] : SerialSeam::CallLog()) {
            n += made == call && arg == argument;
        }
        return n;
    }

    PtyPair pty{kCom};
};

TEST_F(Win32PortTest, FreshPortIsOpenWithTheDefaultSettings) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_EQ(port.PendingError(), 0);
    EXPECT_EQ(port.PortIndex(), kIndex);
    EXPECT_EQ(PortOpenCount[kIndex], 1);
    EXPECT_EQ(port.LineControl(LINE_DTR, -1), 1);
    EXPECT_EQ(port.LineControl(LINE_RTS, -1), 1);
    EXPECT_EQ(Handshake(port), Flow(0, 0));
    EXPECT_EQ(port.Break(-1), 0);
    EXPECT_EQ(LineParams(port), Params(19200, 'N', 8, 1));
    EXPECT_EQ(pty.Speed(), 19200u);
    EXPECT_EQ(port.Idle(), 0);
}

TEST_F(Win32PortTest, ConstructionOpensConfiguresThenRaisesDtrAndRts) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    // The copy is read from the driver before it is changed, the timeouts are set before the
    // copy reaches the driver, and DTR and RTS are raised last.
    const std::vector<std::pair<SerialCall, DWORD>> expected = {
        {SerialCall::CreateFile, kCom},
        {SerialCall::SetupComm, 0},
        {SerialCall::SetCommMask, 0},
        {SerialCall::GetCommState, 0},
        {SerialCall::SetCommTimeouts, 0},
        {SerialCall::SetCommState, 19200},
        {SerialCall::EscapeCommFunction, SETDTR},
        {SerialCall::EscapeCommFunction, SETRTS},
    };
    EXPECT_EQ(SerialSeam::CallLog(), expected);
}

TEST_F(Win32PortTest, DumpStatusAfterConstruction) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    const std::vector<std::string> expected = {
        "Port type: MS Win32  BaudRate: 19200   ByteSize: 8  Parity: 0",
        "StopBits: 0  fBinary: 1  fRtsControl: 1",
        "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
        "Null: 0  XonChar: 11  XoffChar: 13",
        "XonLim: 1024  XoffLim: 128   EofChr: 00  EvtChr: 00",
        "RX sz/ct:  4096/0      TX sz/ct:  2048/0      BLOCK SENT:0  BLOCK RECEIVED:0",
    };
    EXPECT_EQ(Dump(port), expected);
}

TEST_F(Win32PortTest, DumpStatusWidensCharactersAsSignedAndShowsHoldFlags) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_NE(port.SetEventChar(static_cast<char>(0x80)), 0);
    SerialSeam::SetHoldFlags(false, false, true, true);
    Arrive(port, "abc");
    const std::vector<std::string> lines = Dump(port);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "XonLim: 1024  XoffLim: 128   EofChr: 00  EvtChr: ffffff80");
    EXPECT_EQ(lines[5],
              "RX sz/ct:  4096/3      TX sz/ct:  2048/0      BLOCK SENT:1  BLOCK RECEIVED:1");
    // Each hold on its own means the port's sending is held.
    for (int hold = 0; hold < 3; ++hold) {
        SerialSeam::SetHoldFlags(hold == 0, hold == 1, hold == 2, false);
        BufferStatus buffers{};
        EXPECT_EQ(port.GetBufferStatus(&buffers, 7)->flowFlags, FLOW_BLOCK_RECEIVED) << hold;
    }
}

TEST_F(Win32PortTest, IndicesZeroAndFifteenNameComOneAndComSixteen) {
    for (int index : {0, 15}) {
        SerialSeam::Reset();
        SetComDevicePath(index + 1, pty.slavePath());
        {
            CWin32Port port(index, 4096, 2048, 0);
            EXPECT_EQ(port.PendingError(), 0) << "index " << index;
            EXPECT_EQ(CountCalls(SerialCall::CreateFile, static_cast<DWORD>(index + 1)), 1);
        }
        SetComDevicePath(index + 1, "");
        EXPECT_EQ(PortOpenCount[index], 0);
    }
}

TEST_F(Win32PortTest, SecondPortOnAnOpenIndexIsRefusedAndLeavesTheFirstWorking) {
    CWin32Port first(kIndex, 4096, 2048, 0);
    ASSERT_EQ(first.PendingError(), 0);
    SerialSeam::Reset();
    {
        CWin32Port second(kIndex, 4096, 2048, 0);
        EXPECT_EQ(second.PendingError(), COM_ERR_IN_USE);
        EXPECT_EQ(SerialSeam::CallCount(SerialCall::CreateFile), 0);
        EXPECT_EQ(PortOpenCount[kIndex], 1);
        // Reading from the refused port fails but keeps the refusal's code.
        char none[4];
        EXPECT_EQ(second.Read(none, sizeof none), 0);
        EXPECT_EQ(second.PendingError(), COM_ERR_IN_USE);
    }
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::CloseHandle), 0);
    EXPECT_EQ(PortOpenCount[kIndex], 1);
    EXPECT_EQ(first.WriteString("ok"), 2);
    EXPECT_EQ(pty.Receive(2), "ok");
    Arrive(first, "yes");
    char buffer[8] = {};
    EXPECT_EQ(first.Read(buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "yes");
}

TEST_F(Win32PortTest, IndexOutsideTheCounterTableOpensNothing) {
    for (int index : {-1, PORT_INDEX_COUNT, 100000}) {
        SerialSeam::Reset();
        CWin32Port port(index, 4096, 2048, 0);
        EXPECT_EQ(port.PendingError(), COM_ERR_NO_DEVICE) << index;
        EXPECT_EQ(SerialSeam::CallCount(SerialCall::CreateFile), 0);
        EXPECT_EQ(port.Write("x", 1), 0);
        EXPECT_EQ(port.ReadByte(), COM_ERR_TIMEOUT);
    }
}

TEST_F(Win32PortTest, DeferredPortAnswersEverythingWithoutRecords) {
    CWin32Port port(kIndex, 4096, 2048, 1);
    EXPECT_EQ(port.PendingError(), 0);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::CreateFile), 0);
    BufferStatus buffers{};
    EXPECT_EQ(port.GetBufferStatus(&buffers, 7)->rxKnown, 0);
    PackedLineStatus lines{};
    EXPECT_EQ(port.GetLineStatus(&lines), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.SetLineParameters(38400, 'N', 8, 1), COM_ERR_NO_DEVICE);
    long baud = 1;
    char parity = 'X';
    int dataBits = 1, stopBits = 1;
    EXPECT_EQ(port.GetLineParameters(baud, parity, dataBits, stopBits), COM_ERR_NO_DEVICE);
    EXPECT_EQ(baud, 0);
    EXPECT_EQ(port.SetHandshake(1, 1), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.SetBufferSizes(100, 10, 100), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.LineControl(LINE_DTR, 0), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.Break(1), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.Break(-1), 0);
    EXPECT_EQ(port.Purge(0, 3), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.TransmitChar('a'), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.DumpStatus(CollectLine), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.SetEventChar('a'), 0);
    DWORD mask = 0;
    EXPECT_EQ(port.GetEventMask(&mask), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.WaitEvent(&mask), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.Close(), COM_ERR_NO_DEVICE);
    EXPECT_EQ(port.Read(&mask, 4), 0);
    EXPECT_EQ(port.WriteByte('a'), COM_ERR_NO_DEVICE);
    port.Open(kIndex);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_NO_DEVICE);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::CreateFile), 0);
    EXPECT_EQ(PortOpenCount[kIndex], 0);
}

TEST_F(Win32PortTest, MissingDeviceFailsWithGeneralFailureAndClaimsNothing) {
    SetComDevicePath(kCom, "/nonexistent/ttyNone");
    {
        CWin32Port port(kIndex, 4096, 2048, 0);
        EXPECT_EQ(port.PendingError(), COM_ERR_FAILED);
        EXPECT_EQ(PortOpenCount[kIndex], 0);
        EXPECT_EQ(port.Read(nullptr, 0), 0);
        EXPECT_EQ(port.LineControl(LINE_CTS, -1), 0);
    }
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::CloseHandle), 0);
}

TEST_F(Win32PortTest, LineParametersReachTheFarEnd) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_EQ(port.SetLineParameters(38400, 'N', 8, 1), 0);
    EXPECT_EQ(pty.Speed(), 38400u);
    EXPECT_EQ(port.SetLineParameters(128000, 'N', 8, 1), 0);
    EXPECT_EQ(pty.Speed(), 128000u);
    EXPECT_EQ(LineParams(port), Params(128000, 'N', 8, 1));
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, ARateTheDriverSubstitutesFailsAndLeavesThePreviousRateInForce) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    ASSERT_EQ(port.SetLineParameters(38400, 'N', 8, 1), 0);
    // A 16550 asked for more than its clock allows keeps its old rate; USB drivers fall back.
    SerialSeam::SubstituteBaudRate(128000, 115200);
    EXPECT_EQ(port.SetLineParameters(128000, 'N', 8, 1), COM_ERR_FAILED);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_FAILED);
    EXPECT_EQ(pty.Speed(), 38400u);
    EXPECT_EQ(LineParams(port), Params(38400, 'N', 8, 1));
    // A driver that reports the rate of its nearest divisor has taken the rate asked.
    SerialSeam::SubstituteBaudRate(128000, 128342);
    EXPECT_EQ(port.SetLineParameters(128000, 'N', 8, 1), 0);
    EXPECT_EQ(pty.Speed(), 128000u);
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, ASpeedChangeLetsTheBytesWrittenLeaveFirstWithinItsBound) {
    using Clock = std::chrono::steady_clock;
    CWin32Port port(kIndex, 4096, 2048, 0);
    ASSERT_EQ(port.SetLineParameters(38400, 'N', 8, 1), 0);
    EXPECT_EQ(SerialSeam::LineChangeOutputLooks(), 0);  // nothing written: no wait

    // The "9" is still queued for two looks, then gone; the change waits for it, then gives
    // the line its settle time, since a pseudo-terminal cannot say when its transmitter is idle.
    ASSERT_EQ(port.WriteByte('9'), 0);
    SerialSeam::SetLineChangeOutputQueue(1, 2);
    Clock::time_point start = Clock::now();
    EXPECT_EQ(port.SetLineParameters(128000, 'N', 8, 1), 0);
    EXPECT_EQ(SerialSeam::LineChangeOutputLooks(), 3);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(10));
    EXPECT_EQ(pty.Receive(1), "9");
    EXPECT_EQ(pty.Speed(), 128000u);

    // Output held for ever (flow control): the change goes ahead after its bound.
    SerialSeam::Reset();
    ASSERT_EQ(port.WriteByte('9'), 0);
    SerialSeam::SetLineChangeOutputQueue(1, -1);
    start = Clock::now();
    EXPECT_EQ(port.SetLineParameters(38400, 'N', 8, 1), 0);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(20));
    EXPECT_LT(waited, std::chrono::seconds(2));
    EXPECT_EQ(pty.Speed(), 38400u);
    EXPECT_EQ(pty.Receive(1), "9");

    // Settings that keep the speed and the framing do not wait.
    SerialSeam::Reset();
    ASSERT_EQ(port.WriteByte('9'), 0);
    EXPECT_EQ(port.SetHandshake(LINE_XONXOFF, LINE_XONXOFF), 0);
    EXPECT_EQ(port.SetLineParameters(38400, 'N', 8, 1), 0);
    EXPECT_EQ(SerialSeam::LineChangeOutputLooks(), 0);
}

TEST_F(Win32PortTest, LineParameterValidationKeepsEarlierFieldsChanged) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    // The fields before the refused one keep their new values; none reach the driver.
    EXPECT_EQ(port.SetLineParameters(9600, 'n', 8, 1), COM_ERR_PARITY);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_PARITY);
    EXPECT_EQ(LineParams(port), Params(19200, 'N', 8, 1));

    EXPECT_EQ(port.SetLineParameters(2400, 'E', 9, 1), COM_ERR_DATA_BITS);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_DATA_BITS);
    EXPECT_EQ(LineParams(port), Params(2400, 'E', 8, 1));
    EXPECT_EQ(pty.Speed(), 19200u);

    EXPECT_EQ(port.SetLineParameters(4800, 'O', 7, 3), COM_ERR_STOP_BITS);
    EXPECT_EQ(port.SetLineParameters(4800, 'O', 7, 0), COM_ERR_STOP_BITS);
    EXPECT_EQ(std::get<2>(LineParams(port)), 7);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_STOP_BITS);

    // 5 data bits with 2 stop bits is one and a half, which reads as 1.
    EXPECT_EQ(port.SetLineParameters(1200, 'S', 5, 2), 0);
    EXPECT_EQ(LineParams(port), Params(1200, 'S', 5, 1));
    EXPECT_EQ(Dump(port)[1].substr(0, 11), "StopBits: 1");

    EXPECT_EQ(port.SetLineParameters(1200, 'M', 6, 2), 0);
    EXPECT_EQ(LineParams(port), Params(1200, 'M', 6, 2));
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, RefusedSettingsBecomeGeneralFailures) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    SerialSeam::FailBaudRate(38400);
    EXPECT_EQ(port.SetLineParameters(38400, 'N', 8, 1), COM_ERR_FAILED);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_FAILED);
    EXPECT_EQ(port.SetLineParameters(128000, 'N', 8, 1), 0);
    // Four data bits pass the port's check but no terminal has them.
    EXPECT_EQ(port.SetLineParameters(9600, 'N', 4, 1), COM_ERR_FAILED);
    SerialSeam::FailCall(SerialCall::SetCommState, static_cast<DWORD>(-12), 1);
    EXPECT_EQ(port.SetLineParameters(9600, 'N', 8, 1), COM_ERR_BAUD);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_BAUD);
}

TEST_F(Win32PortTest, BytesTravelBothWays) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    const unsigned char data[] = {0x00, 0x0D, 0x0A, 0x11, 0x13, 0x7F, 0xFF, '8'};
    EXPECT_EQ(port.Write(data, sizeof data), static_cast<int>(sizeof data));
    EXPECT_EQ(pty.Receive(sizeof data),
              std::string(reinterpret_cast<const char*>(data), sizeof data));
    EXPECT_EQ(port.WriteByte('G'), 0);
    EXPECT_EQ(port.TransmitChar('Q'), 0);
    EXPECT_EQ(pty.Receive(2), "GQ");

    Arrive(port, std::string("\x03\r\nQ\xFF", 5));
    unsigned char buffer[40] = {};
    EXPECT_EQ(port.Read(buffer, 2), 2);
    EXPECT_EQ(buffer[0], 0x03);
    EXPECT_EQ(buffer[1], '\r');
    EXPECT_EQ(port.ReadByte(), '\n');
    EXPECT_EQ(port.Read(buffer, 40), 2);
    EXPECT_EQ(buffer[1], 0xFF);
    EXPECT_EQ(port.ReadByte(), COM_ERR_TIMEOUT);
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, ReadTakesOnlyWhatHasArrived) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    char buffer[40];
    EXPECT_EQ(port.Read(buffer, 40), 0);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::ReadFile), 0);
    Arrive(port, "abc");
    EXPECT_EQ(port.Read(buffer, 40), 3);
    EXPECT_EQ(CountCalls(SerialCall::ReadFile, 3), 1);
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, WriteAcceptsOnlyTheRoomLeft) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_EQ(port.Write("", 0), 0);
    EXPECT_EQ(port.PendingError(), 0);
    SerialSeam::SetQueueCounts(-1, 2044);
    EXPECT_EQ(port.Write("0123456789", 10), 4);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_TX_FULL);
    EXPECT_EQ(pty.Receive(4), "0123");
    SerialSeam::SetQueueCounts(-1, 2048);
    EXPECT_EQ(port.WriteByte('x'), COM_ERR_TX_FULL);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_TX_FULL);
    // An earlier code still pending stays, and is what WriteByte hands back.
    EXPECT_EQ(port.SetLineParameters(9600, 'x', 8, 1), COM_ERR_PARITY);
    EXPECT_EQ(port.WriteByte('y'), COM_ERR_PARITY);
    EXPECT_EQ(port.Write("yz", 2), 0);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_PARITY);
    // More queued than the queue holds: the room wraps and everything is handed over.
    SerialSeam::SetQueueCounts(-1, 3000);
    EXPECT_EQ(port.WriteString("abc"), 3);
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, AWriteInFlightIsFinishedBeforeItsRecordIsUsedAgain) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    SerialSeam::SetWritesPending(true);
    EXPECT_EQ(port.Write("abc", 3), 3);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::GetOverlappedResult), 0);
    EXPECT_EQ(port.Write("de", 2), 2);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::GetOverlappedResult), 1);
    const auto log = SerialSeam::CallLog();
    std::vector<SerialCall> order;
    for (const auto& entry : log) {
        if (entry.first == SerialCall::WriteFile ||
            entry.first == SerialCall::GetOverlappedResult) {
            order.push_back(entry.first);
        }
    }
    EXPECT_EQ(order,
              (std::vector<SerialCall>{SerialCall::WriteFile, SerialCall::GetOverlappedResult,
                                       SerialCall::WriteFile}));
    EXPECT_EQ(pty.Receive(5), "abcde");
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, PurgeDiscardsAtMostItsBudget) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    Arrive(port, "12");
    EXPECT_EQ(port.Purge(0, 5), 0);
    BufferStatus buffers{};
    EXPECT_EQ(port.GetBufferStatus(&buffers, 1)->rxCount, 0);

    Arrive(port, "abcdefghij");
    EXPECT_EQ(port.Purge(0, 5), COM_ERR_FAILED);
    EXPECT_EQ(port.GetBufferStatus(&buffers, 1)->rxCount, 5);
    EXPECT_EQ(port.ReadByte(), 'f');
    EXPECT_EQ(port.Purge(0, -1), 0);  // a negative budget runs until the queue is empty
    EXPECT_EQ(port.GetBufferStatus(&buffers, 1)->rxCount, 0);
    Arrive(port, "123");
    EXPECT_EQ(port.Purge(0, INT_MIN), 0);  // and never counts below the smallest int
    EXPECT_EQ(port.GetBufferStatus(&buffers, 1)->rxCount, 0);

    Arrive(port, "xyz");
    SerialSeam::Reset();
    EXPECT_EQ(port.Purge(0, 0), 0);
    EXPECT_EQ(port.Purge(1, 0), 0);
    EXPECT_EQ(CountCalls(SerialCall::PurgeComm, PURGE_RXCLEAR), 1);
    EXPECT_EQ(CountCalls(SerialCall::PurgeComm, PURGE_TXCLEAR), 1);
    EXPECT_TRUE(WaitUntil([&] { return port.GetBufferStatus(&buffers, 1)->rxCount == 0; }));
}

TEST_F(Win32PortTest, HandshakeCodes) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    // in, out, result, recorded code
    const int refused[][4] = {{2, 0, COM_ERR_FAILED, COM_ERR_INPUT_FLOW},
                              {0, 15, COM_ERR_UNSUPPORTED, COM_ERR_UNSUPPORTED},
                              {0, 7, COM_ERR_SETTING, COM_ERR_SETTING},
                              {LINE_DSR, 0, COM_ERR_UNSUPPORTED, COM_ERR_UNSUPPORTED}};
    for (const auto& [in, out, result, recorded] : refused) {
        EXPECT_EQ(port.SetHandshake(in, out), result) << in << " " << out;
        EXPECT_EQ(port.TakePendingError(), recorded) << in << " " << out;
    }

    EXPECT_EQ(port.SetHandshake(LINE_XONXOFF, LINE_XONXOFF), 0);
    EXPECT_EQ(Handshake(port), Flow(LINE_XONXOFF, LINE_XONXOFF));
    EXPECT_EQ(Dump(port)[2],
              "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 1  InX: 1");

    EXPECT_EQ(port.SetHandshake(LINE_RTS, LINE_CTS), 0);
    std::vector<std::string> lines = Dump(port);
    EXPECT_EQ(lines[1], "StopBits: 0  fBinary: 1  fRtsControl: 2");
    EXPECT_EQ(lines[2], "Parity: 0  OutCtsFlow: 1  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0");

    // DTR/DSR flow control has no mechanism here: the driver refuses, the codes stay.
    EXPECT_EQ(port.SetHandshake(LINE_DTR, LINE_DSR), COM_ERR_FAILED);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_FAILED);
    EXPECT_EQ(Handshake(port), Flow(LINE_RTS, LINE_CTS));

    EXPECT_EQ(port.SetHandshake(LINE_NONE, LINE_NONE), 0);
    lines = Dump(port);
    EXPECT_EQ(lines[1], "StopBits: 0  fBinary: 1  fRtsControl: 1");
    EXPECT_EQ(lines[2], "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0");
}

TEST_F(Win32PortTest, ModemLinesAndLineQueries) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    SerialSeam::Reset();
    SerialSeam::SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    const std::pair<int, int> states[] = {{LINE_CTS, 1}, {LINE_DSR, 0}, {LINE_RI, 0}, {LINE_DCD, 1},
                                          {17, 0},       {18, 0},       {19, 0},      {20, 0}};
    for (const auto& [code, state] : states) {
        EXPECT_EQ(port.LineControl(code, -1), state) << code;
    }
    EXPECT_EQ(port.TestModemLine(MS_DSR_ON | MS_RLSD_ON), 1);
    EXPECT_EQ(port.LineControl(5, 0), 2);
    EXPECT_EQ(port.LineControl(LINE_NONE, 1), 2);
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::EscapeCommFunction), 0);

    EXPECT_EQ(port.LineControl(LINE_DTR, 0), 0);
    EXPECT_EQ(port.LineControl(LINE_RTS, 0), 0);
    EXPECT_EQ(CountCalls(SerialCall::EscapeCommFunction, CLRDTR), 1);
    EXPECT_EQ(CountCalls(SerialCall::EscapeCommFunction, CLRRTS), 1);
    std::vector<std::string> lines = Dump(port);
    EXPECT_EQ(lines[1], "StopBits: 0  fBinary: 1  fRtsControl: 0");
    EXPECT_EQ(lines[2].substr(lines[2].find("DtrControl"), 13), "DtrControl: 0");
    EXPECT_EQ(port.LineControl(LINE_DTR, 7), 1);
    EXPECT_EQ(CountCalls(SerialCall::EscapeCommFunction, SETDTR), 1);

    PackedLineStatus status{};
    EXPECT_EQ(port.GetLineStatus(&status), 0);
    EXPECT_EQ(status.ForCode(LINE_DTR), 1);
    EXPECT_EQ(status.ForCode(LINE_RTS), 0);
    EXPECT_EQ(status.ForCode(LINE_CTS), 1);
    EXPECT_EQ(status.ForCode(LINE_DCD), 1);
    EXPECT_EQ(status.bytes[0], 0x01);
    EXPECT_EQ(status.bytes[1], 0x11);  // CTS 1, RI 0, DCD 1, code 20 0

    // A pseudo-terminal has no modem lines: without the seam they read as off.
    SerialSeam::ClearModemStatus();
    EXPECT_EQ(port.LineControl(LINE_CTS, -1), 0);
}

TEST_F(Win32PortTest, LineErrorsShowInExactlyOneLineStatus) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    SerialSeam::InjectLineErrors(CE_OVERRUN | CE_RXPARITY);
    PackedLineStatus status{};
    EXPECT_EQ(port.GetLineStatus(&status), 0);
    EXPECT_EQ(status.ForCode(LINE_OVERRUN), 1);
    EXPECT_EQ(status.ForCode(LINE_PARITY_ERROR), 1);
    EXPECT_EQ(status.ForCode(LINE_FRAMING_ERROR), 0);
    EXPECT_EQ(status.bytes[3], 0x41);
    EXPECT_EQ(port.GetLineStatus(&status), 0);
    EXPECT_EQ(status.bytes[3], 0x00);

    // Errors gathered by other operations wait for the next line status.
    SerialSeam::InjectLineErrors(CE_FRAME | CE_BREAK | CE_RXOVER);
    char buffer[4];
    port.Read(buffer, 4);
    EXPECT_EQ(port.LineControl(LINE_FRAMING_ERROR, -1), 1);
    EXPECT_EQ(port.LineControl(LINE_BREAK_DETECTED, -1), 1);
    EXPECT_EQ(port.LineControl(LINE_RX_OVERFLOW, -1), 1);
    EXPECT_EQ(port.GetLineStatus(&status), 0);
    EXPECT_EQ(status.bytes[2] >> 6, 1);  // break detected
    EXPECT_EQ(status.bytes[3], 0x14);    // framing error, receive overflow
    EXPECT_EQ(port.LineControl(LINE_FRAMING_ERROR, -1), 0);
}

TEST_F(Win32PortTest, BreakStates) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_EQ(port.Break(1), 1);
    EXPECT_EQ(port.Break(-1), 1);
    EXPECT_EQ(port.LineControl(LINE_BREAK, -1), 1);
    EXPECT_EQ(port.LineControl(LINE_BREAK, 0), 0);
    EXPECT_EQ(port.Break(-1), 0);
    // Any state other than 1 stops the break, and the state answered back says so.
    EXPECT_EQ(port.Break(1), 1);
    EXPECT_EQ(port.Break(5), 0);
    EXPECT_EQ(port.Break(-1), 0);
    EXPECT_EQ(port.LineControl(LINE_BREAK, -1), 0);
    SerialSeam::FailCall(SerialCall::SetCommBreak, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(port.Break(1), COM_ERR_BREAK);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_BREAK);
    EXPECT_EQ(port.Break(-1), 0);
}

TEST_F(Win32PortTest, BufferSizesAndLimits) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_EQ(port.SetBufferSizes(8192, 200, 1024), 0);
    std::vector<std::string> lines = Dump(port);
    EXPECT_EQ(lines[4], "XonLim: 2048  XoffLim: 200   EofChr: 00  EvtChr: 00");
    EXPECT_EQ(lines[5].substr(0, 36), "RX sz/ct:  8192/0      TX sz/ct:  10");
    EXPECT_EQ(port.SetBufferSizes(0, 0, 0), 0);
    lines = Dump(port);
    EXPECT_EQ(lines[4], "XonLim: 0     XoffLim: 200   EofChr: 00  EvtChr: 00");
    EXPECT_EQ(lines[5].substr(0, 16), "RX sz/ct:  8192/");
    // Sizes beyond the driver's 16 bits ask for the largest, and writes are still taken.
    EXPECT_EQ(port.SetBufferSizes(0x10000, 0, 0x10020), 0);
    lines = Dump(port);
    EXPECT_EQ(lines[5].substr(0, 39), "RX sz/ct: 65535/0      TX sz/ct: 65535/");
    EXPECT_EQ(lines[4].substr(0, 13), "XonLim: 16384");
    EXPECT_EQ(port.WriteString("ab"), 2);
    EXPECT_EQ(pty.Receive(2), "ab");
}

TEST_F(Win32PortTest, AQueueSizeOf65536AtConstructionStillTakesWrites) {
    CWin32Port port(kIndex, 65536, 65536, 0);
    EXPECT_EQ(Dump(port)[5].substr(0, 39), "RX sz/ct: 65535/0      TX sz/ct: 65535/");
    EXPECT_EQ(port.WriteByte('x'), 0);
    EXPECT_EQ(pty.Receive(1), "x");
    EXPECT_EQ(port.PendingError(), 0);
}

TEST_F(Win32PortTest, CloseEmptiesQueuesDropsLinesAndReportsRefusal) {
    auto port = std::make_unique<CWin32Port>(kIndex, 4096, 2048, 0);
    SerialSeam::Reset();
    SerialSeam::FailCall(SerialCall::CloseHandle, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(port->Close(), COM_ERR_CLOSE);
    EXPECT_EQ(port->TakePendingError(), COM_ERR_CLOSE);
    std::vector<std::pair<SerialCall, DWORD>> expected = {
        {SerialCall::PurgeComm, PURGE_RXCLEAR},
        {SerialCall::PurgeComm, PURGE_TXCLEAR},
        {SerialCall::EscapeCommFunction, CLRDTR},
        {SerialCall::EscapeCommFunction, CLRRTS},
        {SerialCall::CloseHandle, 0},
    };
    EXPECT_EQ(SerialSeam::CallLog(), expected);
    SerialSeam::Reset();
    port.reset();  // closes for real
    EXPECT_EQ(SerialSeam::CallCount(SerialCall::CloseHandle), 1);
    EXPECT_EQ(PortOpenCount[kIndex], 0);
    // The device is free again.
    CWin32Port again(kIndex, 4096, 2048, 0);
    EXPECT_EQ(again.PendingError(), 0);
}

TEST_F(Win32PortTest, OpenFailuresAreRecorded) {
    SerialSeam::FailCall(SerialCall::SetCommState, ERROR_INVALID_PARAMETER, 1);
    {
        CWin32Port port(kIndex, 4096, 2048, 0);
        EXPECT_EQ(port.PendingError(), COM_ERR_FAILED);
        EXPECT_EQ(PortOpenCount[kIndex], 1);  // the device is open and claimed
    }
    SerialSeam::FailCall(SerialCall::CreateFile, static_cast<DWORD>(-2), 1);
    CWin32Port port(kIndex, 4096, 2048, 0);
    EXPECT_EQ(port.PendingError(), COM_ERR_IN_USE);
    EXPECT_EQ(PortOpenCount[kIndex], 0);
}

TEST_F(Win32PortTest, AFailedOpenLeavesItsOwnErrorAsTheLastError) {
    // The owner asks GetLastError why the port could not be opened, after the constructor has
    // also raised DTR and RTS in the port's settings.
    HANDLE holder = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    {
        SetLastError(ERROR_SUCCESS);
        CWin32Port held(kIndex, 4096, 2048, 0);  // another handle has the device
        EXPECT_EQ(held.PendingError(), COM_ERR_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    ASSERT_TRUE(CloseHandle(holder));

    const std::pair<std::string, DWORD> devices[] = {
        {"/dev/null", ERROR_INVALID_FUNCTION},  // opens, but is no terminal
        {"/nonexistent/tty", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& [path, error] : devices) {
        SetComDevicePath(kCom, path);
        SetLastError(ERROR_SUCCESS);
        CWin32Port port(kIndex, 4096, 2048, 0);
        EXPECT_EQ(port.PendingError(), COM_ERR_FAILED) << path;
        EXPECT_EQ(GetLastError(), error) << path;
        EXPECT_EQ(port.LineControl(LINE_DTR, -1), 1) << path;
        EXPECT_EQ(port.LineControl(LINE_RTS, -1), 1) << path;
    }
    SetComDevicePath(kCom, pty.slavePath());

    SerialSeam::FailCall(SerialCall::CreateFile, ERROR_SHARING_VIOLATION, 1);
    SetLastError(ERROR_SUCCESS);
    CWin32Port refused(kIndex, 4096, 2048, 0);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(PortOpenCount[kIndex], 0);
}

TEST_F(Win32PortTest, RefusedAndFailedPortsLeaveNoDescriptorBehind) {
    const int before = OpenDescriptors();
    {
        CWin32Port held(kIndex, 4096, 2048, 0);
        CWin32Port second(kIndex, 4096, 2048, 0);  // refused: the index is in use
        EXPECT_EQ(second.PendingError(), COM_ERR_IN_USE);
    }
    SerialSeam::FailCall(SerialCall::SetCommState, ERROR_GEN_FAILURE, 1);
    { CWin32Port unconfigured(kIndex, 4096, 2048, 0); }  // opened, then its settings refused
    SetComDevicePath(kCom, "/dev/null");
    { CWin32Port notATerminal(kIndex, 4096, 2048, 0); }
    SetComDevicePath(kCom, "/nonexistent/tty");
    { CWin32Port missing(kIndex, 4096, 2048, 0); }
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(Win32PortTest, MapSystemErrorTranslatesOnlyLegacyDriverStatus) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    const std::pair<int, int> table[] = {
        {-1, -828}, {-2, -838}, {-3, -828},  {-4, -836},  {-5, -832},  {-6, -801},  {-7, -801},
        {-8, -801}, {-9, -801}, {-10, -828}, {-11, -842}, {-12, -839}, {-13, -801}, {0, -801},
    };
    for (const auto& [status, code] : table) {
        SetLastError(static_cast<DWORD>(status));
        EXPECT_EQ(port.MapSystemError(), code) << status;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(port.MapSystemError(), COM_ERR_FAILED);
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(port.MapSystemError(), COM_ERR_FAILED);
}

TEST_F(Win32PortTest, EventOperations) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    DWORD mask = 99;
    EXPECT_EQ(port.GetEventMask(&mask), 0);
    EXPECT_EQ(mask, 0u);  // the open watches nothing
    DWORD events = 0;
    EXPECT_EQ(port.WaitEvent(&events), COM_ERR_FAILED);  // nothing to wait for
    EXPECT_EQ(port.SetEventMask(EV_RXCHAR), 0);
    Arrive(port, "z");
    EXPECT_EQ(port.WaitEvent(&events), 0);
    EXPECT_EQ(events, EV_RXCHAR);
    SerialSeam::FailCall(SerialCall::SetCommMask, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(port.SetEventMask(0), COM_ERR_FAILED);
    EXPECT_EQ(port.PendingError(), 0);  // returned, not recorded
    // SetEventChar starts from the driver's block: an unwritten change is dropped.
    EXPECT_EQ(port.SetLineParameters(300, 'E', 9, 1), COM_ERR_DATA_BITS);
    EXPECT_NE(port.SetEventChar('~'), 0);
    EXPECT_EQ(LineParams(port), Params(19200, 'N', 8, 1));
    const std::string line = Dump(port)[4];
    EXPECT_EQ(line.substr(line.find("EvtChr")), "EvtChr: 7e");
    SerialSeam::FailCall(SerialCall::SetCommState, ERROR_GEN_FAILURE, 1);
    EXPECT_EQ(port.SetEventChar('a'), 0);
}

TEST_F(Win32PortTest, HangUpIsAFailureNeverQuiet) {
    CWin32Port port(kIndex, 4096, 2048, 0);
    ASSERT_EQ(port.PendingError(), 0);
    pty.HangUp();
    char buffer[16];
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_FAILED);
    EXPECT_EQ(port.ReadByte(), COM_ERR_TIMEOUT);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_FAILED);
    BufferStatus buffers{};
    port.GetBufferStatus(&buffers, 7);
    EXPECT_EQ(buffers.rxCount, 0);
    EXPECT_EQ(buffers.txCount, 0);
    EXPECT_LT(port.WriteString("8"), 1);
    EXPECT_NE(port.TakePendingError(), 0);
    EXPECT_EQ(port.Purge(0, 10), 0);
    EXPECT_EQ(Dump(port).size(), 6u);
}

}  // namespace
