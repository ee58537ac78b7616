// Numbers read from text as a whole, for command-line values and limits file fields alike.
#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>

// The number the whole of text spells in from_chars' form (no leading '+', no blanks), or none:
// empty text, anything after the number or a number beyond T's range gives none.
template <typename T>
std::optional<T> ParseNumberText(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// As ParseNumberText, and none for an infinity or a NaN, which are spelt "inf" and "nan".
template <typename T>
std::optional<T> ParseFiniteNumber(std::string_view text) {
    const std::optional<T> value = ParseNumberText<T>(text);
    if (value && !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
}
