// Waiting on a condition that no event announces (another thread's counters, a far end's
// queue): it is looked at again every `period` until it holds or the limit has passed, so a test
// neither hangs nor depends on how long a fixed pause happens to be.
#pragma once

#include <chrono>
#include <thread>

template <class Condition>
bool WaitUntil(Condition&& holds, std::chrono::milliseconds limit = std::chrono::seconds(5),
               std::chrono::milliseconds period = std::chrono::milliseconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(period);
    }
    return true;
}
