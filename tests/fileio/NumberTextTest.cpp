// The one number reader over every form the program's numbers are written in: each row is one
// text, each column what one form makes of it.

#include "NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <optional>
#include <string_view>

namespace {

constexpr std::nullopt_t No = std::nullopt;

template <typename T>
struct Row {
    std::string_view text;
    std::optional<T> exact;
    std::optional<T> commandLine;
    std::optional<T> dialogEdit;
    std::optional<T> limitsLevel;
    std::optional<T> recordingField;
};

// Equal, both refused, or both a NaN.
template <typename T>
bool SameAnswer(const std::optional<T>& got, const std::optional<T>& expected) {
    if (got.has_value() != expected.has_value()) {
        return false;
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (got && std::isnan(*got) && std::isnan(*expected)) {
            return true;
        }
    }
    return !got || *got == *expected;
}

template <typename T>
void ExpectEveryForm(std::initializer_list<Row<T>> rows) {
    const std::pair<const char*, NumberForm> forms[] = {
        {"Exact", NumberForms::Exact},
        {"CommandLine", NumberForms::CommandLine},
        {"DialogEdit", NumberForms::DialogEdit},
        {"LimitsLevel", NumberForms::LimitsLevel},
        {"RecordingField", NumberForms::RecordingField}};
    for (const Row<T>& row : rows) {
        const std::optional<T> expected[] = {row.exact, row.commandLine, row.dialogEdit,
                                             row.limitsLevel, row.recordingField};
        for (std::size_t f = 0; f < std::size(forms); ++f) {
            const std::optional<T> got = ParseNumber<T>(row.text, forms[f].second);
            EXPECT_TRUE(SameAnswer(got, expected[f]))
                << forms[f].first << " \"" << row.text << "\": got "
                << (got ? std::to_string(*got) : "none") << ", expected "
                << (expected[f] ? std::to_string(*expected[f]) : "none");
        }
    }
}

TEST(NumberText, IntegersInEveryForm) {
    // text             Exact  Command  Dialog  Limits  Recording
    ExpectEveryForm<int>({
        {"5", 5, 5, 5, 5, 5},
        {"007", 7, 7, 7, 7, 7},
        {"-3", -3, -3, -3, -3, No},
        {"+4", No, No, 4, 4, No},
        {" 6", No, No, 6, No, No},
        {"6\t", No, No, 6, No, No},
        {" \t+6 ", No, No, 6, No, No},
        {"+ 6", No, No, No, No, No},
        {"+-4", No, No, No, No, No},
        {"++4", No, No, No, No, No},
        {"--4", No, No, No, No, No},
        {"-", No, No, No, No, No},
        {"+", No, No, No, No, No},
        {"", No, No, No, No, No},
        {"  ", No, No, No, No, No},
        {"4 4", No, No, No, No, No},
        {"6.5", No, No, No, No, No},
        {"1e1", No, No, No, No, No},
        {"0x10", No, No, No, No, No},
        {"6\r", No, No, No, No, No},
        {"\n6", No, No, No, No, No},
        {"2147483647", INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {"-2147483648", INT_MIN, INT_MIN, INT_MIN, INT_MIN, No},
        {"2147483648", No, No, No, No, No},
        {"-2147483649", No, No, No, No, No},
    });
}

TEST(NumberText, RealsInEveryForm) {
    const double inf = HUGE_VAL;
    const double nan = NAN;
    // text             Exact  Command  Dialog  Limits  Recording
    ExpectEveryForm<double>({
        {"2.5", 2.5, 2.5, 2.5, 2.5, 2.5},
        {"-2.5", -2.5, -2.5, -2.5, -2.5, No},
        {"+2.5", No, No, 2.5, 2.5, No},
        {" 2.5 ", No, No, 2.5, No, No},
        {".5", 0.5, 0.5, 0.5, 0.5, 0.5},
        {"7.", 7.0, 7.0, 7.0, 7.0, 7.0},
        {"1e1", 10.0, 10.0, 10.0, 10.0, 10.0},
        {"2.5E-1", 0.25, 0.25, 0.25, 0.25, 0.25},
        {"1e", No, No, No, No, No},
        {".", No, No, No, No, No},
        {"+-1", No, No, No, No, No},
        {"1,5", No, No, No, No, No},
        {"0x10", No, No, No, No, No},
        {"inf", inf, No, No, No, inf},
        {"-inf", -inf, No, No, No, No},
        {"+inf", No, No, No, No, No},
        {"nan", nan, No, No, No, nan},
        {"1e999", No, No, No, No, No},
    });
}

// A float edit is read as a double first: beyond the float's largest value it is refused, below
// its smallest it rounds; the command line reads a float as a float.
TEST(NumberText, FloatsReadAsDoublesOnlyWhereTheFormSaysSo) {
    // text             Exact     Command   Dialog   Limits   Recording
    ExpectEveryForm<float>({
        {"3.4e38", 3.4e38f, 3.4e38f, 3.4e38f, 3.4e38f, 3.4e38f},
        {"3.4028235e38", FLT_MAX, FLT_MAX, No, FLT_MAX, FLT_MAX},
        {"3.5e38", No, No, No, No, No},
        {"1e-50", No, No, 0.0f, No, No},
        {"-1e39", No, No, No, No, No},
        {"+0.5", No, No, 0.5f, 0.5f, No},
    });
}

TEST(NumberText, RecordingFieldsAreDigitsOnlyUpToTheTypesRange) {
    // text                     Exact                Command              Dialog  Limits  Recording
    ExpectEveryForm<long long>({
        {"999999999999999999", 999999999999999999, 999999999999999999, 999999999999999999,
         999999999999999999, 999999999999999999},
        {"9223372036854775808", No, No, No, No, No},
        {"-0", 0, 0, 0, 0, No},
    });
}

// What the profile reads by hand-written value is what the dialogs read from an edit.
TEST(NumberText, TheProfileReadsItsValuesAsTheDialogsReadTheirEdits) {
    for (const std::string_view text : {"5", " +5\t", "-3", "+-3", "5x", " ", "2147483648"}) {
        EXPECT_EQ(ParseNumber<int>(text, NumberForms::ProfileValue),
                  ParseNumber<int>(text, NumberForms::DialogEdit))
            << '"' << text << '"';
    }
}

}  // namespace
