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

struct SeamState {
    std::mutex lock;
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

SeamState& State() {
    static SeamState state;
    return state;
}

constexpr std::size_t kMaxLog = 4096;

}  // namespace

void SerialSeam::Reset() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    for (Failure& f : s.failures) {
        f = Failure{};
    }
    s.baudFailures.clear();
    s.injectedErrors = 0;
    s.ctsHold = s.dsrHold = s.xoffHold = s.xoffSent = false;
    s.modemOverride = false;
    s.modemStatus = 0;
    s.inQueue = s.outQueue = -1;
    s.writesPending = false;
    s.lineChangeQueue = 0;
    s.lineChangeLooksLeft = 0;
    s.lineChangeLooks = 0;
    s.substitutedRates.clear();
    s.haveCounters = false;
    s.counters = ErrorCounters{};
    for (int& c : s.counts) {
        c = 0;
    }
    s.log.clear();
}

void SerialSeam::FailCall(SerialCall call, DWORD error, int times) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    Failure& f = s.failures[static_cast<int>(call)];
    f.error = error;
    f.times = times;
    f.active = times != 0;
}

void SerialSeam::ClearFailure(SerialCall call) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.failures[static_cast<int>(call)] = Failure{};
}

void SerialSeam::FailBaudRate(DWORD baud, DWORD error) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.baudFailures[baud] = error;
}

void SerialSeam::ClearBaudFailures() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.baudFailures.clear();
}

void SerialSeam::InjectLineErrors(DWORD errors) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.injectedErrors |= errors;
}

void SerialSeam::SetHoldFlags(bool ctsHold, bool dsrHold, bool xoffHold, bool xoffSent) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.ctsHold = ctsHold;
    s.dsrHold = dsrHold;
    s.xoffHold = xoffHold;
    s.xoffSent = xoffSent;
}

void SerialSeam::SetModemStatus(DWORD modemStatus) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.modemOverride = true;
    s.modemStatus = modemStatus;
}

void SerialSeam::ClearModemStatus() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.modemOverride = false;
}

void SerialSeam::SetQueueCounts(long inQueue, long outQueue) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.inQueue = inQueue;
    s.outQueue = outQueue;
}

void SerialSeam::SetWritesPending(bool pending) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.writesPending = pending;
}

void SerialSeam::SetLineChangeOutputQueue(long bytes, int looks) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.lineChangeQueue = bytes;
    s.lineChangeLooksLeft = looks;
}

int SerialSeam::LineChangeOutputLooks() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.lineChangeLooks;
}

void SerialSeam::SubstituteBaudRate(DWORD asked, DWORD got) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.substitutedRates[asked] = got;
}

void SerialSeam::SetErrorCounters(const ErrorCounters& counters) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.haveCounters = true;
    s.counters = counters;
}

int SerialSeam::CallCount(SerialCall call) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.counts[static_cast<int>(call)];
}

std::vector<std::pair<SerialCall, DWORD>> SerialSeam::CallLog() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.log;
}

bool SerialSeam::TakeFailure(SerialCall call, DWORD argument, DWORD& error) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const int index = static_cast<int>(call);
    if (s.counts[index] < INT_MAX) {
        ++s.counts[index];
    }
    if (s.log.size() < kMaxLog) {
        s.log.emplace_back(call, argument);
    }
    Failure& f = s.failures[index];
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
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    auto found = s.baudFailures.find(baud);
    if (found == s.baudFailures.end()) {
        return false;
    }
    error = found->second;
    return true;
}

SerialSeam::LineReport SerialSeam::TakeLineReport() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    LineReport report{s.injectedErrors, s.ctsHold, s.dsrHold, s.xoffHold,
                      s.xoffSent,       s.inQueue, s.outQueue};
    s.injectedErrors = 0;
    return report;
}

bool SerialSeam::ModemStatus(DWORD& modemStatus) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    modemStatus = s.modemStatus;
    return s.modemOverride;
}

bool SerialSeam::WritesPending() {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.writesPending;
}

bool SerialSeam::LineChangeOutputQueue(long& bytes) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.lineChangeLooks < INT_MAX) {
        ++s.lineChangeLooks;
    }
    if (s.lineChangeLooksLeft == 0) {
        return false;
    }
    if (s.lineChangeLooksLeft > 0) {
        --s.lineChangeLooksLeft;
    }
    bytes = s.lineChangeQueue;
    return true;
}

void SerialSeam::SubstitutedBaudRate(DWORD asked, unsigned& readBack) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    auto found = s.substitutedRates.find(asked);
    if (found != s.substitutedRates.end()) {
        readBack = found->second;
    }
}

bool SerialSeam::StandInErrorCounters(ErrorCounters& counters) {
    SeamState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    counters = s.counters;
    return s.haveCounters;
}
