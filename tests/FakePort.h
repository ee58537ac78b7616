// The one port fake of the tests: a port whose every answer a test controls, under a real link.
// Bytes the program sends go to `written` (and to onWrite, which may queue an answer); bytes it
// reads come from `rx`. Settings calls are logged in order, and waits can be counted in polls
// of a tick counter that moves only when the port is idle.
#pragma once

#include <algorithm>
#include <cstdint>
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
    void Queue(const std::vector<std::uint8_t>& bytes) { rx.append(bytes.begin(), bytes.end()); }

    std::string rx;       // bytes waiting to be read
    std::string written;  // bytes the port accepted for sending
    std::function<void(std::uint8_t)> onWrite;
    // Called whenever the queue is looked at: lets a far end that streams add bytes.
    std::function<void()> onStatus;
    // When set, the receive count reported instead of the queue's length.
    int reportedRxCount = -1;
    int maxPerRead = 1 << 30;  // most bytes one Read hands over
    int extraReported = 0;     // a faulty port reports this many more bytes than it read
    // What Idle answers; a negative value aborts the link's waits.
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
        status->rxCount = reportedRxCount >= 0 ? reportedRxCount : static_cast<int>(rx.size());
        status->rxSize = 4096;
        status->txKnown = 1;
        status->txSize = 2048;
        return status;
    }
    int SetBufferSizes(int, int, int) override { return 0; }

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
    int Break(int) override { return 0; }
    int LineControl(int, int) override { return 0; }

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
        for (const int code : {LINE_BREAK_DETECTED, LINE_PARITY_ERROR, LINE_FRAMING_ERROR,
                               LINE_RX_OVERFLOW, LINE_OVERRUN}) {
            lineStatus.SetField(FieldOf(code), 0);
        }
        return 0;
    }

    int WriteByte(unsigned char byte) override { return Write(&byte, 1) == 1 ? 0 : COM_ERR_FAILED; }
    int WriteString(const char* text) override {
        return Write(text, static_cast<unsigned>(std::strlen(text)));
    }
    int Write(const void* buffer, unsigned count) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        for (unsigned i = 0; i < count; ++i) {
            written.push_back(static_cast<char>(bytes[i]));
            if (onWrite) {
                onWrite(bytes[i]);
            }
        }
        return static_cast<int>(count);
    }
    int TransmitChar(unsigned char byte) override { return WriteByte(byte); }

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
    int Purge(int, int) override {
        rx.clear();
        return 0;
    }
    int DumpStatus(StatusLineSink) override { return 0; }

  private:
    static int FieldOf(int lineCode) {
        const auto* codes = PackedLineStatus::kFieldCodes;
        return static_cast<int>(std::find(codes, codes + 16, lineCode) - codes);
    }
};
