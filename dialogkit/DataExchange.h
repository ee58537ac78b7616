// Text of the dialogs' edits to numbers and back, as the dialog framework's data exchange does
// it: blanks (spaces and tabs) around the number are accepted, anything else is not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* ParseRealMessage = "Please enter a number.";
inline constexpr const char* ParseIntegerMessage = "Please enter an integer.";

// A decimal number with optional sign, fraction and exponent ("5", " -2.5 ", "1e1", ".5").
// Empty text, other characters and values beyond the range of a float are refused.
std::optional<float> ParseFloatText(std::string_view text);

// A decimal integer with optional sign (" 6", "-3"). "6.5", "abc", empty text and values beyond
// the range of an int are refused.
std::optional<int> ParseIntText(std::string_view text);

// A float with the six significant digits of its precision, shortest form ("5", "2.5", "1e+07").
std::string FormatFloatText(float value);

std::string FormatIntText(int value);
