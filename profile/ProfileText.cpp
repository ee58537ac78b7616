#include "ProfileText.h"

#include <cstdint>

namespace {

enum class Encoding { Bytes, Utf16Le, Utf16Be };

// The file as one character per code unit, so that the lines can be read alike in every
// encoding: a unit above ASCII stands as 0x80, which is no part of the syntax and matches no
// name of ours. Offsets into `units` convert back to byte offsets of the file.
struct UnitView {
    Encoding encoding = Encoding::Bytes;
    std::size_t start = 0;  // byte offset of the first unit, after a byte order mark
    std::string units;

    std::size_t ByteOffset(std::size_t unit) const {
        return encoding == Encoding::Bytes ? start + unit : start + 2 * unit;
    }
};

constexpr char NonAscii = '\x80';

std::uint16_t UnitAt(std::string_view file, Encoding encoding, std::size_t offset) {
    const auto low = static_cast<unsigned char>(file[offset]);
    const auto high = static_cast<unsigned char>(file[offset + 1]);
    return encoding == Encoding::Utf16Le ? static_cast<std::uint16_t>(low | (high << 8))
                                         : static_cast<std::uint16_t>(high | (low << 8));
}

UnitView ViewOf(std::string_view file) {
    UnitView view;
    const auto startsWith = [&](std::string_view mark) {
        return file.substr(0, mark.size()) == mark;
    };
    if (startsWith("\xFF\xFE") || startsWith("\xFE\xFF")) {
        view.encoding = startsWith("\xFF\xFE") ? Encoding::Utf16Le : Encoding::Utf16Be;
        view.start = 2;
        // An odd last byte is no unit: it stays where it is, after every unit.
        const std::size_t count = (file.size() - 2) / 2;
        view.units.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint16_t unit = UnitAt(file, view.encoding, 2 + 2 * i);
            view.units[i] = unit < 0x80 ? static_cast<char>(unit) : NonAscii;
        }
        return view;
    }
    view.start = startsWith("\xEF\xBB\xBF") ? 3 : 0;
    view.units.assign(file.substr(view.start));
    return view;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The units [begin, end) as text: the bytes themselves, or UTF-16 decoded to UTF-8 (a lone
// surrogate becomes U+FFFD).
std::string TextOf(std::string_view file, const UnitView& view, std::size_t begin,
                   std::size_t end) {
    if (view.encoding == Encoding::Bytes) {
        return std::string(file.substr(view.ByteOffset(begin), end - begin));
    }
    std::string text;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint16_t unit = UnitAt(file, view.encoding, view.ByteOffset(i));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < end) {
            const std::uint16_t next = UnitAt(file, view.encoding, view.ByteOffset(i + 1));
            if (next >= 0xDC00 && next < 0xE000) {
                AppendUtf8(text, 0x10000 + ((unit - 0xD800u) << 10) + (next - 0xDC00u));
                ++i;
                continue;
            }
        }
        AppendUtf8(text, unit >= 0xD800 && unit < 0xE000 ? 0xFFFDu : unit);
    }
    return text;
}

// ASCII text (our own names, numbers and line ends) in the file's encoding.
std::string Encode(const UnitView& view, std::string_view text) {
    if (view.encoding == Encoding::Bytes) {
        return std::string(text);
    }
    std::string bytes;
    bytes.reserve(2 * text.size());
    for (const char c : text) {
        if (view.encoding == Encoding::Utf16Le) {
            bytes += c;
            bytes += '\0';
        } else {
            bytes += '\0';
            bytes += c;
        }
    }
    return bytes;
}

bool IsBlank(char c) {
    // A CR that does not end its line (a file that ends in one) counts as a blank.
    return c == ' ' || c == '\t' || c == '\r';
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

Span Trimmed(std::string_view units, Span span) {
    while (span.begin < span.end && IsBlank(units[span.begin])) {
        ++span.begin;
    }
    while (span.end > span.begin && IsBlank(units[span.end - 1])) {
        --span.end;
    }
    return span;
}

// One line: its text without the line end, and where the next line starts.
struct Line {
    Span text;
    std::size_t next = 0;
};

Line LineAt(std::string_view units, std::size_t begin) {
    const std::size_t newline = units.find('\n', begin);
    Line line;
    line.text.begin = begin;
    if (newline == std::string_view::npos) {
        line.text.end = units.size();
        line.next = units.size();
    } else {
        line.text.end = newline > begin && units[newline - 1] == '\r' ? newline - 1 : newline;
        line.next = newline + 1;
    }
    return line;
}

// What a line is: a section header with its name, an entry with its name and value, or neither
// (blank, comment, text without '=').
struct LineKind {
    enum { Other, Section, Entry } kind = Other;
    Span name;
    Span value;
};

LineKind Classify(std::string_view units, Span text) {
    LineKind result;
    const Span content = Trimmed(units, text);
    if (content.begin == content.end || units[content.begin] == ';') {
        return result;
    }
    const std::string_view line = units.substr(content.begin, content.end - content.begin);
    if (line.front() == '[') {
        const std::size_t close = line.find(']');
        const std::size_t nameEnd = close == std::string_view::npos ? line.size() : close;
        result.kind = LineKind::Section;
        result.name = Trimmed(units, Span{content.begin + 1, content.begin + nameEnd});
        return result;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return result;
    }
    result.kind = LineKind::Entry;
    result.name = Trimmed(units, Span{content.begin, content.begin + equals});
    result.value = Trimmed(units, Span{content.begin + equals + 1, content.end});
    return result;
}

std::string_view TextView(std::string_view units, Span span) {
    return units.substr(span.begin, span.end - span.begin);
}

// One pair of matching quotes around a value is no part of it.
Span Unquoted(std::string_view units, Span value) {
    if (value.end - value.begin >= 2) {
        const char first = units[value.begin];
        if ((first == '"' || first == '\'') && units[value.end - 1] == first) {
            return Span{value.begin + 1, value.end - 1};
        }
    }
    return value;
}

// Walks the entries of the first section named `section`, in file order; `visit` answers
// whether to go on. Answers whether the section exists, and where the text of its last
// non-blank line (its header, if nothing else) ends.
template <typename Visit>
bool WalkSection(std::string_view units, std::string_view section, std::size_t& lastLineEnd,
                 Visit visit) {
    bool inSection = false;
    for (std::size_t at = 0; at < units.size();) {
        const Line line = LineAt(units, at);
        at = line.next;
        const LineKind kind = Classify(units, line.text);
        if (kind.kind == LineKind::Section) {
            if (inSection) {
                return true;
            }
            inSection = SameName(TextView(units, kind.name), section);
            if (inSection) {
                lastLineEnd = line.text.end;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (Trimmed(units, line.text).begin != Trimmed(units, line.text).end) {
            lastLineEnd = line.text.end;
        }
        if (kind.kind == LineKind::Entry && !visit(kind)) {
            return true;
        }
    }
    return inSection;
}

// The value span (blanks and quotes included) of the first entry named `entry` in `section`.
std::optional<Span> FindValueSpan(std::string_view units, std::string_view section,
                                  std::string_view entry, bool& sectionFound,
                                  std::size_t& lastLineEnd) {
    std::optional<Span> found;
    sectionFound = WalkSection(units, section, lastLineEnd, [&](const LineKind& kind) {
        if (SameName(TextView(units, kind.name), entry)) {
            found = kind.value;
            return false;
        }
        return true;
    });
    return found;
}

// The line end that new lines get: the file's first one, LF in a file without any.
std::string_view LineEndOf(std::string_view units) {
    const std::size_t newline = units.find('\n');
    return newline != std::string_view::npos && newline > 0 && units[newline - 1] == '\r' ? "\r\n"
                                                                                          : "\n";
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view file, std::string_view section,
                                            std::string_view entry) {
    const UnitView view = ViewOf(file);
    bool sectionFound = false;
    std::size_t lastLineEnd = 0;
    const std::optional<Span> value =
        FindValueSpan(view.units, section, entry, sectionFound, lastLineEnd);
    if (!value) {
        return std::nullopt;
    }
    const Span text = Unquoted(view.units, *value);
    return TextOf(file, view, text.begin, text.end);
}

std::vector<std::pair<std::string, std::string>> ProfileSectionEntries(std::string_view file,
                                                                       std::string_view section) {
    const UnitView view = ViewOf(file);
    std::vector<std::pair<std::string, std::string>> entries;
    std::size_t lastLineEnd = 0;
    WalkSection(view.units, section, lastLineEnd, [&](const LineKind& kind) {
        const Span value = Unquoted(view.units, kind.value);
        entries.emplace_back(TextOf(file, view, kind.name.begin, kind.name.end),
                             TextOf(file, view, value.begin, value.end));
        return true;
    });
    return entries;
}

ProfileEdit PlanProfileWrite(std::string_view file, std::string_view section,
                             std::string_view entry, std::string_view value) {
    const UnitView view = ViewOf(file);
    const std::string_view units = view.units;
    const std::string_view lineEnd = LineEndOf(units);
    bool sectionFound = false;
    std::size_t lastLineEnd = 0;
    const std::optional<Span> old = FindValueSpan(units, section, entry, sectionFound, lastLineEnd);

    ProfileEdit edit;
    std::string text;
    if (old) {
        edit.offset = view.ByteOffset(old->begin);
        edit.removed = view.ByteOffset(old->end) - edit.offset;
        text = value;
    } else if (sectionFound) {
        edit.offset = view.ByteOffset(lastLineEnd);
        text.append(lineEnd).append(entry).append("=").append(value);
    } else {
        edit.offset = view.ByteOffset(units.size());
        if (!units.empty() && units.back() != '\n') {
            text.append(lineEnd);
        }
        text.append("[").append(section).append("]").append(lineEnd);
        text.append(entry).append("=").append(value).append(lineEnd);
    }
    edit.inserted = Encode(view, text);
    return edit;
}

std::string ApplyProfileEdit(std::string_view file, const ProfileEdit& edit) {
    std::string result;
    result.reserve(file.size() - edit.removed + edit.inserted.size());
    result.append(file.substr(0, edit.offset));
    result.append(edit.inserted);
    result.append(file.substr(edit.offset + edit.removed));
    return result;
}
