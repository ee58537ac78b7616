// Why a COM number's device cannot be used, as the connection's failure boxes and sorvell-check's
// messages say it: each kind of device a number may be mapped to, and the hint that
// ends the text wherever another device has to be chosen.
#include "ComDeviceProblem.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ComDeviceMap.h"
#include "TemporaryFolder.h"
#include "WinSerial.h"

namespace {

constexpr int Number = 5;
constexpr const char* Hint = "Try another.";

class ComDeviceProblemTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder.Create("device-problem")); }
    void TearDown() override { ClearComDeviceMap(); }

    // What COM5 says when it leads to path, after an open that set openError.
    std::string Describe(const std::string& path, std::uint32_t openError = ERROR_SUCCESS) {
        SetComDevicePath(Number, path);
        return DescribeComDeviceProblem(Number, openError, Hint);
    }
    std::string Line(const std::string& path) { return "Device: " + path + " (COM5)\n"; }

    TemporaryFolder folder;
};

TEST_F(ComDeviceProblemTest, NumbersOutsideTheRangeNameNoDeviceAndEndWithTheHint) {
    for (const int number : {0, -1, HighestComNumber + 1, 1000}) {
        EXPECT_EQ(
            DescribeComDeviceProblem(number, ERROR_SUCCESS, Hint),
            "COM" + std::to_string(number) + " is no port: numbers run from 1 to 16. Try another.");
    }
}

TEST_F(ComDeviceProblemTest, WhatStandsAtThePathDecidesTheReason) {
    const std::string missing = folder.Path("gone");
    EXPECT_EQ(Describe(missing), Line(missing) + "No such file or directory. Try another.");

    const std::string plain = folder.Path("plain");
    std::ofstream(plain) << "not a terminal";
    EXPECT_EQ(Describe(plain), Line(plain) + "Not a serial device. Try another.");

    // A character device that opened but is no terminal is no serial device either.
    EXPECT_EQ(Describe("/dev/null", ERROR_INVALID_FUNCTION),
              Line("/dev/null") + "Not a serial device. Try another.");

    // A serial device the user may open: the system's code says why the open failed, and no
    // hint follows, since the device itself is the right one.
    EXPECT_EQ(Describe("/dev/null"), Line("/dev/null") + "It may be in use by another program.");
    EXPECT_EQ(Describe("/dev/null", ERROR_ACCESS_DENIED),
              Line("/dev/null") + "It may be in use by another program.");
    EXPECT_EQ(Describe("/dev/null", ERROR_FILE_NOT_FOUND), Line("/dev/null") + "No such device.");
    EXPECT_EQ(Describe("/dev/null", ERROR_DEVICE_NOT_CONNECTED),
              Line("/dev/null") + "The device is no longer connected.");
    EXPECT_EQ(Describe("/dev/null", 4242), Line("/dev/null") + "The system reported error 4242.");
}

TEST(SystemErrorReason, SaysWhatEachCodeMeansToAUser) {
    EXPECT_EQ(SystemErrorReason(ERROR_PATH_NOT_FOUND), "No such device.");
    EXPECT_EQ(SystemErrorReason(ERROR_INVALID_FUNCTION), "Not a serial device.");
    EXPECT_EQ(SystemErrorReason(ERROR_INVALID_PARAMETER),
              "The device does not support this line setting.");
    EXPECT_EQ(SystemErrorReason(ERROR_NOT_SUPPORTED),
              "The device does not support this line setting.");
}

}  // namespace
