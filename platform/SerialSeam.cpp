#include "SerialSeam.h"

#include <climits>
#include <map>
#include <mutex>

namespace {

struct Failure {
    DWORD error = 0;
    int times = 0;  // negative: every call
    bool active = false;
};

// What the tests have set up, and what the serial calls have done, since the last Reset.
struct SeamData {
    Failure failures[SERIAL_CALL_COUNT];
    std::map<DWORD, DWORD> baudFailures;
    DWORD injectedErrors = 0;
    bool ctsHold = false, dsrHold = false, xoffHold = false, xoffSent = false;
    bool modemOverride = false;
    DWORD modemStatus = 0;
    long inQueue = -1, outQueue = -1;
    bool writesPending = false;
    long lineChangeQueue = 0;
    int lineChangeLooksLeft = 0;
    int lineChangeLooks = 0;
    std::map<DWORD, DWORD> substitutedRates;
    bool haveCounters = false;
    ErrorCounters counters;
    int counts[SERIAL_CALL_COUNT] = {};
    std::vector<std::pair<SerialCall, DWORD>> log;
};

// The seam's data, locked for as long as this lives: tests set it up on their own thread while
// the serial calls read it on the program's.
class Locked {
  public:
    Locked() : guard_(Lock()) {}
    SeamData* operator->() { return &Data(); }
    SeamData& operator*() { return Data(); }

  private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static SeamData& Data() {
        static SeamData data;
        return data;
    }
    std::lock_guard<std::mutex> guard_;
};

constexpr std::size_t kMaxLog = 4096;

}  // namespace

void SerialSeam::Reset() {
    Locked s;
    *s = SeamData{};
}

void SerialSeam::FailCall(SerialCall call, DWORD error, int times) {
    Locked s;
    Failure& f = s->failures[static_cast<int>(call)];
    f.error = error;
    f.times = times;
    f.active = times != 0;
}

void SerialSeam::ClearFailure(SerialCall call) {
    Locked s;
    s->failures[static_cast<int>(call)] = Failure{};
}

void SerialSeam::FailBaudRate(DWORD baud, DWORD error) {
    Locked s;
    s->baudFailures[baud] = error;
}

void SerialSeam::ClearBaudFailures() {
    Locked s;
    s->baudFailures.clear();
}

void SerialSeam::InjectLineErrors(DWORD errors) {
    Locked s;
    s->injectedErrors |= errors;
}

void SerialSeam::SetHoldFlags(bool ctsHold, bool dsrHold, bool xoffHold, bool xoffSent) {
    Locked s;
    s->ctsHold = ctsHold;
    s->dsrHold = dsrHold;
    s->xoffHold = xoffHold;
    s->xoffSent = xoffSent;
}

void SerialSeam::SetModemStatus(DWORD modemStatus) {
    Locked s;
    s->modemOverride = true;
    s->modemStatus = modemStatus;
}

void SerialSeam::ClearModemStatus() {
    Locked s;
    s->modemOverride = false;
}

void SerialSeam::SetQueueCounts(long inQueue, long outQueue) {
    Locked s;
    s->inQueue = inQueue;
    s->outQueue = outQueue;
}

void SerialSeam::SetWritesPending(bool pending) {
    Locked s;
    s->writesPending = pending;
}

void SerialSeam::SetLineChangeOutputQueue(long bytes, int looks) {
    Locked s;
    s->lineChangeQueue = bytes;
    s->lineChangeLooksLeft = looks;
}

int SerialSeam::LineChangeOutputLooks() {
    Locked s;
    return s->lineChangeLooks;
}

void SerialSeam::SubstituteBaudRate(DWORD asked, DWORD got) {
    Locked s;
    s->substitutedRates[asked] = got;
}

void SerialSeam::SetErrorCounters(const ErrorCounters& counters) {
    Locked s;
    s->haveCounters = true;
    s->counters = counters;
}

int SerialSeam::CallCount(SerialCall call) {
    Locked s;
    return s->counts[static_cast<int>(call)];
}

std::vector<std::pair<SerialCall, DWORD>> SerialSeam::CallLog() {
    Locked s;
    return s->log;
}

bool SerialSeam::TakeFailure(SerialCall call, DWORD argument, DWORD& error) {
    Locked s;
    const int index = static_cast<int>(call);
    if (s->counts[index] < INT_MAX) {
        ++s->counts[index];
    }
    if (s->log.size() < kMaxLog) {
        s->log.emplace_back(call, argument);
    }
    Failure& f = s->failures[index];
    if (!f.active) {
        return false;
    }
    error = f.error;
    if (f.times > 0 && --f.times == 0) {
        f.active = false;
    }
    return true;
}

bool SerialSeam::BaudFailure(DWORD baud, DWORD& error) {
    Locked s;
    auto found = s->baudFailures.find(baud);
    if (found == s->baudFailures.end()) {
        return false;
    }
    error = found->second;
    return true;
}

SerialSeam::LineReport SerialSeam::TakeLineReport() {
    Locked s;
    LineReport report{s->injectedErrors, s->ctsHold, s->dsrHold, s->xoffHold,
                      s->xoffSent,       s->inQueue, s->outQueue};
    s->injectedErrors = 0;
    return report;
}

bool SerialSeam::ModemStatus(DWORD& modemStatus) {
    Locked s;
    modemStatus = s->modemStatus;
    return s->modemOverride;
}

bool SerialSeam::WritesPending() {
    Locked s;
    return s->writesPending;
}

bool SerialSeam::LineChangeOutputQueue(long& bytes) {
    Locked s;
    if (s->lineChangeLooks < INT_MAX) {
        ++s->lineChangeLooks;
    }
    if (s->lineChangeLooksLeft == 0) {
        return false;
    }
    if (s->lineChangeLooksLeft > 0) {
        --s->lineChangeLooksLeft;
    }
    bytes = s->lineChangeQueue;
    return true;
}

void SerialSeam::SubstitutedBaudRate(DWORD asked, unsigned& readBack) {
    Locked s;
    auto found = s->substitutedRates.find(asked);
    if (found != s->substitutedRates.end()) {
        readBack = found->second;
    }
}

bool SerialSeam::StandInErrorCounters(ErrorCounters& counters) {
    Locked s;
    counters = s->counters;
    return s->haveCounters;
}
