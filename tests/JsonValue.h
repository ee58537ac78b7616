#pragma once

// A strict reader of JSON text (RFC 8259) for tests that read back what a program wrote for other
// programs: objects, arrays, strings with their escapes, numbers, true, false and null. Anything
// else, and anything after the one value, is refused. \u escapes are taken within the Basic
// Multilingual Plane only (a surrogate pair is refused), which is all the program writes.

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    bool Bool() const { return std::get<bool>(value); }
    double Number() const { return std::get<double>(value); }
    const std::string& String() const { return std::get<std::string>(value); }
    const Array& Items() const { return std::get<Array>(value); }
    const Object& Members() const { return std::get<Object>(value); }
    // The member name of an object; throws std::out_of_range when it has none.
    const JsonValue& operator[](const std::string& name) const { return Members().at(name); }
};

class JsonReader {
  public:
    // The value text holds, or none with the offset and the reason in error.
    static std::optional<JsonValue> Read(std::string_view text, std::string& error) {
        JsonReader reader(text);
        JsonValue value;
        if (reader.Value(value) && (reader.Blanks(), reader.at_ == text.size())) {
            return value;
        }
        error = "at " + std::to_string(reader.at_) + ": " +
                (reader.error_.empty() ? "text after the value" : reader.error_);
        return std::nullopt;
    }

  private:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool Fail(const char* why) {
        error_ = why;
        return false;
    }
    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool Take(char c) {
        Blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return true;
        }
        return false;
    }

    bool Value(JsonValue& out) {
        Blanks();
        if (at_ >= text_.size()) {
            return Fail("no value");
        }
        const char c = text_[at_];
        if (c == '{') {
            return ObjectValue(out);
        }
        if (c == '[') {
            return ArrayValue(out);
        }
        if (c == '"') {
            std::string text;
            return StringValue(text) && (out.value = std::move(text), true);
        }
        if (Word("true")) {
            return out.value = true, true;
        }
        if (Word("false")) {
            return out.value = false, true;
        }
        if (Word("null")) {
            return out.value = nullptr, true;
        }
        return NumberValue(out);
    }

    bool ObjectValue(JsonValue& out) {
        ++at_;
        JsonValue::Object members;
        if (!Take('}')) {
            do {
                Blanks();
                std::string name;
                JsonValue member;
                if (at_ >= text_.size() || text_[at_] != '"' || !StringValue(name)) {
                    return error_.empty() ? Fail("no member name") : false;
                }
                if (!Take(':')) {
                    return Fail("no ':' after a member name");
                }
                if (!Value(member)) {
                    return false;
                }
                if (!members.emplace(name, std::move(member)).second) {
                    return Fail("a member name twice");
                }
            } while (Take(','));
            if (!Take('}')) {
                return Fail("no ',' or '}' in an object");
            }
        }
        out.value = std::move(members);
        return true;
    }

    bool ArrayValue(JsonValue& out) {
        ++at_;
        JsonValue::Array items;
        if (!Take(']')) {
            do {
                items.emplace_back();
                if (!Value(items.back())) {
                    return false;
                }
            } while (Take(','));
            if (!Take(']')) {
                return Fail("no ',' or ']' in an array");
            }
        }
        out.value = std::move(items);
        return true;
    }

    static void AppendUtf8(std::string& text, std::uint32_t code) {
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(std::uint32_t& code) {
        if (at_ + 4 > text_.size()) {
            return Fail("a short \\u escape");
        }
        const char* begin = text_.data() + at_;
        const auto [end, ec] = std::from_chars(begin, begin + 4, code, 16);
        if (ec != std::errc{} || end != begin + 4) {
            return Fail("a bad \\u escape");
        }
        at_ += 4;
        return true;
    }

    bool StringValue(std::string& text) {
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return Fail("a control character in a string");
            }
            if (c != '\\') {
                text += c;
                continue;
            }
            if (at_ >= text_.size()) {
                break;
            }
            const char e = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meant = "\"\\/\b\f\n\r\t";
            if (const std::size_t k = simple.find(e); k != std::string_view::npos) {
                text += meant[k];
            } else if (e == 'u') {
                std::uint32_t code = 0;
                if (!Hex4(code)) {
                    return false;
                }
                if (code >= 0xD800 && code <= 0xDFFF) {
                    return Fail("a surrogate");
                }
                AppendUtf8(text, code);
            } else {
                return Fail("a bad escape");
            }
        }
        return Fail("a string without its end");
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool NumberValue(JsonValue& out) {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - from;
        };
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        const std::size_t whole = digits();
        if (whole == 0 || (whole > 1 && text_[at_ - whole] == '0')) {
            return Fail("no value here");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) {
                return Fail("no digits after '.'");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (digits() == 0) {
                return Fail("no exponent digits");
            }
        }
        double number = 0.0;
        const auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + at_, number);
        if (ec != std::errc{} || end != text_.data() + at_) {
            return Fail("a number out of range");
        }
        out.value = number;
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};
