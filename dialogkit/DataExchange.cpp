#include "DataExchange.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The text without the blanks around it.
std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Length of the run of digits at the start of text.
std::size_t DigitRun(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && IsDigit(text[n])) {
        ++n;
    }
    return n;
}

// Whether text is exactly: sign? (digits ('.' digits?)? | '.' digits) (('e'|'E') sign? digits)?
bool IsDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const std::size_t whole = DigitRun(text.substr(i));
    i += whole;
    std::size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        fraction = DigitRun(text.substr(i));
        i += fraction;
    }
    if (whole == 0 && fraction == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        const std::size_t exponent = DigitRun(text.substr(i));
        if (exponent == 0) {
            return false;
        }
        i += exponent;
    }
    return i == text.size();
}

}  // namespace

std::optional<float> ParseFloatText(std::string_view text) {
    std::string_view number = TrimBlanks(text);
    if (!IsDecimalNumber(number)) {
        return std::nullopt;
    }
    // from_chars takes no leading '+' and does not depend on the locale's decimal point.
    if (number.front() == '+') {
        number.remove_prefix(1);
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    // Converting a double beyond the float range is undefined; such a margin is refused.
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(value);
}

std::optional<int> ParseIntText(std::string_view text) {
    std::string_view number = TrimBlanks(text);
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
        if (!number.empty() && number.front() == '-') {
            return std::nullopt;
        }
    }
    if (number.empty()) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
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
