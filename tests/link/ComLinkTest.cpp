// The link over a port whose answers the test controls: construction and teardown order, line
// errors, block gathering and waits counted in polls of a fake tick counter.
#include "PortLink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "FakePort.h"

namespace {

using Log = std::vector<std::string>;

// Baud, parity, data bits, stop bits, input and output handshake of the fake port.
std::tuple<long, char, int, int, int, int> Settings(const FakePort& port) {
    return {port.baud, port.parity, port.dataBits, port.stopBits, port.inputFlow, port.outputFlow};
}
using PortSettings = decltype(Settings(std::declval<FakePort>()));

// A healthy port found at 19200 "E" 7 2 with XON/XOFF in and CTS out, so that every value the
// link puts back differs from what it sets.
void FindAt19200E72(FakePort& port) {
    port.parity = 'E';
    port.dataBits = 7;
    port.stopBits = 2;
    port.inputFlow = LINE_XONXOFF;
    port.outputFlow = LINE_CTS;
}

class LinkOverFakePort : public ::testing::Test {
  protected:
    void SetUp() override {
        FindAt19200E72(port);
        port.ticks = &ticks;
        link = std::make_unique<CComLink>(&port);
        link->SetTickSource(&ticks);
        port.log.clear();
    }

    FakePort port;
    FakeTicks ticks;
    std::unique_ptr<CComLink> link;
};

// --- construction and teardown ---

TEST(ComLinkLifecycle, BuildsOverAHealthyPortInOrderAndPutsItBackWhenDeleted) {
    FakePort port;
    FindAt19200E72(port);
    auto link = std::make_unique<CComLink>(&port);
    EXPECT_EQ(port.log, (Log{
                            "GetLineParameters",
                            "SetLineParameters 1200 N 8 1",
                            "SetLineParameters 9600 N 8 1",
                            "GetLineStatus",
                            "GetHandshake",
                            "SetHandshake 0 0",
                        }));
    EXPECT_EQ(Settings(port), PortSettings(9600, 'N', 8, 1, 0, 0));

    port.log.clear();
    link.reset();
    // Flow control goes back first, then the line parameters; the port is not closed.
    EXPECT_EQ(port.log, (Log{"SetHandshake 1 12", "SetLineParameters 19200 E 7 2"}));
    EXPECT_EQ(Settings(port), PortSettings(19200, 'E', 7, 2, LINE_XONXOFF, LINE_CTS));
}

TEST(ComLinkLifecycle, OverAFailedPortHandsOverItsErrorOnceAndTouchesNothing) {
    FakePort port;
    port.SetPendingError(COM_ERR_NO_DEVICE);
    {
        CComLink link(&port);
        EXPECT_TRUE(port.log.empty());

        std::uint16_t flags = 0xFFFF;
        EXPECT_EQ(link.TakeLineErrors(&flags), COM_ERR_NO_DEVICE);
        EXPECT_EQ(flags, 0);
        EXPECT_EQ(port.PendingError(), 0);

        // No error left and no snapshot to ask: nothing to report, and no crash.
        flags = 0xFFFF;
        EXPECT_EQ(link.TakeLineErrors(&flags), 0);
        EXPECT_EQ(flags, 0);
        EXPECT_EQ(link.TakeLineErrors(&flags), 0);
    }
    EXPECT_TRUE(port.log.empty());
    EXPECT_EQ(port.baud, 19200);
}

// --- line errors ---

TEST_F(LinkOverFakePort, EachLineErrorHasItsFlagAndIsReportedOnce) {
    port.SetLineErrors(12, 1);  // parity error
    port.SetLineErrors(15, 1);  // overrun
    std::uint16_t flags = 0;
    EXPECT_EQ(link->TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 9);
    EXPECT_EQ(link->TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 0);

    // Framing (field 13), overflow (14), break (11); an unknown answer (2) counts as set,
    // while lines that are not errors never raise a flag.
    port.SetLineErrors(13, 2);
    port.SetLineErrors(14, 1);
    port.SetLineErrors(11, 1);
    port.lineStatus.bytes[0] = 0xFF;
    port.lineStatus.bytes[1] = 0xFF;
    port.lineStatus.bytes[2] |= 0x3F;
    EXPECT_EQ(link->TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, LINK_FRAMING_ERROR | LINK_RX_OVERFLOW | LINK_BREAK);
}

TEST_F(LinkOverFakePort, APendingErrorIsReportedOnceBeforeLineErrors) {
    port.SetLineErrors(12, 1);
    port.SetPendingError(COM_ERR_TX_FULL);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link->TakeLineErrors(&flags), COM_ERR_TX_FULL);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(link->TakeLineErrors(nullptr), 0);  // flags may be omitted
    EXPECT_EQ(link->TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 0);
}

TEST_F(LinkOverFakePort, WriteBytesSendsExactlyTheBytesAskedFor) {
    EXPECT_EQ(link->WriteBytes("P9", 2), 2);
    EXPECT_EQ(link->WriteBytes(nullptr, 5), 0);
    EXPECT_EQ(link->WriteBytes("G", -1), 0);
    EXPECT_EQ(port.written, "P9");
    port.rx = "abc";
    EXPECT_EQ(link->RxCount(), 3);
}

// --- ReadBlock ---

TEST_F(LinkOverFakePort, ABlockAlreadyWaitingIsReturnedAtOnceWithItsNul) {
    port.rx = "12345";
    char buffer[7];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(link->ReadBlock(buffer, 5, 10), 5);
    EXPECT_EQ(std::string(buffer, 7), std::string("12345\0x", 7));
    EXPECT_EQ(port.idleCalls, 0);
    EXPECT_EQ(port.readAsks, (std::vector<unsigned>{5}));
}

TEST_F(LinkOverFakePort, AShortBlockIsReturnedWhenTheLimitHasPassed) {
    port.rx = "abc";
    char buffer[41];
    EXPECT_EQ(link->ReadBlock(buffer, 40, 10), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(port.idleCalls, 10);  // one poll per fake millisecond
}

TEST_F(LinkOverFakePort, ALimitOfZeroOrLessMakesExactlyOneRead) {
    for (int limit : {0, -5}) {
        port.readAsks.clear();
        port.rx = "ab";
        char buffer[11];
        EXPECT_EQ(link->ReadBlock(buffer, 10, limit), 2);
        EXPECT_STREQ(buffer, "ab");
        EXPECT_EQ(link->ReadBlock(buffer, 10, limit), 0);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_EQ(port.readAsks.size(), 2u);
        EXPECT_EQ(port.idleCalls, 0);
    }
}

TEST_F(LinkOverFakePort, PiecesAreGatheredAndThePortIsAskedOnlyForWhatIsMissing) {
    port.maxPerRead = 3;
    port.rx = "0123";
    port.onIdle = [this](int idleCalls) {
        if (idleCalls == 20) {
            port.rx += "456789";
        }
    };
    char buffer[11];
    EXPECT_EQ(link->ReadBlock(buffer, 10, 1000), 10);
    EXPECT_STREQ(buffer, "0123456789");
    unsigned got = 0;
    for (std::size_t i = 0; i < port.readAsks.size(); ++i) {
        EXPECT_EQ(port.readAsks[i], 10u - got) << "read " << i;
        got += port.readGot[i];
    }
    EXPECT_LT(port.idleCalls, 1000);
}

TEST_F(LinkOverFakePort, ReadBlockNeverWritesPastTheCallersCountPlusOne) {
    char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    port.rx = "abcdef";
    EXPECT_EQ(link->ReadBlock(nullptr, 3, 10), 0);
    EXPECT_EQ(link->ReadBlock(buffer, -1, 10), 0);  // no room even for the NUL
    EXPECT_EQ(std::string(buffer, 6), "xxxxxx");
    EXPECT_TRUE(port.readAsks.empty());

    // A port that claims more bytes than it was asked for cannot push the NUL past count.
    port.extraReported = 5;
    EXPECT_EQ(link->ReadBlock(buffer, 3, 10), 3);
    EXPECT_EQ(std::string(buffer, 6), std::string("abc\0xx", 6));
}

TEST_F(LinkOverFakePort, ANegativeIdleResultEndsTheWaitAtOnce) {
    port.idleResult = -1234;
    char buffer[5];
    EXPECT_EQ(link->ReadBlock(buffer, 4, 1000), -1234);
    EXPECT_EQ(link->ReadByteTimed(1000), -1234);
    EXPECT_EQ(port.idleCalls, 2);
}

// --- ReadByteTimed ---

TEST_F(LinkOverFakePort, ReadByteTimedTakesAWaitingOrArrivingByteElseWaitsItsLimit) {
    port.rx = "\xFF";
    EXPECT_EQ(link->ReadByteTimed(100), 255);
    EXPECT_EQ(port.idleCalls, 0);

    EXPECT_EQ(link->ReadByteTimed(100), COM_ERR_TIMEOUT);
    EXPECT_EQ(port.idleCalls, 100);

    port.readByteCalls = 0;
    EXPECT_EQ(link->ReadByteTimed(0), COM_ERR_TIMEOUT);
    EXPECT_EQ(port.readByteCalls, 1);

    port.onIdle = [this](int idleCalls) {
        if (idleCalls == 130) {
            port.rx = "Q";
        }
    };
    EXPECT_EQ(link->ReadByteTimed(100), 'Q');
    EXPECT_EQ(port.idleCalls, 130);
}

// --- the tick counter's wrap ---

TEST_F(LinkOverFakePort, ACounterAboutToWrapNeitherEndsNorStretchesAWait) {
    for (std::uint32_t start : {0xFFFFFFF0u, 0xFFFFFFFFu, 0x7FFFFFF0u, 0xFFFFFF9Cu}) {
        ticks.now = start;
        port.idleCalls = 0;
        EXPECT_EQ(link->ReadByteTimed(100), COM_ERR_TIMEOUT) << start;
        EXPECT_EQ(port.idleCalls, 100) << start;

        ticks.now = start;
        port.idleCalls = 0;
        port.rx = "z";
        char buffer[41];
        EXPECT_EQ(link->ReadBlock(buffer, 40, 50), 1) << start;
        EXPECT_EQ(port.idleCalls, 50) << start;
    }
}

// --- snapshots ---

TEST(LineSettings, StartsAt1200N81AndWithoutALinkReachesNoPort) {
    CLineSettings settings(nullptr);
    EXPECT_EQ(settings.Baud(), 1200);
    EXPECT_EQ(settings.Parity(), 'N');
    EXPECT_EQ(settings.DataBits(), 8);
    EXPECT_EQ(settings.StopBits(), 1);
    EXPECT_EQ(settings.SavedBaud(), 1200);
    EXPECT_EQ(settings.SavedParity(), 'N');

    EXPECT_EQ(settings.Apply(38400, 'N', 8, 1), COM_ERR_FAILED);
    EXPECT_EQ(settings.Commit(), COM_ERR_FAILED);
    EXPECT_EQ(settings.Capture(), COM_ERR_FAILED);
    EXPECT_EQ(settings.Restore(), 0);
    EXPECT_EQ(settings.Attach(nullptr), COM_ERR_FAILED);
    EXPECT_EQ(settings.Baud(), 38400);
}

TEST_F(LinkOverFakePort, AttachingSets1200UntilApplyAndRestorePutsTheLinkRateBack) {
    auto settings = std::make_unique<CLineSettings>(link.get());
    EXPECT_EQ(port.log, (Log{"GetLineParameters", "SetLineParameters 1200 N 8 1"}));
    EXPECT_EQ(settings->SavedBaud(), 9600);
    EXPECT_EQ(port.baud, 1200);

    EXPECT_EQ(settings->Apply(38400, 'N', 8, 1), 0);
    EXPECT_EQ(port.baud, 38400);
    EXPECT_EQ(settings->Apply(128000, 'N', 8, 1), 0);
    EXPECT_EQ(port.baud, 128000);

    EXPECT_EQ(settings->Restore(), 0);
    settings.reset();
    EXPECT_EQ(port.baud, 9600);
    EXPECT_EQ(port.parity, 'N');
}

}  // namespace
