#pragma once

// Fakes for the module side's seams (the port is the tests' shared FakePort): a host that
// records what the module asks of the window system, and a clock that costs no time.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "COMLINK.h"
#include "FakePort.h"
#include "ModuleHost.h"

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
