#include "TavrekSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "PtyLineSpeed.h"
#include "SignalGenerator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kStartSpeed = 38400;
constexpr unsigned kFastSpeed = 128000;
constexpr int kBlockSamples = 64;
// How often an idle module looks at the host's line speed; bounds the window in which a byte
// cannot be told apart from a speed change around it.
constexpr auto kIdlePoll = std::chrono::milliseconds(10);
// How long to sleep while nobody has the slave open (reads then fail at once).
constexpr auto kNoHostPoll = std::chrono::milliseconds(20);
constexpr auto kStreamPoll = std::chrono::microseconds(1000);
// A line cannot send faster than its pace, so time lost to a late wake-up is not caught up
// beyond this many bytes.
constexpr double kMaxStreamCredit = 128.0;
constexpr auto kHangUpGrace = std::chrono::milliseconds(100);
// Nice value of the module's thread where it may be raised.
constexpr int kModulePriority = -10;

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

timespec ToTimespec(Clock::duration d) {
    if (d < Clock::duration::zero()) {
        d = Clock::duration::zero();
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

}  // namespace

class TavrekSimulator::Engine {
  public:
    explicit Engine(SimConfig config)
        : config_(std::move(config)),
          generators_{SignalGenerator(config_.x, config_.seed),
                      SignalGenerator(config_.y, config_.seed + 1)} {}
    ~Engine() { Stop(); }

    bool Start(std::string* error);
    void Stop();
    // Wakes the module's thread: for a stop, or for a read of the line. Called with mutex_
    // held, which keeps the pipe from being closed under it.
    void Wake();

    const SimConfig config_;  // first: the generators are made from it
    mutable std::mutex mutex_;
    mutable std::condition_variable receivedChanged_;
    // The latest entries of each record, and how many older ones were let go.
    std::deque<ReceivedByte> received_;
    std::size_t receivedDropped_ = 0;
    std::deque<std::string> events_;
    std::size_t eventsDropped_ = 0;
    SimStats stats_;
    // Asked for by FallSilentNow; taken by the module's thread.
    bool silenceAsked_ = false;
    // Line reads asked for by WaitUntilLineRead, and those done since.
    std::uint64_t lineReadsAsked_ = 0;
    std::uint64_t lineReadsDone_ = 0;
    std::condition_variable lineReadDone_;
    std::string slavePath_;
    Clock::time_point startTime_{};
    std::array<SignalGenerator, 2> generators_;

  private:
    void Run();
    // One pass of the module's loop: what has fallen due, how long it may then sleep, and the
    // sleep itself, which ends early for the host's bytes or a stop.
    void DoWhatIsDue(Clock::time_point now);
    Clock::duration TimeToWait(Clock::time_point now) const;
    void WaitForHost(Clock::duration timeout);
    // Takes what the host sent: when the poll saw bytes or a read was asked for.
    void TakeHostBytes(bool pollSawBytes, bool readAsked);
    void Event(const std::string& text);
    void Record(const ReceivedByte& byte);
    bool OpenPty(std::string* error);
    bool OpenWakePipe(std::string* error);
    bool MakeLink(std::string* error);
    void RemoveLink();
    void CloseAll();
    unsigned ObserveSpeed(unsigned fallback) const;
    void ReadFromHost(Clock::time_point now);
    void Handle(std::uint8_t byte, Clock::time_point now);
    void StartStream(Clock::time_point now);
    void StopStream(const char* why);
    void Pace(Clock::time_point now);
    void SendReplies(Clock::time_point now);
    void BeginSilence(Clock::time_point now);
    void EndSilence(Clock::time_point now);
    void HangUp();
    void HostGone();
    // Whether the module can send: the line is there and not about to be hung up.
    bool LineUp() const { return master_ >= 0 && !hangUpAt_; }
    // The faults that take effect at the end of a block.
    enum class BlockFault { None, HangUp, FallSilent, Reset, Unplug };
    BlockFault FaultAfterBlock();
    void ResetModule(Clock::time_point now, const std::string& why);
    std::string SlavePathLocked() const {
        std::lock_guard lock(mutex_);
        return slavePath_;
    }
    void Unplug(Clock::time_point now);
    void PlugIn(Clock::time_point now);
    void SendLateSamples(Clock::time_point now);
    // Samples of the selected axis into out_ (cleared first).
    void GenerateSamples(int count);
    // Writes stream or reply bytes; what the host's full queue does not take is lost, as bytes
    // would be on a real line.
    void Send(const std::uint8_t* data, std::size_t size);

    int master_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool linkMade_ = false;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};

    // State of the module, touched by its thread only.
    unsigned moduleSpeed_ = kStartSpeed;
    unsigned observedSpeed_ = 0;
    int axis_ = 0;
    bool streaming_ = false;
    std::uint64_t streamSamples_ = 0;
    Clock::time_point paceTime_{};
    double credit_ = 0.0;
    std::deque<Clock::time_point> replies_;
    std::uint64_t blocks_ = 0;
    bool silent_ = false;
    bool silenceUsed_ = false;
    std::optional<Clock::time_point> resumeAt_;
    bool hostGone_ = false;
    bool hungUp_ = false;
    std::optional<Clock::time_point> hangUpAt_;
    bool loseNextStop_ = false;
    bool stopLossUsed_ = false;
    bool resetUsed_ = false;
    bool unplugUsed_ = false;
    std::optional<Clock::time_point> replugAt_;
    // Samples still held back by the adapter: when they are due, and how many.
    std::deque<std::pair<Clock::time_point, int>> late_;
    std::vector<std::uint8_t> out_;
};

bool TavrekSimulator::Engine::OpenPty(std::string* error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        *error = ErrnoText("cannot open a pseudo-terminal");
        return false;
    }
    if (fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 ||
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
        *error = ErrnoText("cannot set up the pseudo-terminal");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = ErrnoText("cannot unlock the pseudo-terminal");
        return false;
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        *error = ErrnoText("cannot name the pseudo-terminal");
        return false;
    }
    // Settings made through the master apply to the slave: raw 8N1 at the module's first speed,
    // so a host that opens the slave finds a byte-clean line.
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) {
        *error = ErrnoText("cannot read the pseudo-terminal's settings");
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    if (tcsetattr(master_, TCSANOW, &tio) != 0) {
        *error = ErrnoText("cannot set the pseudo-terminal to raw mode");
        return false;
    }
    std::lock_guard lock(mutex_);
    slavePath_ = name;
    return true;
}

bool TavrekSimulator::Engine::OpenWakePipe(std::string* error) {
    int pipeFds[2] = {-1, -1};
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = ErrnoText("cannot create the wake-up pipe");
        return false;
    }
    std::lock_guard lock(mutex_);
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    return true;
}

bool TavrekSimulator::Engine::MakeLink(std::string* error) {
    const std::string& link = config_.linkPath;
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = "cannot make the link " + link + ": it exists and is not a symbolic link";
            return false;
        }
        // Replace an old link (say, of a simulator that was killed) in one step.
        const std::string temp = link + ".tmp" + std::to_string(getpid());
        unlink(temp.c_str());
        if (symlink(slavePath_.c_str(), temp.c_str()) != 0) {
            *error = ErrnoText(("cannot make the link " + link).c_str());
            return false;
        }
        if (rename(temp.c_str(), link.c_str()) != 0) {
            *error = ErrnoText(("cannot make the link " + link).c_str());
            unlink(temp.c_str());
            return false;
        }
    } else if (symlink(slavePath_.c_str(), link.c_str()) != 0) {
        *error = ErrnoText(("cannot make the link " + link).c_str());
        return false;
    }
    linkMade_ = true;
    return true;
}

void TavrekSimulator::Engine::RemoveLink() {
    if (!linkMade_) {
        return;
    }
    linkMade_ = false;
    // Only remove the link while it is still ours: another simulator may have taken the name.
    char target[256] = {};
    const ssize_t n = readlink(config_.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_) {
        unlink(config_.linkPath.c_str());
    }
}

void TavrekSimulator::Engine::CloseAll() {
    // Another thread may be waking the module: the pipe goes under the lock it wakes under.
    std::lock_guard lock(mutex_);
    for (int* fd : {&master_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

bool TavrekSimulator::Engine::Start(std::string* error) {
    std::string scratch;
    if (error == nullptr) {
        error = &scratch;
    }
    if (thread_.joinable()) {
        *error = "the simulator is already running";
        return false;
    }
    stopRequested_ = false;
    if (!OpenWakePipe(error) || !OpenPty(error) ||
        (!config_.linkPath.empty() && !MakeLink(error))) {
        CloseAll();
        std::lock_guard lock(mutex_);
        slavePath_.clear();
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        startTime_ = Clock::now();
        stats_ = SimStats{};
    }
    if (config_.faults.silentAfterBlocks == 0) {
        BeginSilence(Clock::now());
    }
    if (config_.faults.streamingAtStart) {
        moduleSpeed_ = kFastSpeed;
        {
            std::lock_guard lock(mutex_);
            stats_.moduleSpeed = moduleSpeed_;
        }
        StartStream(Clock::now());
    }
    observedSpeed_ = ObserveSpeed(kStartSpeed);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TavrekSimulator::Engine::Stop() {
    if (thread_.joinable()) {
        stopRequested_ = true;
        {
            std::lock_guard lock(mutex_);
            Wake();
        }
        thread_.join();
    }
    CloseAll();
    RemoveLink();
}

void TavrekSimulator::Engine::Event(const std::string& text) {
    std::lock_guard lock(mutex_);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - startTime_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ms  ", ms);
    events_.push_back(stamp + text);
    if (events_.size() > RecordLimit) {
        events_.pop_front();
        ++eventsDropped_;
    }
}

void TavrekSimulator::Engine::Record(const ReceivedByte& byte) {
    {
        std::lock_guard lock(mutex_);
        received_.push_back(byte);
        if (received_.size() > RecordLimit) {
            received_.pop_front();
            ++receivedDropped_;
        }
    }
    receivedChanged_.notify_all();
}

unsigned TavrekSimulator::Engine::ObserveSpeed(unsigned fallback) const {
    unsigned speed = 0;
    if (master_ >= 0 && ReadHostLineSpeed(master_, &speed)) {
        return speed;
    }
    return fallback;
}

void TavrekSimulator::Engine::Run() {
    // A real module hears a byte the moment it arrives; this one hears it when its thread is
    // woken, and judges it at the line speed in force then. On a busy machine the thread is
    // therefore given more of the processor where the system allows it (as root); elsewhere
    // it runs as it is.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kModulePriority);
    while (!stopRequested_) {
        const Clock::time_point now = Clock::now();
        DoWhatIsDue(now);
        WaitForHost(TimeToWait(now));
    }
}

void TavrekSimulator::Engine::DoWhatIsDue(Clock::time_point now) {
    bool silenceAsked = false;
    {
        std::lock_guard lock(mutex_);
        silenceAsked = std::exchange(silenceAsked_, false);
    }
    if (silenceAsked && !silent_) {
        BeginSilence(now);
    }
    if (silent_ && resumeAt_ && now >= *resumeAt_) {
        EndSilence(now);
    }
    if (hangUpAt_ && now >= *hangUpAt_) {
        HangUp();
    }
    if (replugAt_ && now >= *replugAt_) {
        PlugIn(now);
    }
    if (LineUp()) {
        SendReplies(now);
        SendLateSamples(now);
        Pace(now);
    }
}

Clock::duration TavrekSimulator::Engine::TimeToWait(Clock::time_point now) const {
    Clock::duration timeout = kIdlePoll;
    const auto until = [&](Clock::time_point due) {
        timeout = std::min<Clock::duration>(timeout, due - now);
    };
    if (hungUp_) {
        timeout = std::chrono::hours(1);
    } else if (LineUp()) {
        if (hostGone_) {
            timeout = kNoHostPoll;
        }
        if (streaming_ && !silent_) {
            timeout = std::min<Clock::duration>(timeout, kStreamPoll);
        }
        if (!replies_.empty()) {
            until(replies_.front());
        }
        if (!late_.empty()) {
            until(late_.front().first);
        }
    }
    if (silent_ && resumeAt_) {
        until(*resumeAt_);
    }
    if (hangUpAt_ && !hungUp_) {
        until(*hangUpAt_);
    }
    if (replugAt_) {
        until(*replugAt_);
    }
    return timeout;
}

void TavrekSimulator::Engine::WaitForHost(Clock::duration timeout) {
    // While nobody has the slave open the master reports a hang-up at once, so it is left out
    // of the poll and looked at again after a pause.
    const bool watchMaster = master_ >= 0 && !hungUp_ && !hostGone_;
    std::array<pollfd, 2> fds{};
    fds[0] = {wakeRead_, POLLIN, 0};
    fds[1] = {watchMaster ? master_ : -1, POLLIN, 0};
    const timespec ts = ToTimespec(timeout);
    const int ready = ppoll(fds.data(), fds.size(), &ts, nullptr);
    if (ready < 0 && errno != EINTR) {
        Event(ErrnoText("poll failed"));
        std::this_thread::sleep_for(kNoHostPoll);
        return;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        char wakes[64];
        while (read(wakeRead_, wakes, sizeof wakes) > 0) {
        }
    }
    std::uint64_t asked = 0;
    {
        std::lock_guard lock(mutex_);
        asked = lineReadsAsked_;
    }
    TakeHostBytes(ready > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0,
                  asked != lineReadsDone_);
    {
        std::lock_guard lock(mutex_);
        lineReadsDone_ = asked;
    }
    lineReadDone_.notify_all();
}

void TavrekSimulator::Engine::TakeHostBytes(bool pollSawBytes, bool readAsked) {
    if (stopRequested_ || master_ < 0) {
        return;
    }
    if (hostGone_) {
        // Looked at again on the next pass, or at once when a read was asked for: the host
        // may have opened the line again and written to it since.
        hostGone_ = false;
        if (!readAsked) {
            return;
        }
    }
    // A read that finds the line empty first takes in whatever the system still held for it, so
    // an asked-for read sees every byte written before it was asked for.
    if (pollSawBytes || readAsked) {
        ReadFromHost(Clock::now());
    } else {
        observedSpeed_ = ObserveSpeed(observedSpeed_);
    }
}

void TavrekSimulator::Engine::Wake() {
    const char wake = 1;
    (void)!write(wakeWrite_, &wake, 1);
}

void TavrekSimulator::Engine::ReadFromHost(Clock::time_point now) {
    std::uint8_t buffer[256];
    bool gone = false;
    for (;;) {
        // The speed the bytes were sent at is the one the line has now, before they are read: a
        // host that changes it later has waited for them to leave. Should the host change it
        // while the read is under way, the bytes taken may have been sent at either speed (the
        // last ones before the switch, or the first ones after it), and the module hears
        // whichever of the two it listens at.
        const unsigned before = ObserveSpeed(observedSpeed_);
        const ssize_t n = read(master_, buffer, sizeof buffer);
        const unsigned after = ObserveSpeed(before);
        observedSpeed_ = after;
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                const unsigned speed = before != after && moduleSpeed_ == after ? after : before;
                const bool heard = moduleSpeed_ == speed;
                ReceivedByte rec;
                rec.time = now;
                rec.value = buffer[i];
                rec.lineSpeed = speed;
                rec.heard = heard;
                Record(rec);
                if (heard) {
                    Handle(buffer[i], now);
                    if (master_ < 0) {
                        return;
                    }
                }
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            break;
        }
        // EIO (or end of file): the last slave descriptor was closed.
        gone = true;
        break;
    }
    if (gone) {
        HostGone();
    }
}

void TavrekSimulator::Engine::HostGone() {
    // A module has no way of telling that the host closed its end: a stream goes on.
    hostGone_ = true;
    replies_.clear();
}

void TavrekSimulator::Engine::Handle(std::uint8_t byte, Clock::time_point now) {
    switch (byte) {
        case 'P':
            if (moduleSpeed_ == kFastSpeed && !config_.faults.answer.empty()) {
                replies_.push_back(now + std::chrono::milliseconds(config_.faults.answerDelayMs));
            }
            break;
        case '9':
            if (moduleSpeed_ != kFastSpeed) {
                moduleSpeed_ = kFastSpeed;
                {
                    std::lock_guard lock(mutex_);
                    stats_.moduleSpeed = moduleSpeed_;
                }
                Event("listening at 128000 baud");
            }
            break;
        case 'G':
        case 'Q':
        case 'S':
            Event(std::string("start command ") + static_cast<char>(byte));
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
                {
                    std::lock_guard lock(mutex_);
                    ++stats_.stopsLost;
                }
                Event("stop byte lost on the line; streaming on");
            } else {
                StopStream("stopped by the host");
                if (config_.faults.lateSamples > 0) {
                    late_.emplace_back(now + std::chrono::milliseconds(config_.faults.lateMs),
                                       config_.faults.lateSamples);
                }
            }
            break;
        default:
            break;
    }
}

void TavrekSimulator::Engine::StartStream(Clock::time_point now) {
    streaming_ = true;
    streamSamples_ = 0;
    paceTime_ = now;
    credit_ = 0.0;
    {
        std::lock_guard lock(mutex_);
        stats_.streaming = true;
        ++stats_.streamsStarted;
    }
    Event(std::string("stream of ") + (axis_ == 0 ? "X" : "Y") + " started");
}

void TavrekSimulator::Engine::StopStream(const char* why) {
    streaming_ = false;
    {
        std::lock_guard lock(mutex_);
        stats_.streaming = false;
    }
    Event("stream " + std::string(why) + " after " + std::to_string(streamSamples_) + " samples");
}

void TavrekSimulator::Engine::SendReplies(Clock::time_point now) {
    while (!replies_.empty() && replies_.front() <= now) {
        replies_.pop_front();
        if (silent_) {
            Event("silent: handshake not answered");
            continue;
        }
        const std::string& answer = config_.faults.answer;
        Send(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size());
        {
            std::lock_guard lock(mutex_);
            ++stats_.handshakeAnswers;
        }
        Event("handshake answered");
        if (hostGone_) {
            return;
        }
    }
}

void TavrekSimulator::Engine::GenerateSamples(int count) {
    out_.clear();
    std::lock_guard lock(mutex_);
    SignalGenerator& generator = generators_[static_cast<std::size_t>(axis_)];
    for (int i = 0; i < count; ++i) {
        out_.push_back(generator.Next());
    }
}

void TavrekSimulator::Engine::SendLateSamples(Clock::time_point now) {
    while (!late_.empty() && late_.front().first <= now) {
        const int count = late_.front().second;
        late_.pop_front();
        if (silent_) {
            continue;
        }
        GenerateSamples(count);
        Send(out_.data(), out_.size());
        {
            std::lock_guard lock(mutex_);
            stats_.lateSamplesSent += static_cast<std::uint64_t>(count);
        }
        Event(std::to_string(count) + " late samples delivered");
    }
}

TavrekSimulator::Engine::BlockFault TavrekSimulator::Engine::FaultAfterBlock() {
    const SimFaults& faults = config_.faults;
    const auto at = [this](int blocks) {
        return blocks > 0 && blocks_ == static_cast<std::uint64_t>(blocks);
    };
    if (faults.burstBytes > 0 && (faults.burstAfterBlock == 0 ||
                                  blocks_ == static_cast<std::uint64_t>(faults.burstAfterBlock))) {
        out_.insert(out_.end(), static_cast<std::size_t>(faults.burstBytes), faults.burstByte);
    }
    if (!stopLossUsed_ && at(faults.loseStopAfterBlocks)) {
        stopLossUsed_ = true;
        loseNextStop_ = true;
    }
    if (at(faults.hangUpAfterBlocks)) {
        return BlockFault::HangUp;
    }
    if (!unplugUsed_ && at(faults.unplugAfterBlocks)) {
        unplugUsed_ = true;
        return BlockFault::Unplug;
    }
    if (!resetUsed_ && at(faults.resetAfterBlocks)) {
        resetUsed_ = true;
        return BlockFault::Reset;
    }
    if (!silenceUsed_ && at(faults.silentAfterBlocks)) {
        return BlockFault::FallSilent;
    }
    return BlockFault::None;
}

void TavrekSimulator::Engine::Pace(Clock::time_point now) {
    if (!streaming_ || silent_) {
        return;
    }
    const SimFaults& faults = config_.faults;
    const double rate =
        faults.streamBytesPerSecond > 0.0 ? faults.streamBytesPerSecond : moduleSpeed_ / 10.0;
    credit_ += std::chrono::duration<double>(now - paceTime_).count() * rate;
    credit_ = std::min(credit_, kMaxStreamCredit);
    paceTime_ = now;
    const auto due = static_cast<int>(std::floor(credit_));
    credit_ -= due;
    if (due <= 0) {
        return;
    }
    out_.clear();
    BlockFault fault = BlockFault::None;
    {
        std::lock_guard lock(mutex_);
        SignalGenerator& generator = generators_[static_cast<std::size_t>(axis_)];
        for (int i = 0; i < due && fault == BlockFault::None; ++i) {
            out_.push_back(generator.Next());
            ++streamSamples_;
            ++stats_.samplesSent;
            if (streamSamples_ % kBlockSamples != 0) {
                continue;
            }
            ++blocks_;
            ++stats_.blocksSent;
            fault = FaultAfterBlock();
        }
    }
    Send(out_.data(), out_.size());
    switch (fault) {
        case BlockFault::HangUp:
            // Closing the master throws away whatever the slave has not read yet, so the line
            // goes quiet first and is closed once the host has had time to take the last block.
            hangUpAt_ = now + kHangUpGrace;
            Event("hangs up in " + std::to_string(kHangUpGrace.count()) + " ms");
            break;
        case BlockFault::FallSilent:
            BeginSilence(now);
            break;
        case BlockFault::Reset:
            ResetModule(now, "reset after " + std::to_string(blocks_) + " blocks");
            break;
        case BlockFault::Unplug:
            Unplug(now);
            break;
        case BlockFault::None:
            break;
    }
}

void TavrekSimulator::Engine::ResetModule(Clock::time_point, const std::string& why) {
    streaming_ = false;
    moduleSpeed_ = kStartSpeed;
    axis_ = 0;
    loseNextStop_ = false;
    replies_.clear();
    late_.clear();
    {
        std::lock_guard lock(mutex_);
        stats_.streaming = false;
        stats_.moduleSpeed = moduleSpeed_;
        ++stats_.resets;
    }
    Event("module " + why + "; listening at 38400 baud");
}

void TavrekSimulator::Engine::Unplug(Clock::time_point now) {
    // Published before the line goes, so that whoever sees it gone also sees why.
    ResetModule(now, "unpowered");
    Event("adapter pulled out after " + std::to_string(blocks_) + " blocks");
    RemoveLink();
    {
        std::lock_guard lock(mutex_);
        stats_.unplugged = true;
        slavePath_.clear();
    }
    close(master_);
    master_ = -1;
    hostGone_ = false;
    const double seconds = config_.faults.replugAfterSeconds;
    if (seconds >= 0.0) {
        replugAt_ = now + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(seconds));
    }
}

void TavrekSimulator::Engine::PlugIn(Clock::time_point) {
    replugAt_.reset();
    std::string error;
    if (!OpenPty(&error) || (!config_.linkPath.empty() && !MakeLink(&error))) {
        Event("cannot plug the adapter back in: " + error);
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
        return;
    }
    observedSpeed_ = ObserveSpeed(kStartSpeed);
    {
        std::lock_guard lock(mutex_);
        stats_.unplugged = false;
        ++stats_.replugs;
    }
    Event("adapter plugged back in as " + SlavePathLocked());
}

void TavrekSimulator::Engine::BeginSilence(Clock::time_point now) {
    silent_ = true;
    silenceUsed_ = true;
    const double resume = config_.faults.resumeAfterSeconds;
    if (resume >= 0.0) {
        resumeAt_ = now + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(resume));
    }
    {
        std::lock_guard lock(mutex_);
        stats_.silent = true;
    }
    Event("falls silent after " + std::to_string(blocks_) + " blocks");
}

void TavrekSimulator::Engine::EndSilence(Clock::time_point now) {
    silent_ = false;
    resumeAt_.reset();
    paceTime_ = now;
    credit_ = 0.0;
    {
        std::lock_guard lock(mutex_);
        stats_.silent = false;
    }
    Event("silence ends");
}

void TavrekSimulator::Engine::HangUp() {
    {
        // Published before the close, so that whoever sees the hang-up also sees it counted.
        std::lock_guard lock(mutex_);
        stats_.hungUp = true;
        stats_.streaming = false;
    }
    hangUpAt_.reset();
    close(master_);
    master_ = -1;
    hungUp_ = true;
    streaming_ = false;
    replies_.clear();
    late_.clear();
    Event("hung up after " + std::to_string(blocks_) + " blocks");
}

void TavrekSimulator::Engine::Send(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || master_ < 0) {
        return;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(master_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EIO) {
            HostGone();
        }
        break;
    }
    std::lock_guard lock(mutex_);
    stats_.bytesSent += done;
    stats_.bytesDropped += size - done;
}

// ---------------------------------------------------------------------------------------------

TavrekSimulator::TavrekSimulator(SimConfig config)
    : engine_(std::make_unique<Engine>(std::move(config))) {}

TavrekSimulator::~TavrekSimulator() = default;

bool TavrekSimulator::Start(std::string* error) {
    return engine_->Start(error);
}

void TavrekSimulator::Stop() {
    engine_->Stop();
}

std::string TavrekSimulator::SlavePath() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->slavePath_;
}

std::chrono::steady_clock::time_point TavrekSimulator::StartTime() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->startTime_;
}

std::vector<ReceivedByte> TavrekSimulator::Received() const {
    std::lock_guard lock(engine_->mutex_);
    return {engine_->received_.begin(), engine_->received_.end()};
}

namespace {

// The entries of a bounded record from absolute index `index` on; `dropped` older entries have
// been let go, so an index among them starts at the oldest one kept.
template <typename T>
std::vector<T> Since(const std::deque<T>& kept, std::size_t dropped, std::size_t index) {
    const std::size_t first = index > dropped ? index - dropped : 0;
    if (first >= kept.size()) {
        return {};
    }
    return {kept.begin() + static_cast<std::ptrdiff_t>(first), kept.end()};
}

}  // namespace

std::vector<ReceivedByte> TavrekSimulator::ReceivedSince(std::size_t index) const {
    std::lock_guard lock(engine_->mutex_);
    return Since(engine_->received_, engine_->receivedDropped_, index);
}

std::size_t TavrekSimulator::ReceivedCount() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->receivedDropped_ + engine_->received_.size();
}

bool TavrekSimulator::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(engine_->mutex_);
    return engine_->receivedChanged_.wait_for(lock, timeout, [&] {
        return engine_->receivedDropped_ + engine_->received_.size() >= count;
    });
}

void TavrekSimulator::FallSilentNow() {
    std::lock_guard lock(engine_->mutex_);
    engine_->silenceAsked_ = true;
    engine_->Wake();
}

bool TavrekSimulator::WaitUntilLineRead(std::chrono::milliseconds timeout) {
    Engine& engine = *engine_;
    std::unique_lock lock(engine.mutex_);
    const std::uint64_t ticket = ++engine.lineReadsAsked_;
    engine.Wake();
    return engine.lineReadDone_.wait_for(lock, timeout,
                                         [&] { return engine.lineReadsDone_ >= ticket; });
}

std::vector<std::string> TavrekSimulator::EventsSince(std::size_t index) const {
    std::lock_guard lock(engine_->mutex_);
    return Since(engine_->events_, engine_->eventsDropped_, index);
}

SimStats TavrekSimulator::Stats() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->stats_;
}

void TavrekSimulator::SetAxisSignal(SimAxis axis, const AxisSignal& signal) {
    std::lock_guard lock(engine_->mutex_);
    engine_->generators_[static_cast<std::size_t>(axis)].SetSignal(signal);
}
