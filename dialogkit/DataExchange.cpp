#include "DataExchange.h"

#include <charconv>

#include "NumberText.h"

std::optional<float> ParseFloatText(std::string_view text) {
    return ParseNumber<float>(text, NumberForms::DialogEdit);
}

std::optional<int> ParseIntText(std::string_view text) {
    return ParseNumber<int>(text, NumberForms::DialogEdit);
}

std::string FormatFloatText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                      std::chars_format::general, 6);
    return std::string(buffer, result.ptr);
}

std::string FormatIntText(int value) {
    return std::to_string(value);
}
