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
#include "SimulatedModule.h"

// The module (SimulatedModule) on a pseudo-terminal: the line, the thread that wakes for the host's
// bytes and for what the module has fallen due to send, the wake pipe through which other
// threads reach it, the symbolic link, and the records of what came and what happened.

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kStartSpeed = SimulatedModule::StartSpeed;
// How often an idle module looks at the host's line speed; bounds the window in which a byte
// cannot be told apart from a speed change around it.
constexpr auto kIdlePoll = std::chrono::milliseconds(10);
// How long to sleep while nobody has the slave open (reads then fail at once).
constexpr auto kNoHostPoll = std::chrono::milliseconds(20);
constexpr auto kStreamPoll = std::chrono::microseconds(1000);
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
    explicit Engine(SimConfig config) : config_(std::move(config)), module_(config_) {
        // Called with mutex_ held: every call into the module is made under it.
        module_.SetEventSink(
            [this](Clock::time_point when, const std::string& text) { EventLocked(when, text); });
    }
    ~Engine() { Stop(); }

    bool Start(std::string* error);
    void Stop();
    // Wakes the module's thread: for a stop, or for a read of the line. Called with mutex_
    // held, which keeps the pipe from being closed under it.
    void Wake();
    // The module's counters with the line's.
    SimStats StatsLocked() const;

    const SimConfig config_;
    mutable std::mutex mutex_;
    mutable std::condition_variable receivedChanged_;
    // The module; touched under mutex_ only.
    SimulatedModule module_;
    // The latest entries of each record, and how many older ones were let go.
    std::deque<ReceivedByte> received_;
    std::size_t receivedDropped_ = 0;
    std::deque<std::string> events_;
    std::size_t eventsDropped_ = 0;
    // What the line did to the bytes the module sent.
    std::uint64_t bytesSent_ = 0;
    std::uint64_t bytesDropped_ = 0;
    // The line is out: from the moment the module's adapter was pulled out until the new line
    // is open and linked (or for good, when it cannot be), so that whoever sees it back in also
    // finds its path.
    bool lineOut_ = false;
    // Asked for by FallSilentNow; taken by the module's thread.
    bool silenceAsked_ = false;
    // Line reads asked for by WaitUntilLineRead, and those done since.
    std::uint64_t lineReadsAsked_ = 0;
    std::uint64_t lineReadsDone_ = 0;
    std::condition_variable lineReadDone_;
    std::string slavePath_;
    Clock::time_point startTime_{};

  private:
    void Run();
    // One pass of the module's loop: what has fallen due, how long it may then sleep, and the
    // sleep itself, which ends early for the host's bytes or a stop.
    void DoWhatIsDue(Clock::time_point now);
    // Closes or opens the line as the module's faults have left it.
    void FollowTheModule();
    Clock::duration TimeToWait(Clock::time_point now) const;
    void WaitForHost(Clock::duration timeout);
    // Takes what the host sent: when the poll saw bytes or a read was asked for.
    void TakeHostBytes(bool pollSawBytes, bool readAsked);
    void Event(const std::string& text);
    void EventLocked(Clock::time_point when, const std::string& text);
    void Record(const ReceivedByte& byte);
    bool OpenPty(std::string* error);
    bool OpenWakePipe(std::string* error);
    bool MakeLink(std::string* error);
    void RemoveLink();
    void CloseAll();
    void CloseLine();
    unsigned ObserveSpeed(unsigned fallback) const;
    void ReadFromHost(Clock::time_point now);
    void HostGone();
    void PlugIn();
    // Writes stream or reply bytes; what the host's full queue does not take is lost, as bytes
    // would be on a real line.
    void Send(const std::uint8_t* data, std::size_t size);

    int master_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool linkMade_ = false;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};

    // State of the line, touched by the module's thread only (hungUp_ changes under mutex_, so
    // that the counters may read it).
    unsigned observedSpeed_ = 0;
    bool hostGone_ = false;
    bool hungUp_ = false;
    bool unplugged_ = false;
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

void TavrekSimulator::Engine::CloseLine() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
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
        bytesSent_ = 0;
        bytesDropped_ = 0;
        lineOut_ = false;
        module_.PowerOn(startTime_);
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

SimStats TavrekSimulator::Engine::StatsLocked() const {
    SimStats stats = module_.Stats();
    stats.bytesSent = bytesSent_;
    stats.bytesDropped = bytesDropped_;
    stats.hungUp = hungUp_;
    stats.unplugged = lineOut_;
    return stats;
}

void TavrekSimulator::Engine::EventLocked(Clock::time_point when, const std::string& text) {
    const double ms = std::chrono::duration<double, std::milli>(when - startTime_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ms  ", ms);
    events_.push_back(stamp + text);
    if (events_.size() > RecordLimit) {
        events_.pop_front();
        ++eventsDropped_;
    }
}

void TavrekSimulator::Engine::Event(const std::string& text) {
    std::lock_guard lock(mutex_);
    EventLocked(Clock::now(), text);
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
    out_.clear();
    {
        std::lock_guard lock(mutex_);
        if (std::exchange(silenceAsked_, false)) {
            module_.FallSilent(now);
        }
        module_.SendDue(now, &out_);
    }
    // The bytes of a block go out before the line is closed after it.
    Send(out_.data(), out_.size());
    FollowTheModule();
}

void TavrekSimulator::Engine::FollowTheModule() {
    bool plugIn = false;
    {
        // The line is closed under the lock that publishes why: whoever sees the hang-up or the
        // adapter out in the counters finds the line gone, and whoever finds the line gone sees
        // why in the counters.
        std::lock_guard lock(mutex_);
        if (module_.HungUp() && !hungUp_) {
            hungUp_ = true;
            CloseLine();
        }
        if (module_.Unplugged() && !unplugged_) {
            unplugged_ = true;
            lineOut_ = true;
            RemoveLink();
            slavePath_.clear();
            CloseLine();
            hostGone_ = false;
        }
        plugIn = !module_.Unplugged() && unplugged_;
    }
    if (plugIn) {
        unplugged_ = false;
        PlugIn();
    }
}

void TavrekSimulator::Engine::PlugIn() {
    std::string error;
    if (!OpenPty(&error) || (!config_.linkPath.empty() && !MakeLink(&error))) {
        Event("cannot plug the adapter back in: " + error);
        CloseLine();
        return;
    }
    observedSpeed_ = ObserveSpeed(kStartSpeed);
    std::string path;
    {
        std::lock_guard lock(mutex_);
        path = slavePath_;
        lineOut_ = false;
    }
    Event("adapter plugged back in as " + path);
}

Clock::duration TavrekSimulator::Engine::TimeToWait(Clock::time_point now) const {
    Clock::duration timeout = kIdlePoll;
    std::optional<Clock::time_point> timer;
    bool streaming = false;
    {
        std::lock_guard lock(mutex_);
        timer = module_.NextTimer();
        streaming = module_.Streaming() && !module_.Silent() && module_.Sending();
    }
    if (hungUp_) {
        timeout = std::chrono::hours(1);
    } else if (master_ >= 0) {
        if (hostGone_) {
            timeout = kNoHostPoll;
        }
        if (streaming) {
            timeout = std::min<Clock::duration>(timeout, kStreamPoll);
        }
    }
    if (timer) {
        timeout = std::min<Clock::duration>(timeout, *timer - now);
    }
    return timeout;
}

void TavrekSimulator::Engine::WaitForHost(Clock::duration timeout) {
    // While nobody has the slave open the master reports a hang-up at once, so it is left out
    // of the poll and looked at again after a pause.
    const bool watchMaster = master_ >= 0 && !hostGone_;
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
                ReceivedByte rec;
                rec.time = now;
                rec.value = buffer[i];
                {
                    std::lock_guard lock(mutex_);
                    const unsigned listening = module_.Speed();
                    rec.lineSpeed = before != after && listening == after ? after : before;
                    rec.heard = module_.Receive(buffer[i], rec.lineSpeed, now);
                }
                Record(rec);
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
    std::lock_guard lock(mutex_);
    module_.HostGone();
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
    bytesSent_ += done;
    bytesDropped_ += size - done;
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
    return engine_->StatsLocked();
}

void TavrekSimulator::SetAxisSignal(SimAxis axis, const AxisSignal& signal) {
    std::lock_guard lock(engine_->mutex_);
    engine_->module_.SetAxisSignal(axis, signal);
}
