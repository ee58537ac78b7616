#pragma once

// Fakes for the module side's seams: a scripted port under a real link, a host that records
// what the module asks of the window system, and a clock that costs no time.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "COMLINK.h"
#include "ModuleHost.h"

// A port whose far end is a script: bytes written go to `written` and to onWrite, which may
// queue an answer with Queue. Every operation of the table is supplied.
class FakeModulePort final : public CComPort {
  public:
    FakeModulePort() = default;

    void Queue(const std::vector<std::uint8_t>& bytes) {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    }

    std::vector<std::uint8_t> written;
    std::deque<std::uint8_t> incoming;
    std::function<void(std::uint8_t)> onWrite;
    // Called whenever the queue is looked at: lets a far end that streams add bytes.
    std::function<void()> onStatus;
    // Counts asked of every Read, in order.
    std::vector<unsigned> readRequests;
    // At most this many bytes per Read (0 = no limit).
    unsigned readLimit = 0;
    // What Idle answers; a negative value aborts the link's waits.
    int idleResult = 0;
    // When set, the receive count reported instead of the queue's length.
    int reportedRxCount = -1;
    long baud = 19200;

    int Idle() override { return idleResult; }
    int RefreshStatus() override { return 0; }
    void Open(int) override {}
    int OpenDevice() override { return 0; }
    int Close() override { return 0; }
    BufferStatus* GetBufferStatus(BufferStatus* status, int) override {
        if (onStatus) {
            onStatus();
        }
        *status = BufferStatus{};
        status->rxKnown = 1;
        status->rxCount =
            reportedRxCount >= 0 ? reportedRxCount : static_cast<std::int32_t>(incoming.size());
        return status;
    }
    int SetBufferSizes(int, int, int) override { return 0; }
    int SetHandshake(int, int) override { return 0; }
    int GetHandshake(int& in, int& out) override {
        in = 0;
        out = 0;
        return 0;
    }
    int Break(int) override { return 0; }
    int LineControl(int, int) override { return 0; }
    int SetLineParameters(long newBaud, char, int, int) override {
        baud = newBaud;
        return 0;
    }
    int GetLineParameters(long& b, char& parity, int& dataBits, int& stopBits) override {
        b = baud;
        parity = 'N';
        dataBits = 8;
        stopBits = 1;
        return 0;
    }
    int GetLineStatus(PackedLineStatus* status) override {
        *status = PackedLineStatus{};
        return 0;
    }
    int WriteByte(unsigned char byte) override { return Write(&byte, 1) == 1 ? 0 : -801; }
    int WriteString(const char* text) override {
        return Write(text, static_cast<unsigned>(std::string(text).size()));
    }
    int Write(const void* buffer, unsigned count) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        for (unsigned i = 0; i < count; ++i) {
            written.push_back(bytes[i]);
            if (onWrite) {
                onWrite(bytes[i]);
            }
        }
        return static_cast<int>(count);
    }
    int TransmitChar(unsigned char byte) override { return WriteByte(byte); }
    int ReadByte() override {
        if (incoming.empty()) {
            return -802;
        }
        const int byte = incoming.front();
        incoming.pop_front();
        return byte;
    }
    int Read(void* buffer, unsigned count) override {
        readRequests.push_back(count);
        unsigned n = std::min<unsigned>(count, static_cast<unsigned>(incoming.size()));
        if (readLimit != 0) {
            n = std::min(n, readLimit);
        }
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (unsigned i = 0; i < n; ++i) {
            out[i] = incoming.front();
            incoming.pop_front();
        }
        return static_cast<int>(n);
    }
    int Purge(int, int) override {
        incoming.clear();
        return 0;
    }
    int DumpStatus(StatusLineSink) override { return 0; }
};

// A clock in milliseconds that moves only when asked: every Sleep, and `timeStepMs` per Time()
// call so that loops that poll without sleeping still reach their deadlines.
class FakeClock final : public ModuleClock {
  public:
    explicit FakeClock(std::int64_t startMs = 1'000'000) : nowMs(startMs) {}
    void Sleep(std::uint32_t milliseconds) override {
        nowMs += milliseconds;
        sleptMs += milliseconds;
    }
    std::time_t Time() override {
        nowMs += timeStepMs;
        return static_cast<std::time_t>(nowMs / 1000);
    }
    std::int64_t SteadyMs() override { return nowMs; }
    std::int64_t nowMs;
    std::int64_t sleptMs = 0;
    std::int64_t timeStepMs = 1;
};

// A host that records every request; the pump runs `pump` when set (a nested paint, a tick).
class FakeHost final : public ModuleHost {
  public:
    void MessageBox(const char* text) override {
        messages.emplace_back(text);
        if (onMessage) {
            onMessage(text);
        }
    }
    void FailureBox(const char* text, const std::string& detail) override {
        details.push_back(detail);
        MessageBox(text);
    }
    bool PumpOneMessage() override {
        ++pumps;
        return pump ? pump() : false;
    }
    bool MainWindowClosing() const override { return closing; }
    void InvalidateClient() override { ++invalidations; }
    void KillTimerAndClose() override { ++closes; }
    void DefaultProcessing() override { ++defaultProcessing; }
    // Without a script the user asks to terminate, so that a retry loop never runs for ever.
    void RunPortSelectionDialog(int& portNumber) override {
        dialogShown.push_back(portNumber);
        if (dialog) {
            dialog(portNumber);
        } else {
            portNumber = 1000;
        }
    }
    int GetProfileInt(const char* section, const char* entry, int defaultValue) override {
        profileReads.push_back({section, entry, defaultValue});
        const auto found = profile.find(Key(section, entry));
        return found == profile.end() ? defaultValue : found->second;
    }
    bool WriteProfileInt(const char* section, const char* entry, int value) override {
        profileWrites.push_back(value);
        if (profileKeeps) {
            profile[Key(section, entry)] = value;
        }
        return profileKeeps;
    }

    static std::string Key(const char* section, const char* entry) {
        return std::string(section) + "/" + entry;
    }

    struct ProfileRead {
        std::string section;
        std::string entry;
        int defaultValue;
    };

    std::vector<std::string> messages;
    // The secondary text of each failure box.
    std::vector<std::string> details;
    std::function<void(const std::string&)> onMessage;
    std::function<bool()> pump;
    std::function<void(int&)> dialog;
    std::vector<int> dialogShown;
    std::map<std::string, int> profile;
    std::vector<ProfileRead> profileReads;
    std::vector<int> profileWrites;
    bool closing = false;
    // false: a profile that cannot be written (read-only), which keeps its old values.
    bool profileKeeps = true;
    int pumps = 0;
    int invalidations = 0;
    int closes = 0;
    int defaultProcessing = 0;
};
