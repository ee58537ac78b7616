// The list lines from ports given by the test: what each line says, which COM numbers reach a
// port, and the number a choice gets.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "FakePortList.h"
#include "PortList.h"

namespace {

SerialPortFacts BuiltIn(int index) {
    const std::string node = "/dev/ttyS" + std::to_string(index);
    return SerialPortFacts{node, node, "", "", "", {}, {}};
}

std::vector<std::string> Lines(const std::vector<PortListEntry>& list) {
    std::vector<std::string> lines;
    for (const PortListEntry& entry : list) {
        lines.push_back(entry.Line());
    }
    return lines;
}

TEST(PortList, EachLineNamesTheDeviceWhatItIsAndTheComNumbersThatReachIt) {
    SerialPortFacts bare = FtdiAdapter("/dev/ttyACM0", "/dev/ttyACM0");
    bare.description = "";
    bare.manufacturer = "";
    bare.serialNumber = "";
    bare.vendorId.reset();
    SerialPortFacts sameName = SiliconLabsAdapter();
    sameName.manufacturer = sameName.description;

    FixedPortList ports({FtdiAdapter(), sameName, bare, BuiltIn(1)});
    // COM5 reaches the FTDI adapter by its node, COM7 by its stable name; the CP2102's COM2 is
    // shadowed by the first entry for that number; COM2 with no entry of its own would open
    // /dev/ttyS1, but the profile gives it to another device.
    const std::vector<ComMapping> mappings = {
        {7, FtdiAdapter().device}, {5, "/dev/ttyUSB0"}, {2, "/dev/ttyACM9"}, {2, "/dev/ttyUSB1"}};
    const std::vector<PortListEntry> list = ListPorts(ports, mappings);
    EXPECT_EQ(ports.reads, 1);
    EXPECT_EQ(
        Lines(list),
        (std::vector<std::string>{
            FtdiAdapter().device +
                "  FT232R USB UART, FTDI, serial number A50285BI, USB 0403:6001, COM5 and COM7",
            SiliconLabsAdapter().device +
                "  CP2102 USB to UART Bridge Controller, serial number 0001, USB 10c4:ea60, no COM "
                "number",
            "/dev/ttyACM0  no description, no COM number",
            "/dev/ttyS1  no description, no COM number"}));
    EXPECT_EQ(list[0].comNumbers, (std::vector<int>{5, 7}));
    EXPECT_EQ(list[0].device, FtdiAdapter().device);

    // Without the profile's entry for COM2, the built-in port is COM2 again.
    const std::vector<PortListEntry> unmapped = BuildPortList({BuiltIn(1), BuiltIn(15)}, {});
    EXPECT_EQ(unmapped[0].comNumbers, (std::vector<int>{2}));
    EXPECT_EQ(unmapped[1].comNumbers, (std::vector<int>{16}));
}

TEST(PortList, AChoiceGetsItsOwnNumberElseTheLowestThatHidesNoPortPresent) {
    const std::vector<SerialPortFacts> present = {BuiltIn(0), BuiltIn(2), FtdiAdapter(),
                                                  SiliconLabsAdapter()};
    const std::vector<ComMapping> mappings = {{2, "/dev/serial/by-id/usb-gone"},
                                              {6, "/dev/ttyUSB1"}};
    const std::vector<PortListEntry> list = BuildPortList(present, mappings);
    // COM1 and COM3 open the built-in ports present, COM2 a device the profile names: COM4.
    EXPECT_EQ(ComNumberForChoice(list, 2, mappings), 4);
    // Already reached: its own number. The built-in ports keep theirs.
    EXPECT_EQ(ComNumberForChoice(list, 3, mappings), 6);
    EXPECT_EQ(ComNumberForChoice(list, 1, mappings), 3);
    EXPECT_EQ(ComNumberForChoice(list, 4, mappings), 0);

    // Every number taken: the choice gets none, and the user's own number counts.
    std::vector<ComMapping> full;
    for (int number = 1; number <= 16; ++number) {
        full.push_back({number, "/dev/serial/by-id/usb-other-" + std::to_string(number)});
    }
    EXPECT_EQ(ComNumberForChoice(BuildPortList(present, full), 2, full), 0);
}

TEST(PortList, PrintedOnePortALineOrSayingThatThereIsNone) {
    std::ostringstream none;
    PrintPortList({}, none);
    EXPECT_EQ(none.str(), "No serial port is present.\n");

    std::ostringstream two;
    PrintPortList(BuildPortList({BuiltIn(0), FtdiAdapter()}, {}), two);
    EXPECT_EQ(two.str(), "/dev/ttyS0  no description, COM1\n" + FtdiAdapter().device +
                             "  FT232R USB UART, FTDI, serial number A50285BI, USB 0403:6001, no "
                             "COM number\n");
}

}  // namespace
