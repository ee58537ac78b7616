#include "Profile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "ComDeviceMap.h"
#include "ProcessChecks.h"
#include "TemporaryFolder.h"

namespace {

void WriteText(const std::string& path, std::string_view text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file.is_open()) << path;
    file << text;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "<unreadable>";
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The names in folder, hidden ones included, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Folder {
  public:
    Folder() { EXPECT_TRUE(folder_.Create("sorvell-profile")); }
    std::string path() const { return folder_.Path(); }

  private:
    TemporaryFolder folder_;
};

class ProfileTest : public ::testing::Test {
  protected:
    Folder dir_;
    std::string path_ = dir_.path() + "/sorvell.ini";
    Profile profile_{path_};
};

// Restores an environment variable when the test ends.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            saved_ = value;
            had_ = true;
        }
    }
    ~ScopedEnvironment() {
        if (had_) {
            setenv(name_, saved_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

}  // namespace

TEST_F(ProfileTest, PortNumberIsReadAsASignedIntegerWithTheDefaultOtherwise) {
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 3);  // no file
    WriteText(path_, "[MySorvellAp]\nSorvellComPort=7\n");
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 7);
    WriteText(path_, "[MySorvellAp]\nSorvellComPort = -12 \n");
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), -12);
    WriteText(path_, "[MySorvellAp]\nSorvellComPort=1000\n[Other]\nX=1\n");
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 1000);
    for (const char* text :
         {"[MySorvellAp]\nSorvellComPort=abc\n", "[MySorvellAp]\nSorvellComPort=12abc\n",
          "[MySorvellAp]\nSorvellComPort=\n", "[MySorvellAp]\nSorvellComPort=4.5\n",
          "[MySorvellAp]\nSorvellComPort=99999999999\n", "[Other]\nSorvellComPort=5\n",
          "not an ini file at all"}) {
        WriteText(path_, text);
        EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 3) << text;
    }
}

TEST_F(ProfileTest, WrittenNumberIsReadBackAndOtherSectionsKept) {
    WriteText(path_, "[Ports]\nCOM3=/dev/ttyUSB0\n");
    ASSERT_TRUE(profile_.WriteInt(Profile::AppSection, Profile::ComPortEntry, 1000));
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 1000);
    ASSERT_TRUE(profile_.WriteInt(Profile::AppSection, Profile::ComPortEntry, -4));
    EXPECT_EQ(Profile(path_).GetInt(Profile::AppSection, Profile::ComPortEntry, 3), -4);
    std::vector<std::string> warnings;
    const auto mappings = profile_.ReadPortMappings(warnings);
    ASSERT_EQ(mappings.size(), 1u);
    EXPECT_EQ(mappings[0].devicePath, "/dev/ttyUSB0");
    // Written through a temporary file that replaces the profile: nothing else is left behind.
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"sorvell.ini"});
}

TEST_F(ProfileTest, SavingThePortKeepsEveryOtherByteAndThePermissions) {
    const char* before =
        "; Sorvell on the bench PC\r\n[Ports]\r\nCOM3=/dev/ttyUSB0 ; the adapter\r\n"
        "[MySorvellAp]\r\nSorvellComPort=3\r\nSorvellComPort=8\r\n\r\n[Zeta]\r\nA=1\r\n";
    WriteText(path_, before);
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    ASSERT_TRUE(profile_.WriteInt(Profile::AppSection, Profile::ComPortEntry, 12));
    EXPECT_EQ(ReadBytes(path_),
              "; Sorvell on the bench PC\r\n[Ports]\r\nCOM3=/dev/ttyUSB0 ; the adapter\r\n"
              "[MySorvellAp]\r\nSorvellComPort=12\r\nSorvellComPort=8\r\n\r\n[Zeta]\r\nA=1\r\n");
    struct stat status {};
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_TRUE(profile_.Problem().empty());

    // A read-only profile stays as it is, and read-only.
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    EXPECT_FALSE(profile_.WriteInt(Profile::AppSection, Profile::ComPortEntry, 5));
    EXPECT_EQ(profile_.Problem(), path_ + " is read-only");
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0444u);
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 12);

    // A symbolic link is followed: the file behind it changes, the link stays a link.
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    const std::string link = dir_.path() + "/link.ini";
    ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
    Profile linked(link);
    ASSERT_TRUE(linked.WriteInt(Profile::AppSection, Profile::ComPortEntry, 7));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 7);
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"link.ini", "sorvell.ini"}));
}

TEST_F(ProfileTest, APortChoiceMapsTheDeviceAndSavesTheNumberInOneWriteKeepingEveryOtherByte) {
    const std::string adapter = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const char* before =
        "; Sorvell on the bench PC\r\n[MySorvellAp]\r\n  SorvellComPort = 3 \r\n\r\n"
        "[Ports]\r\n; the old adapter\r\ncom2 = \"/dev/ttyUSB9\"\r\nCOM4=/dev/ttyACM0\r\n\r\n"
        "[Zeta]\r\nA=1\r\n";
    WriteText(path_, before);
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    // A new number: its line goes after the section's last line; the saved number changes where
    // it stands.
    ASSERT_TRUE(profile_.WritePortChoice(5, adapter));
    EXPECT_EQ(
        ReadBytes(path_),
        "; Sorvell on the bench PC\r\n[MySorvellAp]\r\n  SorvellComPort = 5 \r\n\r\n"
        "[Ports]\r\n; the old adapter\r\ncom2 = \"/dev/ttyUSB9\"\r\nCOM4=/dev/ttyACM0\r\nCOM5=" +
            adapter + "\r\n\r\n[Zeta]\r\nA=1\r\n");
    // A number the profile maps already: only its value changes (the quotes were the value's),
    // the key as it was.
    ASSERT_TRUE(profile_.WritePortChoice(2, adapter));
    EXPECT_EQ(ReadBytes(path_),
              "; Sorvell on the bench PC\r\n[MySorvellAp]\r\n  SorvellComPort = 2 \r\n\r\n"
              "[Ports]\r\n; the old adapter\r\ncom2 = " +
                  adapter + "\r\nCOM4=/dev/ttyACM0\r\nCOM5=" + adapter +
                  "\r\n\r\n[Zeta]\r\nA=1\r\n");
    struct stat status {};
    ASSERT_EQ(stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    std::vector<std::string> warnings;
    const auto mappings = profile_.ReadPortMappings(warnings);
    ASSERT_EQ(mappings.size(), 3u);
    EXPECT_EQ(mappings[0].devicePath, adapter);
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"sorvell.ini"});

    // A profile without the sections gets both; one that is not there yet is made.
    const std::string fresh = dir_.path() + "/fresh/sorvell.ini";
    ASSERT_TRUE(Profile(fresh).WritePortChoice(1, "/dev/ttyUSB0"));
    EXPECT_EQ(ReadBytes(fresh), "[Ports]\nCOM1=/dev/ttyUSB0\n[MySorvellAp]\nSorvellComPort=1\n");
}

TEST_F(ProfileTest, APortChoiceTheFileCannotKeepLeavesItAsItWas) {
    const std::string before = "[MySorvellAp]\nSorvellComPort=3\n";
    WriteText(path_, before);
    // A path that no line can hold as it stands: neither value is written.
    for (const std::string& path : {std::string("/dev/tty\nUSB0"), std::string("/dev/ttyUSB0 "),
                                    std::string("\"/dev/ttyUSB0")}) {
        EXPECT_FALSE(profile_.WritePortChoice(4, path));
        EXPECT_EQ(profile_.Problem().rfind(path_ + " cannot hold ", 0), 0u) << profile_.Problem();
        EXPECT_EQ(ReadBytes(path_), before);
    }
    // Read-only: neither value either, and the reason names the file.
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    EXPECT_FALSE(profile_.WritePortChoice(4, "/dev/ttyUSB0"));
    EXPECT_EQ(profile_.Problem(), path_ + " is read-only");
    EXPECT_EQ(ReadBytes(path_), before);
}

TEST_F(ProfileTest, WhatIsNoRegularFileIsNeitherHungOnNorReplaced) {
    // A FIFO (opening it for reading would wait for a writer), a device node behind a link, a
    // directory and a file over 1 MB.
    const std::string fifo = dir_.path() + "/fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string device = dir_.path() + "/device.ini";
    ASSERT_EQ(symlink("/dev/null", device.c_str()), 0);
    const std::string directory = dir_.path() + "/directory.ini";
    ASSERT_TRUE(std::filesystem::create_directory(directory));
    const std::string large = dir_.path() + "/large.ini";
    const std::string largeBytes =
        "[MySorvellAp]\nSorvellComPort=9\n" + std::string(2 * 1024 * 1024, ';');
    WriteText(large, largeBytes);
    const struct {
        std::string path;
        const char* problem;
    } cases[] = {{fifo, " is not a regular file"},
                 {device, " is not a regular file"},
                 {directory, " is not a regular file"},
                 {large, " is larger than 1 MB"}};
    for (const auto& c : cases) {
        Profile profile(c.path);
        EXPECT_EQ(profile.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 3) << c.path;
        EXPECT_EQ(profile.Problem(), c.path + c.problem);
        EXPECT_FALSE(profile.WriteInt(Profile::AppSection, Profile::ComPortEntry, 4));
        EXPECT_EQ(profile.Problem(), c.path + c.problem);
        std::vector<std::string> warnings;
        EXPECT_TRUE(profile.ReadPortMappings(warnings).empty());
    }
    struct stat status {};
    ASSERT_EQ(stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    ASSERT_EQ(stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
    EXPECT_TRUE(std::filesystem::is_symlink(device));
    EXPECT_TRUE(std::filesystem::is_directory(directory));
    EXPECT_EQ(ReadBytes(large), largeBytes);
}

TEST_F(ProfileTest, AnUnreadableProfileGivesTheDefaultAndSaysWhy) {
    WriteText(path_, "[MySorvellAp]\nSorvellComPort=9\n");
    ASSERT_EQ(chmod(path_.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    const auto check = [&] {
        Profile profile(path_);
        const bool defaulted = profile.GetInt(Profile::AppSection, Profile::ComPortEntry, 3) == 3;
        const bool said = profile.Problem() == path_ + " cannot be read (Permission denied)";
        const bool kept = !profile.WriteInt(Profile::AppSection, Profile::ComPortEntry, 4);
        return defaulted && said && kept;
    };
    EXPECT_TRUE(CheckAsUnprivilegedUser(check));
    EXPECT_EQ(ReadBytes(path_), "[MySorvellAp]\nSorvellComPort=9\n");
}

TEST_F(ProfileTest, WritingCreatesTheConfigurationDirectory) {
    Profile nested(dir_.path() + "/config/deeper/sorvell.ini");
    ASSERT_TRUE(nested.WriteInt(Profile::AppSection, Profile::ComPortEntry, 5));
    EXPECT_EQ(nested.GetInt(Profile::AppSection, Profile::ComPortEntry, 3), 5);
}

TEST_F(ProfileTest, AnUnwritableProfileIsReportedAsNotWritten) {
    WriteText(dir_.path() + "/blocker", "a file where a directory should be");
    Profile blocked(dir_.path() + "/blocker/sorvell.ini");
    EXPECT_FALSE(blocked.WriteInt(Profile::AppSection, Profile::ComPortEntry, 5));
}

TEST(ProfileLocation, FollowsXdgConfigHomeElseHomeConfig) {
    ScopedEnvironment config("XDG_CONFIG_HOME");
    ScopedEnvironment home("HOME");
    setenv("HOME", "/home/tester", 1);
    setenv("XDG_CONFIG_HOME", "/tmp/xdg-here", 1);
    EXPECT_EQ(Profile::DefaultPath(), "/tmp/xdg-here/sorvell.ini");
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
    EXPECT_EQ(Profile::DefaultPath(), "/home/tester/.config/sorvell.ini");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Profile::DefaultPath(), "/home/tester/.config/sorvell.ini");
}

TEST_F(ProfileTest, PortsSectionMapsComNumbersAndWarnsAboutTheRest) {
    WriteText(path_,
              "[MySorvellAp]\nSorvellComPort=3\n"
              "[Ports]\nCOM3=/dev/ttyUSB0\ncom5=/dev/pts/7\nCOM16=/dev/ttyACM1\n"
              "COM0=/dev/a\nCOM17=/dev/b\nCOMX=/dev/c\nPrinter=/dev/lp0\nCOM4=\nCOM-1=/dev/d\n");
    std::vector<std::string> warnings;
    const auto mappings = profile_.ReadPortMappings(warnings);
    std::map<int, std::string> byNumber;
    for (const auto& mapping : mappings) {
        byNumber[mapping.comNumber] = mapping.devicePath;
    }
    EXPECT_EQ(byNumber, (std::map<int, std::string>{
                            {3, "/dev/ttyUSB0"}, {5, "/dev/pts/7"}, {16, "/dev/ttyACM1"}}));
    ASSERT_EQ(warnings.size(), 6u);
    const std::string all = [&] {
        std::string joined;
        for (const auto& warning : warnings) {
            joined += warning + "\n";
        }
        return joined;
    }();
    for (const char* key : {"COM0", "COM17", "COMX", "Printer", "COM4", "COM-1"}) {
        EXPECT_NE(all.find(std::string("[Ports] ") + key + " ignored"), std::string::npos) << key;
    }
}

TEST_F(ProfileTest, PortsAreLoadedIntoTheSerialLayerAtStartUp) {
    WriteText(path_, "[Ports]\nCOM3=/dev/ttyUSB0\nCOM9=/dev/pts/3\nCOM40=/dev/x\n");
    ClearComDeviceMap();
    std::ostringstream warnings;
    EXPECT_EQ(LoadComDeviceMap(profile_, warnings), 2);
    EXPECT_EQ(ComDevicePath(3), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(9), "/dev/pts/3");
    EXPECT_EQ(ComDevicePath(4), "/dev/ttyS3");  // no entry: the usual device
    EXPECT_NE(warnings.str().find("COM40 ignored: COM numbers run from 1 to 16"), std::string::npos)
        << warnings.str();
    ClearComDeviceMap();

    std::ostringstream none;
    EXPECT_EQ(LoadComDeviceMap(Profile(dir_.path() + "/missing.ini"), none), 0);
    EXPECT_TRUE(none.str().empty());
}

// The port a start (the window's, sorvell-check's) connects on, from the number the profile
// keeps: above the COM range it is the default port; below it the number stays, and its attempt
// fails into the Port Selection dialog.
TEST_F(ProfileTest, TheSavedNumberGivesTheStartPort) {
    struct Row {
        int saved;
        int start;
    };
    for (const Row row : {Row{0, 0}, Row{3, 3}, Row{16, 16}, Row{17, 3}, Row{1000, 3}}) {
        SCOPED_TRACE(row.saved);
        ASSERT_TRUE(profile_.WriteInt(Profile::AppSection, Profile::ComPortEntry, row.saved));
        const int saved = Profile(path_).GetInt(Profile::AppSection, Profile::ComPortEntry,
                                                Profile::DefaultComNumber);
        EXPECT_EQ(saved, row.saved);
        EXPECT_EQ(StartComNumber(saved), row.start);
    }
    // Nothing saved yet: the default, which is in the range.
    std::filesystem::remove(path_);
    EXPECT_EQ(StartComNumber(profile_.GetInt(Profile::AppSection, Profile::ComPortEntry,
                                             Profile::DefaultComNumber)),
              3);
}
