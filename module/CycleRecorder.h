// Keeps what the module sent: the blocks of every completed cycle go to a recording file,
// numbered from 1 and timed from the start of the recording, as the cycles complete.
#pragma once

#include <functional>
#include <string>

#include "AcquisitionCycle.h"
#include "ModuleHost.h"
#include "Recording.h"

class CycleRecorder final : public CycleObserver {
  public:
    // Told why, when a write fails and so ends the recording.
    using FailureReport = std::function<void(const std::string& why)>;

    CycleRecorder(ModuleClock& clock, std::string programVersion, FailureReport onFailure = {});

    // Starts a recording at path (a recording already running ends first); device is named in
    // its comments. Answers false with why in error when the file cannot be made.
    bool Start(const std::string& path, const std::string& device, std::string& error);
    // Ends the recording; every completed cycle is already in the file.
    void Stop() { writer_.Close(); }

    bool Recording() const { return writer_.IsOpen(); }
    const std::string& Path() const { return writer_.Path(); }
    // Cycles written to the current (or last) recording.
    long long Cycles() const { return cycles_; }

    void CycleCompleted(const CycleBlocks& blocks) override;

  private:
    ModuleClock& clock_;
    const std::string programVersion_;
    const FailureReport onFailure_;
    RecordingWriter writer_;
    std::int64_t startMs_ = 0;
    long long cycles_ = 0;
    std::string failure_;
};
