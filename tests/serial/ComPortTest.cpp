// The port interface's shared parts: pending errors, the open counters, the reserved
// operations and the reporter of operations an implementation lacks.
#include <gtest/gtest.h>

#include <cstdio>

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

TEST_F(ComPortDeathTest, UnsuppliedOperationsReportTheirOwnLines) {
    EXPECT_EXIT(
        {
            BarePort port;
            char buffer[4];
            port.Read(buffer, 4);
        },
        ::testing::ExitedWithCode(1), "COMLINK,281\n");
    EXPECT_EXIT(
        {
            BarePort port;
            port.Idle();
        },
        ::testing::ExitedWithCode(1), "COMLINK,241\n");
    EXPECT_EXIT(
        {
            BarePort port;
            port.DumpStatus(nullptr);
        },
        ::testing::ExitedWithCode(1), "COMLINK,285\n");
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
