// The profile's text: one value found and changed in place, every other byte kept.
#include "ProfileText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Written(const std::string& file, const char* value) {
    return ApplyProfileEdit(file, PlanProfileWrite(file, "MySorvellAp", "SorvellComPort", value));
}

}  // namespace

TEST(ProfileText, ValuesAreFoundAsTheProfileCallsFindThem) {
    const struct {
        const char* file;
        const char* value;  // nullptr: not found
    } cases[] = {
        {"[MySorvellAp]\nSorvellComPort=7\n", "7"},
        {"[mysorvellap]\r\n  sorvellcomport \t=  -12 \t\r\n", "-12"},
        {"\xEF\xBB\xBF[MySorvellAp]\nSorvellComPort=\"5\"\n", "5"},          // UTF-8 mark, quotes
        {"[MySorvellAp]\nSorvellComPort=4\nSorvellComPort=9\n", "4"},        // the first counts
        {"[MySorvellAp]\nX=1\n[MySorvellAp]\nSorvellComPort=9\n", nullptr},  // first section
        {"SorvellComPort=3\n[MySorvellAp]\n", nullptr},                      // before any section
        {"[MySorvellAp]\n;SorvellComPort=3\nSorvellComPort\n", nullptr},     // comment, no '='
        {"[Other]\nSorvellComPort=5\n", nullptr},
        {"[MySorvellAp ]\nSorvellComPort=8", "8"},  // no line end at the end
        {"[MySorvellAp]\nSorvellComPort=\n", ""},
    };
    for (const auto& c : cases) {
        const auto value = FindProfileValue(c.file, "MySorvellAp", "SorvellComPort");
        if (c.value == nullptr) {
            EXPECT_FALSE(value.has_value()) << c.file;
        } else {
            EXPECT_EQ(value, std::optional<std::string>(c.value)) << c.file;
        }
    }
}

TEST(ProfileText, AWriteChangesTheOneValueAndKeepsEveryOtherByte) {
    const struct {
        const char* before;
        const char* after;
    } cases[] = {
        // Comments, another section, a duplicate key and CR LF line ends all stay.
        {"; my settings\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n\r\n[MySorvellAp]\r\n"
         "SorvellComPort = 3 ; old\r\nSorvellComPort=4\r\n",
         "; my settings\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n\r\n[MySorvellAp]\r\n"
         "SorvellComPort = 11\r\nSorvellComPort=4\r\n"},
        {"[MySorvellAp]\nSorvellComPort=\"3\"\n", "[MySorvellAp]\nSorvellComPort=11\n"},
        // Entry missing: a line after the section's last line, before its blank lines.
        {"[MySorvellAp]\r\nOther=1\r\n\r\n[Ports]\r\n",
         "[MySorvellAp]\r\nOther=1\r\nSorvellComPort=11\r\n\r\n[Ports]\r\n"},
        {"[MySorvellAp]", "[MySorvellAp]\nSorvellComPort=11"},
        // Section missing: added at the end, in the file's line ends.
        {"[Ports]\r\nCOM1=/dev/a",
         "[Ports]\r\nCOM1=/dev/a\r\n[MySorvellAp]\r\nSorvellComPort=11\r\n"},
        {"", "[MySorvellAp]\nSorvellComPort=11\n"},
    };
    for (const auto& c : cases) {
        const std::string after = Written(c.before, "11");
        EXPECT_EQ(after, c.after) << c.before;
        EXPECT_EQ(FindProfileValue(after, "MySorvellAp", "SorvellComPort"), "11") << c.before;
    }
}

TEST(ProfileText, AUtf16ProfileIsReadAndWrittenInItsOwnEncoding) {
    const auto utf16le = [](const std::u16string& text) {
        std::string bytes = "\xFF\xFE";
        for (const char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        return bytes;
    };
    const std::string before =
        utf16le(u"[Ports]\r\nCOM2=/dev/tty\u00e9\r\n[MySorvellAp]\r\nSorvellComPort=3\r\n");
    EXPECT_EQ(FindProfileValue(before, "MySorvellAp", "SorvellComPort"), "3");
    EXPECT_EQ(FindProfileValue(before, "Ports", "COM2"), "/dev/tty\xC3\xA9");
    EXPECT_EQ(Written(before, "12"),
              utf16le(u"[Ports]\r\nCOM2=/dev/tty\u00e9\r\n[MySorvellAp]\r\nSorvellComPort=12\r\n"));
    EXPECT_EQ(Written(utf16le(u"[Ports]\n"), "4"),
              utf16le(u"[Ports]\n[MySorvellAp]\nSorvellComPort=4\n"));
}
