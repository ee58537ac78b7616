#pragma once

// A Tavrek simulator on a real pseudo-terminal, mapped to a COM number, for the module side's
// tests against a module that behaves (or misbehaves) as configured.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ComDeviceMap.h"
#include "SerialSeam.h"
#include "TavrekSimulator.h"

// COM number the simulator is reached on in these tests.
inline constexpr int SimComNumber = 3;

class SimulatorTest : public ::testing::Test {
  protected:
    ~SimulatorTest() override {
        if (sim_) {
            sim_->Stop();
        }
        SerialSeam::Reset();
        ClearComDeviceMap();
    }

    // Starts a simulator and maps `comNumber` to its line.
    TavrekSimulator& StartSim(const SimConfig& config = SimConfig{}, int comNumber = SimComNumber) {
        sim_ = std::make_unique<TavrekSimulator>(config);
        std::string error;
        EXPECT_TRUE(sim_->Start(&error)) << error;
        SetComDevicePath(comNumber, sim_->SlavePath());
        return *sim_;
    }

    // Maps a COM number to a device that does not exist.
    static void MapMissing(int comNumber) {
        SetComDevicePath(comNumber, "/nonexistent/sorvell-test-port");
    }

    // The bytes the module received, as text.
    std::string ReceivedText() const {
        std::string text;
        for (const ReceivedByte& byte : sim_->Received()) {
            text.push_back(static_cast<char>(byte.value));
        }
        return text;
    }

    TavrekSimulator& Sim() { return *sim_; }

  private:
    std::unique_ptr<TavrekSimulator> sim_;
};
