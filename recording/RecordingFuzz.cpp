// libFuzzer target: any bytes given to the recording reader are either refused with a message
// naming the file, or read as blocks that the writer's rows give back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Recording.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Recording recording;
    std::string error;
    if (!ParseRecording(text, "fuzz.csv", recording, error)) {
        if (!error.starts_with("fuzz.csv") || !recording.blocks.empty()) {
            std::abort();
        }
        return 0;
    }
    if (recording.blocks.size() % 2 != 0 ||
        (!recording.warning.empty() && !recording.warning.starts_with("fuzz.csv:"))) {
        std::abort();
    }
    std::string again = std::string(RecordingHeader()) + "\n";
    char row[512];
    for (const RecordedBlock& block : recording.blocks) {
        again.append(row, FormatRecordedRow(block, row));
    }
    Recording reread;
    if (!ParseRecording(again, "again.csv", reread, error) || !reread.warning.empty() ||
        reread.blocks != recording.blocks) {
        std::abort();
    }
    return 0;
}
