// The link over the real Win32 port on a pseudo-terminal: the settings it puts on a fresh port
// and back, a refused setting, a port that failed to open, and real-time waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "ComDeviceMap.h"
#include "ComLink.h"
#include "SerialSeam.h"
#include "Win32Port.h"

namespace {

using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// COM number that the tests map to their pseudo-terminal.
constexpr int kComNumber = 7;

// A pseudo-terminal whose far (master) side the test drives, mapped to kComNumber.
class LinkOverPty : public ::testing::Test {
  protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        const char* name = ptsname(master);
        ASSERT_NE(name, nullptr);
        SetComDevicePath(kComNumber, name);
        port = std::make_unique<CWin32Port>(kComNumber - 1, 4096, 2048, 0);
        ASSERT_EQ(port->PendingError(), 0);
    }

    void TearDown() override {
        port.reset();
        if (master >= 0) {
            close(master);
        }
        ClearComDeviceMap();
    }

    void SendFromFarEnd(const std::string& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    struct LineParameters {
        long baud = 0;
        char parity = '?';
        int dataBits = 0;
        int stopBits = 0;
    };
    LineParameters PortParameters() const {
        LineParameters p;
        port->GetLineParameters(p.baud, p.parity, p.dataBits, p.stopBits);
        return p;
    }

    int master = -1;
    std::unique_ptr<CWin32Port> port;
};

TEST_F(LinkOverPty, PutsAFreshPortTo9600WithoutFlowControlAndBackTo19200) {
    LineParameters p = PortParameters();
    EXPECT_EQ(p.baud, 19200);

    auto* link = new CComLink(port.get());
    p = PortParameters();
    EXPECT_EQ(p.baud, 9600);
    EXPECT_EQ(p.parity, 'N');
    EXPECT_EQ(p.dataBits, 8);
    EXPECT_EQ(p.stopBits, 1);
    int in = -1;
    int out = -1;
    EXPECT_EQ(port->GetHandshake(in, out), 0);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, 0);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link->TakeLineErrors(&flags), 0);
    EXPECT_EQ(flags, 0);

    delete link;
    p = PortParameters();
    EXPECT_EQ(p.baud, 19200);
    EXPECT_EQ(p.parity, 'N');
    EXPECT_EQ(p.dataBits, 8);
    EXPECT_EQ(p.stopBits, 1);
    EXPECT_EQ(port->GetHandshake(in, out), 0);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(port->PendingError(), 0);
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
    EXPECT_EQ(PortParameters().baud, 38400);
    EXPECT_EQ(settings.Restore(), 0);
    EXPECT_EQ(PortParameters().baud, 9600);
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
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(link.ReadByteTimed(2000), 'Q');
}

TEST(LinkOverFailedPort, FirstTakeLineErrorsGivesThePortsCodeAndNothingChanges) {
    SetComDevicePath(kComNumber + 1, "/nonexistent/sorvell-link-test");
    CWin32Port port(kComNumber, 4096, 2048, 0);
    const int code = port.PendingError();
    ASSERT_NE(code, 0);
    {
        CComLink link(&port);
        EXPECT_EQ(port.PendingError(), code);
        std::uint16_t flags = 0xFFFF;
        EXPECT_EQ(link.TakeLineErrors(&flags), code);
        EXPECT_EQ(flags, 0);
        flags = 0xFFFF;
        EXPECT_EQ(link.TakeLineErrors(&flags), 0);
        EXPECT_EQ(flags, 0);
    }
    EXPECT_EQ(port.PendingError(), 0);
    ClearComDeviceMap();
}

}  // namespace
