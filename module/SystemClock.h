#pragma once

#include <chrono>
#include <thread>

#include "ModuleHost.h"

// The real clock of the program.
class SystemClock final : public ModuleClock {
  public:
    void Sleep(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    std::time_t Time() override { return std::time(nullptr); }
    std::int64_t SteadyMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};
