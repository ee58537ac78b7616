// The system's list of serial ports on this machine, as the program reads it: it runs, leaves
// out built-in ports without hardware, never offers a pseudo-terminal, and names a port by the
// stable name that leads to it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PortHardware.h"
#include "PortList.h"
#include "SystemPortListSource.h"
#include "TemporaryFolder.h"

namespace {

// A pseudo-terminal open for the test's length: what the simulator and terminal windows use.
class OpenPseudoTerminal {
  public:
    OpenPseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            slave_ = ptsname(master_);
        }
    }
    ~OpenPseudoTerminal() {
        if (master_ >= 0) {
            close(master_);
        }
    }
    const std::string& Slave() const { return slave_; }

  private:
    int master_;
    std::string slave_;
};

bool IsPseudoTerminal(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return false;
    }
    const unsigned number = major(status.st_rdev);
    return path.rfind("/dev/pts/", 0) == 0 || path == "/dev/ptmx" ||
           (number >= 128 && number <= 143) || number == 2 || number == 3 || number == 5;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
}

TEST(SystemPortList, ListsOnlyPortsWithSomethingBehindThemAndNoPseudoTerminal) {
    OpenPseudoTerminal pty;
    ASSERT_FALSE(pty.Slave().empty());
    SystemPortListSource source;
    const std::vector<SerialPortFacts> ports = source.PortsPresent();
    std::cout << "ports present on this machine: " << ports.size() << "\n";
    for (const SerialPortFacts& port : ports) {
        std::cout << "  " << port.device << " (" << port.systemLocation << ")\n";
        struct stat status {};
        ASSERT_EQ(stat(port.device.c_str(), &status), 0) << port.device;
        EXPECT_TRUE(S_ISCHR(status.st_mode)) << port.device;
        EXPECT_FALSE(IsPseudoTerminal(port.device)) << port.device;
        EXPECT_FALSE(IsPseudoTerminal(port.systemLocation)) << port.systemLocation;
        EXPECT_NE(port.systemLocation, pty.Slave());
        // A built-in port on the list has a UART behind it.
        EXPECT_FALSE(IsPortWithoutHardware(port.systemLocation)) << port.systemLocation;
    }
    // Even mapped to a COM number, a pseudo-terminal gets no line of the list.
    const std::vector<PortListEntry> list = ListPorts(source, {{5, pty.Slave()}});
    EXPECT_EQ(list.size(), ports.size());
    for (const PortListEntry& entry : list) {
        EXPECT_NE(entry.device, pty.Slave());
        EXPECT_EQ(std::count(entry.comNumbers.begin(), entry.comNumbers.end(), 5), 0);
    }
    // A second reading finds the same ports in the same order.
    const std::vector<SerialPortFacts> again = source.PortsPresent();
    ASSERT_EQ(again.size(), ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(again[i].device, ports[i].device);
    }
}

// The same listing, with the kernel's description of the ports and the folder of stable names
// replaced: a port whose UART type is 0 drops out, and a stable name that leads to a port names
// it. Needs at least one port on this machine.
TEST(SystemPortList, LeavesOutPortsWithoutAUartAndNamesPortsByTheirStableName) {
    const std::vector<SerialPortFacts> real = SystemPortListSource().PortsPresent();
    if (real.empty()) {
        GTEST_SKIP() << "no serial port on this machine";
    }
    TemporaryFolder folder;
    ASSERT_TRUE(folder.Create("sorvell-ports"));
    const std::string classFolder = folder.Path("tty");
    const std::string stableFolder = folder.Path("by-id");
    std::filesystem::create_directories(classFolder);
    std::filesystem::create_directories(stableFolder);

    const std::string first = real.front().systemLocation;
    const std::string firstName = std::filesystem::path(first).filename();
    const std::string stableName = stableFolder + "/usb-Maker_Test_Adapter_0042-if00-port0";
    std::filesystem::create_symlink(first, stableName);
    // A link to something else is no name of this port.
    std::filesystem::create_symlink("/dev/null", stableFolder + "/usb-Other-if00-port0");

    const std::vector<SerialPortFacts> named =
        SystemPortListSource(classFolder, stableFolder).PortsPresent();
    ASSERT_EQ(named.size(), real.size());
    EXPECT_EQ(named.front().device, stableName);
    EXPECT_EQ(named.front().systemLocation, first);

    // Its UART type said to be 4 (a 16550A), it stays; said to be 0, no UART stands behind it.
    std::filesystem::create_directories(classFolder + "/" + firstName);
    WriteFile(classFolder + "/" + firstName + "/type", "4\n");
    EXPECT_EQ(SystemPortListSource(classFolder, stableFolder).PortsPresent().size(), real.size());
    WriteFile(classFolder + "/" + firstName + "/type", "0\n");
    EXPECT_TRUE(IsPortWithoutHardware(stableName, classFolder));
    const std::vector<SerialPortFacts> without =
        SystemPortListSource(classFolder, stableFolder).PortsPresent();
    EXPECT_EQ(without.size(), real.size() - 1);
    for (const SerialPortFacts& port : without) {
        EXPECT_NE(port.systemLocation, first);
    }
}

TEST(PortHardware, OnlyAUartPortOfTypeZeroHasNoHardware) {
    TemporaryFolder folder;
    ASSERT_TRUE(folder.Create("sorvell-uart"));
    OpenPseudoTerminal pty;
    ASSERT_FALSE(pty.Slave().empty());
    const std::string name = std::filesystem::path(pty.Slave()).filename();
    // No description of the port at all (a USB adapter, a pseudo-terminal): hardware assumed.
    EXPECT_FALSE(IsPortWithoutHardware(pty.Slave(), folder.Path()));
    std::filesystem::create_directories(folder.Path(name));
    WriteFile(folder.Path(name + "/type"), "0\n");
    EXPECT_TRUE(IsPortWithoutHardware(pty.Slave(), folder.Path()));
    WriteFile(folder.Path(name + "/type"), "4\n");
    EXPECT_FALSE(IsPortWithoutHardware(pty.Slave(), folder.Path()));
    WriteFile(folder.Path(name + "/type"), "unreadable\n");
    EXPECT_FALSE(IsPortWithoutHardware(pty.Slave(), folder.Path()));
    // A path that leads nowhere names no port to judge.
    EXPECT_FALSE(IsPortWithoutHardware("/nonexistent/ttyS2", folder.Path()));
    // The real description of a pseudo-terminal: none.
    EXPECT_FALSE(IsPortWithoutHardware(pty.Slave()));
}

}  // namespace
