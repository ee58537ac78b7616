// The text of an INI profile, read and changed as the platform's own profile calls do it: a value
// is looked up by section and entry, and a write changes that one value where it stands and keeps
// every other byte of the file. Works on the file's bytes as they are; a file that starts with a
// UTF-16 byte order mark is read and written in UTF-16 of the same byte order.
//
// Lines end in LF or CR LF. "[name]" starts a section; "entry=value" is an entry of the section
// above it; blanks (spaces and tabs) around names and values do not count, names compare without
// regard to ASCII case, and one pair of quotes around a value is taken off. Lines starting with
// ';' are comments. Where a section or an entry occurs twice, the first one counts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The value of entry in section, or nothing when the file has no such entry.
std::optional<std::string> FindProfileValue(std::string_view file, std::string_view section,
                                            std::string_view entry);

// Every entry of section, in file order, names and values as FindProfileValue gives them.
std::vector<std::pair<std::string, std::string>> ProfileSectionEntries(std::string_view file,
                                                                       std::string_view section);

// A change of the file's bytes: `removed` bytes at `offset` give way to `inserted`.
struct ProfileEdit {
    std::size_t offset = 0;
    std::size_t removed = 0;
    std::string inserted;
};

// What writing value as entry of section changes: the old value where the entry exists; else a
// new line after the section's last line; else the section and its entry added at the end. New
// lines end as the file's first line does (LF in a file without lines). section, entry and value
// must not hold line breaks; value must not start or end with a blank or a quote.
ProfileEdit PlanProfileWrite(std::string_view file, std::string_view section,
                             std::string_view entry, std::string_view value);

std::string ApplyProfileEdit(std::string_view file, const ProfileEdit& edit);
