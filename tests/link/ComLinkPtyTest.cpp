// The link over the real Win32 port on a pseudo-terminal: the settings it puts on a fresh port
// and back, line errors, a refused setting, and real-time waits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "PortLink.h"
#include "PtyHarness.h"
#include "SerialSeam.h"
#include "Win32Port.h"

namespace {

using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

constexpr int kComNumber = 7;

// The port on a pseudo-terminal mapped to kComNumber; the test plays the far end.
class LinkOverPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        port = std::make_unique<CWin32Port>(kComNumber - 1, 4096, 2048, 0);
        ASSERT_EQ(port->PendingError(), 0);
    }
    void TearDown() override { port.reset(); }

    void SendFromFarEnd(const std::string& bytes) { ASSERT_TRUE(pty.Send(bytes)); }

    // Baud, parity, data bits, stop bits, input and output handshake.
    std::tuple<long, char, int, int, int, int> PortSettings() const {
        std::tuple<long, char, int, int, int, int> s{};
        auto& [baud, parity, dataBits, stopBits, in, out] = s;
        port->GetLineParameters(baud, parity, dataBits, stopBits);
        port->GetHandshake(in, out);
        return s;
    }

    PtyPair pty{kComNumber};
    std::unique_ptr<CWin32Port> port;
};

TEST_F(LinkOverPty, PutsAFreshPortTo9600WithoutFlowControlAndBackTo19200) {
    using Settings = decltype(PortSettings());
    EXPECT_EQ(std::get<0>(PortSettings()), 19200);
    auto link = std::make_unique<CComLink>(port.get());
    EXPECT_EQ(PortSettings(), Settings(9600, 'N', 8, 1, 0, 0));
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link->TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 0);

    link.reset();
    EXPECT_EQ(PortSettings(), Settings(19200, 'N', 8, 1, 0, 0));
    EXPECT_EQ(port->PendingError(), 0);
}

TEST_F(LinkOverPty, AHangUpIsReportedAsAFailureByTheNextTakeLineErrors) {
    CComLink link(port.get());
    pty.HangUp();  // the far end is gone: adapter unplugged, simulator ended
    char buffer[8] = {};
    EXPECT_EQ(link.RxCount(), 0);
    EXPECT_EQ(link.ReadBlock(buffer, 1, 0), 0);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.TakeLineErrors(&flags), COM_ERR_FAILED);
    EXPECT_EQ(flags, 0);
    // Every further read records it again; a write that finds the line gone records that fewer
    // bytes were taken, unless the failure of a read is still waiting to be taken.
    EXPECT_EQ(link.ReadByteTimed(0), COM_ERR_TIMEOUT);
    EXPECT_EQ(link.WriteBytes("8", 1), 0);
    EXPECT_EQ(link.TakeLineErrors(&flags), COM_ERR_FAILED);
    EXPECT_EQ(link.WriteBytes("8", 1), 0);
    EXPECT_EQ(link.TakeLineErrors(&flags), COM_ERR_TX_FULL);
}

TEST_F(LinkOverPty, TheWin32PortsLineErrorsReachTheFlags) {
    CComLink link(port.get());
    SerialSeam::InjectLineErrors(CE_RXPARITY | CE_OVERRUN);
    std::uint16_t flags = 0;
    EXPECT_EQ(link.TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 9);
    EXPECT_EQ(link.TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 0);

    SerialSeam::InjectLineErrors(CE_FRAME | CE_RXOVER | CE_BREAK);
    EXPECT_EQ(link.TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, LINK_FRAMING_ERROR | LINK_RX_OVERFLOW | LINK_BREAK);
    SerialSeam::Reset();
}

TEST_F(LinkOverPty, ABadParityLetterIsAGeneralFailureWithTheParityCodePending) {
    CComLink link(port.get());
    CLineSettings settings(&link);
    EXPECT_EQ(settings.Apply(38400, 'X', 8, 1), COM_ERR_FAILED);
    EXPECT_EQ(port->PendingError(), COM_ERR_PARITY);
    EXPECT_EQ(settings.Apply(38400, 'N', 8, 1), 0);
    EXPECT_EQ(std::get<0>(PortSettings()), 38400);
    EXPECT_EQ(settings.Restore(), 0);
    EXPECT_EQ(std::get<0>(PortSettings()), 9600);
    port->TakePendingError();
}

TEST_F(LinkOverPty, ABlockSentInPiecesWithPausesIsGatheredWhole) {
    CComLink link(port.get());
    const std::string block = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40 bytes
    std::thread farEnd([&] {
        for (std::size_t at = 0; at < block.size(); at += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            SendFromFarEnd(block.substr(at, 10));
        }
    });
    char buffer[41];
    std::memset(buffer, 'x', sizeof buffer);
    const auto start = Clock::now();
    const int got = link.ReadBlock(buffer, 40, 5000);
    const long elapsed = MillisecondsSince(start);
    farEnd.join();
    EXPECT_EQ(got, 40);
    EXPECT_EQ(std::string(buffer), block);
    // It returns as soon as the block is complete, well before its limit.
    EXPECT_LT(elapsed, 4000);
}

TEST_F(LinkOverPty, RealWaitsLastAboutTheirLimit) {
    CComLink link(port.get());

    SendFromFarEnd("abc");
    ASSERT_TRUE(WaitUntil([&] { return link.RxCount() == 3; }));
    char buffer[41];
    auto start = Clock::now();
    EXPECT_EQ(link.ReadBlock(buffer, 40, 100), 3);
    long elapsed = MillisecondsSince(start);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_GE(elapsed, 95);
    EXPECT_LT(elapsed, 3000);

    start = Clock::now();
    EXPECT_EQ(link.ReadByteTimed(100), COM_ERR_TIMEOUT);
    elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 95);
    EXPECT_LT(elapsed, 3000);

    SendFromFarEnd("Q");
    ASSERT_TRUE(WaitUntil([&] { return link.RxCount() == 1; }));
    EXPECT_EQ(link.ReadByteTimed(2000), 'Q');
}

}  // namespace
