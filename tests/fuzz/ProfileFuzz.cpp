// Any file as the profile: reading never fails, and a write followed by a read gives the value
// back while every byte outside the old value (or the one place where a line is added) survives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ProfileText.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Name {
    const char* section;
    const char* entry;
};
constexpr Name Names[] = {{"MySorvellAp", "SorvellComPort"}, {"Ports", "COM3"}, {"a", "b"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte picks the names, the second the value; the rest is the file.
    const Name name = Names[data[0] % 3];
    const std::string value = std::to_string(static_cast<int>(data[1]) * 7919 - 1000000);
    const std::string_view file(reinterpret_cast<const char*>(data + 2), size - 2);

    (void)FindProfileValue(file, name.section, name.entry);
    (void)ProfileSectionEntries(file, name.section);

    const ProfileEdit edit = PlanProfileWrite(file, name.section, name.entry, value);
    Check(edit.offset <= file.size() && edit.removed <= file.size() - edit.offset);
    const std::string_view removed = file.substr(edit.offset, edit.removed);
    const bool utf16 = file.substr(0, 2) == "\xFF\xFE" || file.substr(0, 2) == "\xFE\xFF";
    if (!utf16) {
        // Only an old value gives way, never a line end; what takes its place is the value, or
        // a line (or a section) added whole.
        Check(removed.find('\n') == std::string_view::npos);
        Check(edit.removed == 0 || edit.inserted == value);
        // Nothing of a UTF-8 byte order mark is touched.
        if (file.substr(0, 3) == "\xEF\xBB\xBF") {
            Check(edit.offset >= 3);
        }
    } else {
        Check(edit.offset >= 2 && (edit.offset - 2) % 2 == 0 && edit.removed % 2 == 0);
    }

    const std::string written = ApplyProfileEdit(file, edit);
    Check(written.compare(0, edit.offset, file.substr(0, edit.offset)) == 0);
    Check(std::string_view(written).substr(edit.offset + edit.inserted.size()) ==
          file.substr(edit.offset + edit.removed));
    Check(FindProfileValue(written, name.section, name.entry) == value);

    // Writing the same value again changes nothing.
    const ProfileEdit again = PlanProfileWrite(written, name.section, name.entry, value);
    Check(ApplyProfileEdit(written, again) == written);
    return 0;
}
