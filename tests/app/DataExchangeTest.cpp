#include "DataExchange.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <utility>

#include "DialogUnits.h"

TEST(DialogUnits, MainDialogIs480By325AndControlsRoundToNearest) {
    EXPECT_EQ(DialogUnitsToPixelsX(320), 480);
    EXPECT_EQ(DialogUnitsToPixelsY(200), 325);
    // 105 * 1.5 = 157.5 and 169 * 13 / 8 = 274.625 round up; 141 * 13 / 8 = 229.125 rounds down.
    EXPECT_EQ(DialogUnitsToPixelsX(105), 158);
    EXPECT_EQ(DialogUnitsToPixelsY(169), 275);
    EXPECT_EQ(DialogUnitsToPixelsY(141), 229);
    EXPECT_EQ(DialogRect(1, 141, 25, 8), QRect(2, 229, 38, 13));
}

TEST(DataExchange, MarginAcceptsTheNumberFormsWithBlanksAround) {
    const std::pair<const char*, float> accepted[] = {
        {"5", 5.0f},  {"  2.5\t", 2.5f}, {"-3", -3.0f},     {"+.5", 0.5f},
        {"7.", 7.0f}, {"1e1", 10.0f},    {"2.5E-1", 0.25f}, {"3.4e38", 3.4e38f}};
    for (const auto& [text, value] : accepted) {
        EXPECT_EQ(ParseFloatText(text), value) << '"' << text << '"';
    }
}

TEST(DataExchange, MarginRefusesWhatIsNotOneNumberOrLiesBeyondTheFloatRange) {
    for (const char* text :
         {"", "   ", "abc", "5x", "1e", "1e+", ".", "-", "+-1", "5 5", "0x10", "inf", "nan", "1,5",
          "\xc2\xb1"
          "5",
          "3.5e38", "-1e39", "1e999"}) {
        EXPECT_FALSE(ParseFloatText(text).has_value()) << '"' << text << '"';
    }
}

// The step and the port number of the Port Selection dialog are read alike.
TEST(DataExchange, IntegerEditsAcceptSignedIntegersWithBlanksAround) {
    const std::pair<const char*, int> accepted[] = {{"6", 6},
                                                    {" -3 ", -3},
                                                    {"+4", 4},
                                                    {"\t0", 0},
                                                    {"2147483647", 2147483647},
                                                    {"-2147483648", -2147483647 - 1}};
    for (const auto& [text, value] : accepted) {
        EXPECT_EQ(ParseIntText(text), value) << '"' << text << '"';
    }
}

TEST(DataExchange, IntegerEditsRefuseFractionsTextAndOverflow) {
    for (const char* text :
         {"", " ", "-", "+", "6.5", "abc", "6x", "x6", "COM6", "1e2", "0x10", "+-4", "--4", "4 4",
          "2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_FALSE(ParseIntText(text).has_value()) << '"' << text << '"';
    }
}

TEST(DataExchange, PushedTextIsTheShortestFormWithSixDigits) {
    EXPECT_EQ(FormatFloatText(5.0f), "5");
    EXPECT_EQ(FormatFloatText(2.5f), "2.5");
    EXPECT_EQ(FormatFloatText(-0.125f), "-0.125");
    EXPECT_EQ(FormatFloatText(0.1f), "0.1");
    EXPECT_EQ(FormatFloatText(1234567.0f), "1.23457e+06");
    EXPECT_EQ(FormatIntText(6), "6");
    EXPECT_EQ(FormatIntText(-12), "-12");
    // What is pushed pulls back to the same member.
    for (float value : {5.0f, 0.1f, -7.25f, 100.0f}) {
        EXPECT_EQ(ParseFloatText(FormatFloatText(value)), value);
    }
}
