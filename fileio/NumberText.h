// Numbers read from text as a whole. Every place that reads a number the user or a file wrote
// (the dialogs' edits, the profile, the limits file, recordings, sorvell-check's options) reads it
// here, naming the form its text takes, so that one form reads alike wherever it is written.
#pragma once

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>

// What a number's text may hold besides the number. The number itself is always written as
// from_chars reads it: decimal digits, a '-' for a negative one, and for a real number a fraction,
// an exponent, "inf" or "nan" (never hexadecimal, never with the locale's decimal point). Empty
// text, anything left over and a number beyond the type's range are refused in every form.
struct NumberForm {
    // Spaces and tabs before and after the number.
    bool blanksAround = false;
    // One '+' before the number ("++1" and "+-1" are still refused).
    bool plusSign = false;
    // A '-' before the number; without it a number is digits only.
    bool minusSign = true;
    // A real number that is an infinity or a NaN is refused.
    bool finiteOnly = false;
    // A float is read as a double and refused beyond the float's largest value, so that a value
    // too small for a float is taken as the nearest float (0 at the least) rather than refused.
    bool floatFromDouble = false;
};

// The forms the program's numbers are written in.
namespace NumberForms {
// Nothing besides the number: the limits file's entry numbers, the COM number of a [Ports] key.
inline constexpr NumberForm Exact{};
// sorvell-check's option values: nothing besides the number, and a finite one.
inline constexpr NumberForm CommandLine{.finiteOnly = true};
// The dialogs' edits, as their data exchange reads them: blanks around, a '+', a finite number
// that fits a float.
inline constexpr NumberForm DialogEdit{
    .blanksAround = true, .plusSign = true, .finiteOnly = true, .floatFromDouble = true};
// A profile value: written by hand as often as by the program, so read as the dialogs read
// their integer edits.
inline constexpr NumberForm ProfileValue = DialogEdit;
// A level in dB in the limits file (its fields already trimmed): people write '+' before
// positive levels; a limit must be finite.
inline constexpr NumberForm LimitsLevel{.plusSign = true, .finiteOnly = true};
// A recording's cycle, time and sample fields: digits only.
inline constexpr NumberForm RecordingField{.minusSign = false};
}  // namespace NumberForms

namespace number_text_detail {

inline std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The whole of text in from_chars' form as a T, or none.
template <typename T>
std::optional<T> FromChars(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace number_text_detail

// The number the whole of text spells in the given form, or none.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, const NumberForm& form) {
    if (form.blanksAround) {
        text = number_text_detail::TrimBlanks(text);
    }
    // from_chars takes no '+', so the form takes it off first.
    if (form.plusSign && text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('+') || text.starts_with('-')) {
            return std::nullopt;
        }
    }
    if (!form.minusSign && text.starts_with('-')) {
        return std::nullopt;
    }
    if constexpr (std::is_same_v<T, float>) {
        if (form.floatFromDouble) {
            const std::optional<double> wide = number_text_detail::FromChars<double>(text);
            if (!wide || (form.finiteOnly && !std::isfinite(*wide)) ||
                std::fabs(*wide) > std::numeric_limits<float>::max()) {
                return std::nullopt;
            }
            return static_cast<float>(*wide);
        }
    }
    const std::optional<T> value = number_text_detail::FromChars<T>(text);
    if constexpr (std::is_floating_point_v<T>) {
        if (value && form.finiteOnly && !std::isfinite(*value)) {
            return std::nullopt;
        }
    }
    return value;
}
