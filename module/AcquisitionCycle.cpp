#include "AcquisitionCycle.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "COMLINK.h"
#include "ModuleConnection.h"
#include "ModuleIo.h"
#include "PortLink.h"
#include "Spectrum.h"

namespace {

// Module commands: the axis of the next block ("8", which starts and stops its samples, is
// the drains' StartStopCommand).
constexpr char CommandAxisX = '0';
constexpr char CommandAxisY = '1';

// Entries of a spectrum that one cycle writes.
constexpr int CycleEntries = 64;

}  // namespace

struct AcquisitionCycle::Buffers {
    // The current block in volts; only entries 0..63 are used.
    std::array<double, SampleBlockSize> sampleBlock{};
    // The levels of the latest analysed block; entries the analysis does not write stay 0.0.
    std::array<double, CycleEntries> analysisOutput{};
    // The X levels of the running cycle. They wait here, not in liveX, until the cycle copies
    // both axes into the store: a paint dispatched while the Y block is gathered clears liveX,
    // and the X plot would otherwise show (and latch) zeros for this cycle.
    std::array<double, CycleEntries> pendingX{};
    AveragingState averagingX{};
    AveragingState averagingY{};
    // The running cycle's raw bytes, for the observer.
    CycleBlocks blocks{};
};

AcquisitionCycle::AcquisitionCycle() : buffers_(std::make_unique<Buffers>()) {}

AcquisitionCycle::~AcquisitionCycle() = default;

const AveragingState& AcquisitionCycle::AveragingX() const {
    return buffers_->averagingX;
}
const AveragingState& AcquisitionCycle::AveragingY() const {
    return buffers_->averagingY;
}

void AcquisitionCycle::OnTimer(ModuleHost& host, ModuleConnection& connection, SpectrumStore& store,
                               ModuleClock& clock) {
    if (connection.TerminateRequested()) {
        host.KillTimerAndClose();
        return;
    }
    if (busy_.IsSet()) {
        return;
    }
    bool completed = false;
    {
        const BusyFlag::Hold busy(busy_);
        completed = ReconnectIfPending(host, connection) && connection.Link() != nullptr &&
                    RunCycle(host, connection, store, clock);
    }
    if (completed) {
        host.DefaultProcessing();
    }
}

bool AcquisitionCycle::ReconnectIfPending(ModuleHost& host, ModuleConnection& connection) {
    if (!reconnectPending) {
        return true;
    }
    // The Port Selection dialog may run in here; ticks meanwhile find the flag set. When the
    // user asks to terminate instead, the next tick closes the window.
    if (!connection.Reconnect(host)) {
        return false;
    }
    reconnectPending = false;
    return true;
}

bool AcquisitionCycle::RunCycle(ModuleHost& host, ModuleConnection& connection,
                                SpectrumStore& store, ModuleClock& clock) {
    CComLink& link = *connection.Link();
    char receiveBuffer[ReceiveBufferSize];
    char chunk[ChunkBufferSize];
    Buffers& b = *buffers_;

    clock.Sleep(1);
    if (DrainStoppingStream(link, receiveBuffer, ReceiveBufferSize, clock) ==
        DrainResult::Streaming) {
        Abandon(Outcome::TimedOut, host, connection);
        return false;
    }

    store.sampleCount = BlockSampleCount;
    if (const Outcome x = AcquireAxis(Axis::X, link, host, clock, receiveBuffer, chunk);
        x != Outcome::Complete) {
        Abandon(x, host, connection);
        return false;
    }
    std::copy_n(b.analysisOutput.begin(), CycleEntries, b.pendingX.begin());

    if (const Outcome y = AcquireAxis(Axis::Y, link, host, clock, receiveBuffer, chunk);
        y != Outcome::Complete) {
        if (y == Outcome::TimedOut) {
            // The X spectrum of this cycle stays in liveX; the shown arrays keep the last one's.
            std::copy_n(b.pendingX.begin(), CycleEntries, store.liveX.begin());
        }
        Abandon(y, host, connection);
        return false;
    }
    StoreCycle(store);
    if (observer_ != nullptr) {
        observer_->CycleCompleted(b.blocks);
    }
    host.InvalidateClient();
    if (DrainStoppingStream(link, receiveBuffer, ReceiveBufferSize, clock) ==
        DrainResult::Streaming) {
        Abandon(Outcome::TimedOut, host, connection);
        return false;
    }
    return true;
}

void AcquisitionCycle::StoreCycle(SpectrumStore& store) {
    Buffers& b = *buffers_;
    std::copy_n(b.analysisOutput.begin(), CycleEntries, store.liveY.begin());
    std::copy_n(b.pendingX.begin(), CycleEntries, store.liveX.begin());

    std::copy_n(store.liveY.begin(), CycleEntries, store.shownY.begin());
    std::copy_n(store.liveX.begin(), CycleEntries, store.shownX.begin());
}

void AcquisitionCycle::AnalyseRecordedCycle(const CycleBlocks& blocks, ModuleHost& host,
                                            SpectrumStore& store) {
    Buffers& b = *buffers_;
    store.sampleCount = BlockSampleCount;
    AnalyseBlock(Axis::X, blocks.x.data());
    std::copy_n(b.analysisOutput.begin(), CycleEntries, b.pendingX.begin());
    AnalyseBlock(Axis::Y, blocks.y.data());
    StoreCycle(store);
    host.InvalidateClient();
}

void AcquisitionCycle::AnalyseBlock(Axis axis, const std::uint8_t* bytes) {
    Buffers& b = *buffers_;
    for (int i = 0; i < BlockSampleCount; ++i) {
        b.sampleBlock[i] = bytes[i] * VoltsPerStep;
    }
    const std::span<double> block = std::span(b.sampleBlock).first(BlockSampleCount);
    ApplyWindow(block, BlockSampleCount);
    ComputeSpectrum(block, b.analysisOutput, BlockSampleCount, MovingMean, 0,
                    axis == Axis::X ? b.averagingX : b.averagingY);
}

void AcquisitionCycle::Abandon(Outcome outcome, ModuleHost& host, ModuleConnection& connection) {
    // "8" starts a stream as well as stopping one: a module that was already told to stop gets
    // none when the window closes.
    if (outcome == Outcome::TimedOut || moduleStreaming_) {
        SendCommand(*connection.Link(), StartStopCommand);
    }
    moduleStreaming_ = false;
    if (outcome == Outcome::Closing) {
        // The window has gone: nothing may be shown any more, and the program is about to end.
        connection.TearDown();
    } else {
        host.MessageBox(AcquisitionTimeoutText);
        reconnectPending = true;
    }
}

AcquisitionCycle::Outcome AcquisitionCycle::AcquireAxis(Axis axis, CComLink& link, ModuleHost& host,
                                                        ModuleClock& clock, char* receiveBuffer,
                                                        char* chunk) {
    Buffers& b = *buffers_;

    clock.Sleep(1);
    SendCommand(link, axis == Axis::X ? CommandAxisX : CommandAxisY);
    if (DrainStoppingStream(link, receiveBuffer, ReceiveBufferSize, clock) ==
        DrainResult::Streaming) {
        return Outcome::TimedOut;
    }
    SendCommand(link, StartStopCommand);
    moduleStreaming_ = true;

    if (const Outcome gathered =
            GatherBlock(axis, link, host, clock, receiveBuffer, chunk, BlockSampleCount);
        gathered != Outcome::Complete) {
        return gathered;
    }
    SendCommand(link, StartStopCommand);
    moduleStreaming_ = false;
    const DrainResult tail = DrainStoppingStream(link, chunk, ChunkBufferSize, clock, &host);
    if (host.MainWindowClosing()) {
        return Outcome::Closing;
    }
    if (tail == DrainResult::Streaming) {
        return Outcome::TimedOut;
    }

    auto& raw = axis == Axis::X ? b.blocks.x : b.blocks.y;
    std::memcpy(raw.data(), receiveBuffer, raw.size());
    (axis == Axis::X ? b.blocks.msX : b.blocks.msY) = clock.SteadyMs();
    AnalyseBlock(axis, raw.data());

    if (DrainStoppingStream(link, receiveBuffer, ReceiveBufferSize, clock) ==
        DrainResult::Streaming) {
        return Outcome::TimedOut;
    }
    return Outcome::Complete;
}

AcquisitionCycle::Outcome AcquisitionCycle::GatherBlock(Axis axis, CComLink& link, ModuleHost& host,
                                                        ModuleClock& clock, char* receiveBuffer,
                                                        char* chunk, int sampleCount) {
    // The Y block is paced by two 1 ms pauses per pass; the X block polls the queue and, while
    // it is empty, waits on the line between polls.
    const bool paced = axis == Axis::Y;
    std::time_t deadline = clock.Time() + GatherTimeoutSeconds;
    int received = 0;

    while (received < sampleCount) {
        const std::int64_t pumpStart = clock.SteadyMs();
        host.PumpOneMessage();
        if (host.MainWindowClosing()) {
            return Outcome::Closing;
        }
        if (clock.SteadyMs() - pumpStart >= ModalPumpMs) {
            deadline = clock.Time() + GatherTimeoutSeconds;
        }
        if (paced) {
            clock.Sleep(1);
        }
        // Bytes that are waiting are taken before the clock is looked at: a module that
        // answered while the program was busy elsewhere has not timed out.
        const int waiting = link.RxCount();
        int got = 0;
        if (waiting > 0) {
            // A read the port aborts answers a negative value: nothing was read.
            got = std::max(
                0, link.ReadBlock(chunk, std::min(waiting, MaxChunkRead), DrainReadTimeoutMs));
        }
        if (got > 0) {
            std::memcpy(receiveBuffer + received, chunk, static_cast<std::size_t>(got));
            received += got;
            if (received > ReceiveOverflowLimit) {
                host.MessageBox(axis == Axis::X ? OverflowTextX : OverflowTextY);
                break;
            }
            deadline = clock.Time() + GatherTimeoutSeconds;
        } else if (clock.Time() > deadline) {
            return Outcome::TimedOut;
        } else if (!paced) {
            // Nothing has come: rather than poll again at once, let the port wait on the line
            // for a moment (a millisecond at most); a byte ends the wait as it arrives. An
            // aborted wait is simply over.
            if (CComPort* port = link.Port()) {
                port->Idle();
            }
        }
        if (paced) {
            clock.Sleep(1);
        }
    }
    return Outcome::Complete;
}
