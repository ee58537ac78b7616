#include "SimulatedModule.h"

#include <algorithm>
#include <cmath>

namespace {

SimulatedModule::Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<SimulatedModule::Clock::duration>(
        std::chrono::duration<double>(seconds));
}

}  // namespace

SimulatedModule::SimulatedModule(const SimConfig& config)
    : faults_(config.faults),
      generators_{SignalGenerator(config.x, config.seed),
                  SignalGenerator(config.y, config.seed + 1)},
      replaying_(config.replaying),
      replayLoop_(config.replayLoop),
      replay_{config.replayX, config.replayY} {}

void SimulatedModule::Event(Clock::time_point now, const std::string& text) {
    if (sink_) {
        sink_(now, text);
    }
}

void SimulatedModule::PowerOn(Clock::time_point now) {
    stats_ = SimStats{};
    stats_.moduleSpeed = speed_;
    if (faults_.silentAfterBlocks == 0) {
        BeginSilence(now);
    }
    if (faults_.streamingAtStart) {
        speed_ = FastSpeed;
        stats_.moduleSpeed = speed_;
        StartStream(now);
    }
}

bool SimulatedModule::Receive(std::uint8_t byte, unsigned lineSpeed, Clock::time_point now) {
    if (lineSpeed != speed_ || unplugged_) {
        return false;
    }
    switch (byte) {
        case 'P':
            if (speed_ == FastSpeed && !faults_.answer.empty()) {
                replies_.push_back(now + std::chrono::milliseconds(faults_.answerDelayMs));
            }
            break;
        case '9':
            if (speed_ != FastSpeed) {
                speed_ = FastSpeed;
                stats_.moduleSpeed = speed_;
                Event(now, "listening at 128000 baud");
            }
            break;
        case 'G':
        case 'Q':
        case 'S':
            Event(now, std::string("start command ") + static_cast<char>(byte));
            break;
        case '0':
        case '1':
            axis_ = byte - '0';
            break;
        case '8':
            if (!streaming_) {
                StartStream(now);
            } else if (loseNextStop_) {
                loseNextStop_ = false;
                ++stats_.stopsLost;
                Event(now, "stop byte lost on the line; streaming on");
            } else {
                StopStream(now, "stopped by the host");
                if (faults_.lateSamples > 0) {
                    late_.emplace_back(now + std::chrono::milliseconds(faults_.lateMs),
                                       faults_.lateSamples);
                }
            }
            break;
        default:
            break;
    }
    return true;
}

void SimulatedModule::SendDue(Clock::time_point now, std::vector<std::uint8_t>* out) {
    const std::size_t before = out->size();
    if (silent_ && resumeAt_ && now >= *resumeAt_) {
        EndSilence(now);
    }
    if (hangUpAt_ && now >= *hangUpAt_) {
        HangUp(now);
    }
    if (replugAt_ && now >= *replugAt_) {
        replugAt_.reset();
        unplugged_ = false;
        stats_.unplugged = false;
        ++stats_.replugs;
    }
    if (Sending()) {
        SendReplies(now, out);
        SendLateSamples(now, out);
        Pace(now, out);
    }
    stats_.bytesSent += out->size() - before;
}

std::optional<SimulatedModule::Clock::time_point> SimulatedModule::NextTimer() const {
    std::optional<Clock::time_point> next;
    const auto consider = [&](Clock::time_point due) {
        if (!next || due < *next) {
            next = due;
        }
    };
    if (Sending()) {
        if (!replies_.empty()) {
            consider(replies_.front());
        }
        if (!late_.empty()) {
            consider(late_.front().first);
        }
    }
    if (silent_ && resumeAt_) {
        consider(*resumeAt_);
    }
    if (hangUpAt_) {
        consider(*hangUpAt_);
    }
    if (replugAt_) {
        consider(*replugAt_);
    }
    return next;
}

void SimulatedModule::HostGone() {
    replies_.clear();
}

void SimulatedModule::FallSilent(Clock::time_point now) {
    if (!silent_) {
        BeginSilence(now);
    }
}

void SimulatedModule::SetAxisSignal(SimAxis axis, const AxisSignal& signal) {
    generators_[static_cast<std::size_t>(axis)].SetSignal(signal);
}

void SimulatedModule::StartStream(Clock::time_point now) {
    streaming_ = true;
    streamSamples_ = 0;
    paceTime_ = now;
    credit_ = 0.0;
    stats_.streaming = true;
    ++stats_.streamsStarted;
    Event(now, std::string("stream of ") + (axis_ == 0 ? "X" : "Y") + " started");
    if (replaying_) {
        const auto axis = static_cast<std::size_t>(axis_);
        std::size_t& taken = replayTaken_[axis];
        if (taken == replay_[axis].size() && replayLoop_) {
            taken = 0;
        }
        replayBlock_ = taken < replay_[axis].size() ? &replay_[axis][taken++] : nullptr;
        replayPosition_ = 0;
        if (replayBlock_ == nullptr) {
            Event(now, std::string("the recording of ") + (axis_ == 0 ? "X" : "Y") +
                           " has run out: the stream sends nothing");
        }
    }
}

void SimulatedModule::StopStream(Clock::time_point now, const char* why) {
    streaming_ = false;
    stats_.streaming = false;
    Event(now,
          "stream " + std::string(why) + " after " + std::to_string(streamSamples_) + " samples");
}

void SimulatedModule::SendReplies(Clock::time_point now, std::vector<std::uint8_t>* out) {
    while (!replies_.empty() && replies_.front() <= now) {
        replies_.pop_front();
        if (silent_) {
            Event(now, "silent: handshake not answered");
            continue;
        }
        out->insert(out->end(), faults_.answer.begin(), faults_.answer.end());
        ++stats_.handshakeAnswers;
        Event(now, "handshake answered");
    }
}

void SimulatedModule::SendLateSamples(Clock::time_point now, std::vector<std::uint8_t>* out) {
    while (!late_.empty() && late_.front().first <= now) {
        const int count = late_.front().second;
        late_.pop_front();
        if (silent_) {
            continue;
        }
        for (int i = 0; i < count; ++i) {
            const std::optional<std::uint8_t> sample = NextSample();
            if (!sample) {
                break;
            }
            out->push_back(*sample);
        }
        stats_.lateSamplesSent += static_cast<std::uint64_t>(count);
        Event(now, std::to_string(count) + " late samples delivered");
    }
}

SimulatedModule::BlockFault SimulatedModule::FaultAfterBlock(std::vector<std::uint8_t>* out) {
    const auto at = [this](int blocks) {
        return blocks > 0 && blocks_ == static_cast<std::uint64_t>(blocks);
    };
    if (faults_.burstBytes > 0 &&
        (faults_.burstAfterBlock == 0 ||
         blocks_ == static_cast<std::uint64_t>(faults_.burstAfterBlock))) {
        out->insert(out->end(), static_cast<std::size_t>(faults_.burstBytes), faults_.burstByte);
    }
    if (!stopLossUsed_ && at(faults_.loseStopAfterBlocks)) {
        stopLossUsed_ = true;
        loseNextStop_ = true;
    }
    if (at(faults_.hangUpAfterBlocks)) {
        return BlockFault::HangUp;
    }
    if (!unplugUsed_ && at(faults_.unplugAfterBlocks)) {
        unplugUsed_ = true;
        return BlockFault::Unplug;
    }
    if (!resetUsed_ && at(faults_.resetAfterBlocks)) {
        resetUsed_ = true;
        return BlockFault::Reset;
    }
    if (!silenceUsed_ && at(faults_.silentAfterBlocks)) {
        return BlockFault::FallSilent;
    }
    return BlockFault::None;
}

void SimulatedModule::Pace(Clock::time_point now, std::vector<std::uint8_t>* out) {
    if (!streaming_ || silent_) {
        return;
    }
    const double rate =
        faults_.streamBytesPerSecond > 0.0 ? faults_.streamBytesPerSecond : speed_ / 10.0;
    credit_ += std::chrono::duration<double>(now - paceTime_).count() * rate;
    credit_ = std::min(credit_, MaxStreamCredit);
    paceTime_ = now;
    const auto due = static_cast<int>(std::floor(credit_));
    credit_ -= due;
    BlockFault fault = BlockFault::None;
    for (int i = 0; i < due && fault == BlockFault::None; ++i) {
        const std::optional<std::uint8_t> sample = NextSample();
        if (!sample) {
            break;  // the recording has run out: the stream goes on, silent
        }
        out->push_back(*sample);
        ++streamSamples_;
        ++stats_.samplesSent;
        if (streamSamples_ % BlockSamples != 0) {
            continue;
        }
        ++blocks_;
        ++stats_.blocksSent;
        fault = FaultAfterBlock(out);
    }
    switch (fault) {
        case BlockFault::HangUp:
            hangUpAt_ = now + HangUpGrace;
            Event(now, "hangs up in " + std::to_string(HangUpGrace.count()) + " ms");
            break;
        case BlockFault::FallSilent:
            BeginSilence(now);
            break;
        case BlockFault::Reset:
            Reset(now, "reset after " + std::to_string(blocks_) + " blocks");
            break;
        case BlockFault::Unplug:
            Unplug(now);
            break;
        case BlockFault::None:
            break;
    }
}

void SimulatedModule::Reset(Clock::time_point now, const std::string& why) {
    streaming_ = false;
    speed_ = StartSpeed;
    axis_ = 0;
    loseNextStop_ = false;
    replies_.clear();
    late_.clear();
    stats_.streaming = false;
    stats_.moduleSpeed = speed_;
    ++stats_.resets;
    Event(now, "module " + why + "; listening at 38400 baud");
}

void SimulatedModule::Unplug(Clock::time_point now) {
    // The module is powered through the adapter: it starts afresh when it comes back.
    Reset(now, "unpowered");
    Event(now, "adapter pulled out after " + std::to_string(blocks_) + " blocks");
    unplugged_ = true;
    stats_.unplugged = true;
    if (faults_.replugAfterSeconds >= 0.0) {
        replugAt_ = now + Seconds(faults_.replugAfterSeconds);
    }
}

void SimulatedModule::HangUp(Clock::time_point now) {
    hangUpAt_.reset();
    hungUp_ = true;
    streaming_ = false;
    replies_.clear();
    late_.clear();
    stats_.hungUp = true;
    stats_.streaming = false;
    Event(now, "hung up after " + std::to_string(blocks_) + " blocks");
}

void SimulatedModule::BeginSilence(Clock::time_point now) {
    silent_ = true;
    silenceUsed_ = true;
    if (faults_.resumeAfterSeconds >= 0.0) {
        resumeAt_ = now + Seconds(faults_.resumeAfterSeconds);
    }
    stats_.silent = true;
    Event(now, "falls silent after " + std::to_string(blocks_) + " blocks");
}

void SimulatedModule::EndSilence(Clock::time_point now) {
    silent_ = false;
    resumeAt_.reset();
    paceTime_ = now;
    credit_ = 0.0;
    stats_.silent = false;
    Event(now, "silence ends");
}

std::optional<std::uint8_t> SimulatedModule::NextSample() {
    if (!replaying_) {
        return generators_[static_cast<std::size_t>(axis_)].Next();
    }
    if (replayBlock_ == nullptr) {
        return std::nullopt;
    }
    const std::uint8_t sample = (*replayBlock_)[replayPosition_ % BlockSamples];
    ++replayPosition_;
    return sample;
}
