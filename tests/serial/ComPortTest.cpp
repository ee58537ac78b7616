// The port interface's shared parts: pending errors, the open counters, the reserved
// operations and the reporter of operations an implementation lacks.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "COMLINK.h"
#include "MessageBoxHook.h"

namespace {

// A port that supplies nothing, to reach the base operations.
class BarePort : public CComPort {
  public:
    explicit BarePort(int index = 0) { portIndex = index; }
    void Record(int code) { pendingError = code; }
    void Claim() { ClaimPortIndex(); }
};

TEST(ComPort, PendingErrorIsTakenOnce) {
    BarePort port;
    EXPECT_EQ(port.PendingError(), 0);
    EXPECT_EQ(port.TakePendingError(), 0);
    port.Record(COM_ERR_PARITY);
    EXPECT_EQ(port.PendingError(), COM_ERR_PARITY);
    EXPECT_EQ(port.PendingError(), COM_ERR_PARITY);
    EXPECT_EQ(port.TakePendingError(), COM_ERR_PARITY);
    EXPECT_EQ(port.TakePendingError(), 0);
    EXPECT_EQ(port.PendingError(), 0);
}

TEST(ComPort, ReservedOperationsAnswerUnsupportedAndRecordNothing) {
    BarePort port;
    CComPort& asPort = port;
    EXPECT_EQ(asPort.Reserved1(), COM_ERR_UNSUPPORTED);
    EXPECT_EQ(asPort.Reserved2(), COM_ERR_UNSUPPORTED);
    EXPECT_EQ(port.PendingError(), 0);
}

TEST(ComPort, DestructorReleasesOnlyItsOwnClaim) {
    const int index = 40;
    PortOpenCount[index] = 0;
    {
        BarePort holder(index);
        holder.Claim();
        EXPECT_EQ(PortOpenCount[index], 1);
        {
            BarePort refused(index);  // never claimed: must not release the holder's claim
        }
        EXPECT_EQ(PortOpenCount[index], 1);
    }
    EXPECT_EQ(PortOpenCount[index], 0);
    {
        BarePort idle(index);  // a counter of 0 stays 0
    }
    EXPECT_EQ(PortOpenCount[index], 0);
}

TEST(ComPort, IndicesOutsideTheTableHaveNoCounter) {
    EXPECT_TRUE(IsValidPortIndex(0));
    EXPECT_TRUE(IsValidPortIndex(15));
    EXPECT_TRUE(IsValidPortIndex(PORT_INDEX_COUNT - 1));
    EXPECT_FALSE(IsValidPortIndex(-1));
    EXPECT_FALSE(IsValidPortIndex(PORT_INDEX_COUNT));
    BarePort outside(-5);
    outside.Claim();  // nothing to claim, nothing written outside the table
}

TEST(ComPort, PackedLineStatusFieldsFollowTheByteLayout) {
    PackedLineStatus status{};
    status.SetField(0, 1);   // DTR: byte 0 bits 0-1
    status.SetField(3, 2);   // DSR: byte 0 bits 6-7
    status.SetField(11, 1);  // break detected: byte 2 bits 6-7
    status.SetField(15, 1);  // overrun: byte 3 bits 6-7
    EXPECT_EQ(status.bytes[0], 0x81);
    EXPECT_EQ(status.bytes[1], 0x00);
    EXPECT_EQ(status.bytes[2], 0x40);
    EXPECT_EQ(status.bytes[3], 0x40);
    EXPECT_EQ(status.ForCode(LINE_DTR), 1);
    EXPECT_EQ(status.ForCode(LINE_DSR), 2);
    EXPECT_EQ(status.ForCode(LINE_OVERRUN), 1);
    EXPECT_EQ(status.ForCode(5), 2);
}

using ComPortDeathTest = ::testing::Test;

TEST_F(ComPortDeathTest, UnsuppliedGetLineStatusStopsTheProgram) {
    EXPECT_EXIT(
        {
            BarePort port;
            PackedLineStatus status{};
            port.GetLineStatus(&status);
        },
        ::testing::ExitedWithCode(1),
        "Library Error: Pure Virtual function called @\\.\\.\\\\CPP_ALL\\\\COMLINK,269\n"
        "Unable to continue execution");
}

// Every base operation names its own line, so a report points at the operation that is missing.
TEST_F(ComPortDeathTest, EveryUnsuppliedOperationReportsItsOwnLine) {
    struct Slot {
        int line;
        std::function<void(CComPort&)> call;
    };
    char buffer[4];
    long baud = 0;
    char parity = 0;
    int a = 0, b = 0;
    BufferStatus buffers{};
    PackedLineStatus lines{};
    const Slot slots[] = {
        {241, [](CComPort& p) { p.Idle(); }},
        {243, [](CComPort& p) { p.RefreshStatus(); }},
        {245, [](CComPort& p) { p.Open(0); }},
        {247, [](CComPort& p) { p.OpenDevice(); }},
        {249, [](CComPort& p) { p.Close(); }},
        {251, [&](CComPort& p) { p.GetBufferStatus(&buffers, 7); }},
        {255, [](CComPort& p) { p.SetBufferSizes(1, 2, 3); }},
        {257, [](CComPort& p) { p.SetHandshake(0, 0); }},
        {259, [&](CComPort& p) { p.GetHandshake(a, b); }},
        {261, [](CComPort& p) { p.Break(-1); }},
        {263, [](CComPort& p) { p.LineControl(LINE_DTR, -1); }},
        {265, [](CComPort& p) { p.SetLineParameters(9600, 'N', 8, 1); }},
        {267, [&](CComPort& p) { p.GetLineParameters(baud, parity, a, b); }},
        {269, [&](CComPort& p) { p.GetLineStatus(&lines); }},
        {271, [](CComPort& p) { p.WriteByte('x'); }},
        {273, [](CComPort& p) { p.WriteString("x"); }},
        {275, [](CComPort& p) { p.Write("x", 1); }},
        {277, [](CComPort& p) { p.TransmitChar('x'); }},
        {279, [](CComPort& p) { p.ReadByte(); }},
        {281, [&](CComPort& p) { p.Read(buffer, sizeof buffer); }},
        {283, [](CComPort& p) { p.Purge(0, 0); }},
        {285, [](CComPort& p) { p.DumpStatus(nullptr); }},
    };
    for (const Slot& slot : slots) {
        EXPECT_EXIT(
            {
                BarePort port;
                slot.call(port);
            },
            ::testing::ExitedWithCode(1), "COMLINK," + std::to_string(slot.line) + "\n")
            << "line " << slot.line;
    }
}

TEST_F(ComPortDeathTest, ReporterShowsItsBoxThroughTheInstalledHandler) {
    EXPECT_EXIT(
        {
            SetMessageBoxHandler([](const char* text, const char* caption, unsigned type) {
                std::fprintf(stderr, "[%s|%u|%s]", caption, type, text);
                return 1;
            });
            BarePort port;
            port.SetBufferSizes(1, 2, 3);
        },
        ::testing::ExitedWithCode(1),
        "\\[Library Error\\|0\\|Pure Virtual function called @\\.\\.\\\\CPP_ALL\\\\COMLINK,255\n"
        "Unable to continue execution\\]");
}

}  // namespace
