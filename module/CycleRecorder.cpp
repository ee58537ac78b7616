#include "CycleRecorder.h"

#include <algorithm>
#include <utility>

CycleRecorder::CycleRecorder(ModuleClock& clock, std::string programVersion,
                             FailureReport onFailure)
    : clock_(clock), programVersion_(std::move(programVersion)), onFailure_(std::move(onFailure)) {}

bool CycleRecorder::Start(const std::string& path, const std::string& device, std::string& error) {
    writer_.Close();
    cycles_ = 0;
    startMs_ = clock_.SteadyMs();
    return writer_.Open(path, programVersion_, device, clock_.Time(), error);
}

void CycleRecorder::CycleCompleted(const CycleBlocks& blocks) {
    if (!writer_.IsOpen()) {
        return;
    }
    const auto sinceStart = [&](std::int64_t ms) {
        return std::max<std::int64_t>(ms - startMs_, 0);
    };
    if (writer_.WriteCycle(cycles_ + 1, sinceStart(blocks.msX), blocks.x, sinceStart(blocks.msY),
                           blocks.y, failure_)) {
        ++cycles_;
    } else if (onFailure_) {
        onFailure_(failure_);
    }
}
