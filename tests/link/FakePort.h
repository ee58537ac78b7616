// A port whose every answer a test controls, and a tick counter that moves only when the port
// is idle, so that waits are counted in polls rather than in real time.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "COMLINK.h"
#include "PortLink.h"

class FakeTicks final : public CTickSource {
  public:
    std::uint32_t Now() const override { return now; }
    std::uint32_t now = 0;
};

class FakePort final : public CComPort {
  public:
    FakePort() = default;

    // Test controls.
    void SetPendingError(int code) { pendingError = code; }
    void SetLineErrors(int field, int answer) { lineStatus.SetField(field, answer); }

    std::string rx;            // bytes waiting to be read
    std::string tx;            // bytes the port accepted for sending
    int maxPerRead = 1 << 30;  // most bytes one Read hands over
    int extraReported = 0;     // a faulty port reports this many more bytes than it read
    int idleResult = 0;
    FakeTicks* ticks = nullptr;  // advanced by one millisecond per Idle when set
    std::function<void(int idleCalls)> onIdle;

    int idleCalls = 0;
    int readByteCalls = 0;
    std::vector<unsigned> readAsks;  // count asked of every Read
    std::vector<unsigned> readGot;   // bytes every Read really handed over
    std::vector<std::string> log;    // settings calls in order

    long baud = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    int inputFlow = 0;
    int outputFlow = 0;
    PackedLineStatus lineStatus{};

    int Idle() override {
        ++idleCalls;
        if (ticks != nullptr) {
            ++ticks->now;
        }
        if (onIdle) {
            onIdle(idleCalls);
        }
        return idleResult;
    }

    BufferStatus* GetBufferStatus(BufferStatus* status, int) override {
        *status = BufferStatus{1, static_cast<std::int32_t>(rx.size()), 4096, 1, 0, 2048, 0};
        return status;
    }

    int SetHandshake(int in, int out) override {
        log.push_back("SetHandshake " + std::to_string(in) + " " + std::to_string(out));
        inputFlow = in;
        outputFlow = out;
        return 0;
    }

    int GetHandshake(int& in, int& out) override {
        log.push_back("GetHandshake");
        in = inputFlow;
        out = outputFlow;
        return 0;
    }

    int SetLineParameters(long newBaud, char newParity, int newDataBits, int newStopBits) override {
        log.push_back("SetLineParameters " + std::to_string(newBaud) + " " +
                      std::string(1, newParity) + " " + std::to_string(newDataBits) + " " +
                      std::to_string(newStopBits));
        if (std::strchr("NOEMS", newParity) == nullptr || newParity == '\0') {
            pendingError = COM_ERR_PARITY;
            return COM_ERR_PARITY;
        }
        baud = newBaud;
        parity = newParity;
        dataBits = newDataBits;
        stopBits = newStopBits;
        return 0;
    }

    int GetLineParameters(long& outBaud, char& outParity, int& outDataBits,
                          int& outStopBits) override {
        log.push_back("GetLineParameters");
        outBaud = baud;
        outParity = parity;
        outDataBits = dataBits;
        outStopBits = stopBits;
        return 0;
    }

    // Hands over the line status and forgets the line errors, as a real port does.
    int GetLineStatus(PackedLineStatus* status) override {
        log.push_back("GetLineStatus");
        *status = lineStatus;
        lineStatus.bytes[2] &= 0x3F;
        lineStatus.bytes[3] = 0;
        return 0;
    }

    int Write(const void* buffer, unsigned count) override {
        tx.append(static_cast<const char*>(buffer), count);
        return static_cast<int>(count);
    }

    int ReadByte() override {
        ++readByteCalls;
        if (rx.empty()) {
            return COM_ERR_TIMEOUT;
        }
        const auto byte = static_cast<unsigned char>(rx.front());
        rx.erase(0, 1);
        return byte;
    }

    int Read(void* buffer, unsigned count) override {
        readAsks.push_back(count);
        const std::size_t n = std::min(
            {static_cast<std::size_t>(count), rx.size(), static_cast<std::size_t>(maxPerRead)});
        std::memcpy(buffer, rx.data(), n);
        rx.erase(0, n);
        readGot.push_back(static_cast<unsigned>(n));
        return static_cast<int>(n) + (n > 0 ? extraReported : 0);
    }
};
