// sorvell-check --list-ports with ports given by the test: the lines, the profile's COM numbers
// on them, and what a profile with entries it cannot use or no port at all gives.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CheckOptions.h"
#include "FakePortList.h"
#include "ListSerialPorts.h"
#include "Profile.h"
#include "TemporaryFolder.h"

namespace {

class ListSerialPortsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.Create("sorvell-list-ports")); }

    // The command's output, its messages and status, on a profile holding text.
    int List(const std::string& text) {
        const std::string path = folder_.Path("sorvell.ini");
        std::ofstream(path) << text;
        Profile profile(path);
        return ListSerialPorts(ports_, profile, out_, err_);
    }

    TemporaryFolder folder_;
    FixedPortList ports_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(ListSerialPortsTest, OnePortALineWithTheComNumbersOfTheProfile) {
    SerialPortFacts builtIn{"/dev/ttyS0", "/dev/ttyS0", "", "", "", {}, {}};
    ports_.ports = {builtIn, FtdiAdapter(), SiliconLabsAdapter()};
    EXPECT_EQ(List("[MySorvellAp]\nSorvellComPort=3\n[Ports]\nCOM3=/dev/ttyUSB0\nCOM17=/dev/x\n"
                   "COM9=" +
                   SiliconLabsAdapter().device + "\n"),
              0);
    EXPECT_EQ(out_.str(),
              "/dev/ttyS0  no description, COM1\n" + FtdiAdapter().device +
                  "  FT232R USB UART, FTDI, serial number A50285BI, USB 0403:6001, COM3\n" +
                  SiliconLabsAdapter().device +
                  "  CP2102 USB to UART Bridge Controller, Silicon Labs, serial number 0001, USB "
                  "10c4:ea60, COM9\n");
    // The entry the profile cannot use is named, as the window names it.
    EXPECT_EQ(err_.str(), "sorvell-check: " + folder_.Path("sorvell.ini") +
                              ": [Ports] COM17 ignored: COM numbers run from 1 to 16\n");
}

TEST_F(ListSerialPortsTest, NoPortPresentIsSaidAndIsNoFailure) {
    EXPECT_EQ(List(""), 0);
    EXPECT_EQ(out_.str(), "No serial port is present.\n");
    EXPECT_EQ(err_.str(), "");
}

TEST(ListPortsOption, TakesNoValue) {
    std::string error;
    const std::vector<std::string> alone{"--list-ports"};
    const std::optional<CheckOptions> options = ParseCheckOptions(alone, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->listPorts);
    const std::vector<std::string> withValue{"--list-ports=all"};
    EXPECT_FALSE(ParseCheckOptions(withValue, error));
    EXPECT_EQ(error, "--list-ports takes no value");
    EXPECT_NE(std::string(CheckHelpText).find("--list-ports"), std::string::npos);
}

}  // namespace
