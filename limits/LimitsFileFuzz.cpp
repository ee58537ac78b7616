// libFuzzer target: any bytes given to the limits file parser are either refused with a message
// naming a line, or accepted as rows that format and read back to the same limits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "LimitsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LimitsTable table;
    std::string error;
    if (!ParseLimits(text, "fuzz.csv", table, error)) {
        if (!error.starts_with("fuzz.csv:")) {
            std::abort();
        }
        return 0;
    }
    SpectrumStore store;
    ApplyLimits(table, store);
    LimitsTable again;
    if (!ParseLimits(FormatLimits(store), "again.csv", again, error)) {
        std::abort();
    }
    SpectrumStore reread;
    ApplyLimits(again, reread);
    for (std::size_t i = 0; i < LimitsFileEntries; ++i) {
        if (reread.maxLimitX[i] != store.maxLimitX[i] ||
            reread.minLimitX[i] != store.minLimitX[i] ||
            reread.maxLimitY[i] != store.maxLimitY[i] ||
            reread.minLimitY[i] != store.minLimitY[i]) {
            std::abort();
        }
    }
    return 0;
}
