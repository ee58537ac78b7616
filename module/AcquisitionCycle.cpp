#include "AcquisitionCycle.h"

#include <algorithm>
#include <cstring>

#include "ModuleConnection.h"
#include "ModuleIo.h"
#include "PortLink.h"
#include "Spectrum.h"

namespace {

// Module commands: the axis of the next block, and "8" to start and to stop its samples.
constexpr char CommandAxisX = '0';
constexpr char CommandAxisY = '1';
constexpr char CommandStartStop = '8';

// Entries of a spectrum that one cycle writes.
constexpr int CycleEntries = 64;

void Send(CComLink& link, char byte) {
    link.WriteBytes(&byte, 1);
}

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
    if (acquisitionBusy == 1) {
        return;
    }
    CComLink* link = connection.Link();
    if (link == nullptr) {
        // Start-up leaves a link in place unless the user asked to terminate, so there is
        // nothing to talk to and nothing to show.
        return;
    }

    char receiveBuffer[ReceiveBufferSize];
    char chunk[ChunkBufferSize];
    Buffers& b = *buffers_;

    acquisitionBusy = 1;
    clock.Sleep(1);
    DrainInput(*link, receiveBuffer, ReceiveBufferSize, clock);

    store.sampleCount = BlockSampleCount;
    if (!AcquireAxis(Axis::X, *link, host, clock, receiveBuffer, chunk)) {
        acquisitionBusy = 0;
        return;
    }
    std::copy_n(b.analysisOutput.begin(), CycleEntries, b.pendingX.begin());

    if (!AcquireAxis(Axis::Y, *link, host, clock, receiveBuffer, chunk)) {
        // The X spectrum of this cycle stays in liveX; the shown arrays keep the last cycle's.
        std::copy_n(b.pendingX.begin(), CycleEntries, store.liveX.begin());
        acquisitionBusy = 0;
        return;
    }
    std::copy_n(b.analysisOutput.begin(), CycleEntries, store.liveY.begin());
    std::copy_n(b.pendingX.begin(), CycleEntries, store.liveX.begin());

    std::copy_n(store.liveY.begin(), CycleEntries, store.shownY.begin());
    std::copy_n(store.liveX.begin(), CycleEntries, store.shownX.begin());
    host.InvalidateClient();
    DrainInput(*link, receiveBuffer, ReceiveBufferSize, clock);
    acquisitionBusy = 0;
    host.DefaultProcessing();
}

bool AcquisitionCycle::AcquireAxis(Axis axis, CComLink& link, ModuleHost& host, ModuleClock& clock,
                                   char* receiveBuffer, char* chunk) {
    Buffers& b = *buffers_;

    clock.Sleep(1);
    Send(link, axis == Axis::X ? CommandAxisX : CommandAxisY);
    DrainInput(link, receiveBuffer, ReceiveBufferSize, clock);
    Send(link, CommandStartStop);

    if (GatherBlock(axis, link, host, clock, receiveBuffer, chunk, BlockSampleCount) ==
        Gathered::TimedOut) {
        return false;
    }
    Send(link, CommandStartStop);
    DrainInputPumping(link, chunk, ChunkBufferSize, clock, host);

    for (int i = 0; i < BlockSampleCount; ++i) {
        b.sampleBlock[i] = static_cast<unsigned char>(receiveBuffer[i]) * VoltsPerStep;
    }
    ApplyWindow(b.sampleBlock.data(), BlockSampleCount);
    ComputeSpectrum(b.sampleBlock.data(), b.analysisOutput.data(), BlockSampleCount, MovingMean, 0,
                    axis == Axis::X ? b.averagingX : b.averagingY);

    DrainInput(link, receiveBuffer, ReceiveBufferSize, clock);
    return true;
}

AcquisitionCycle::Gathered AcquisitionCycle::GatherBlock(Axis axis, CComLink& link,
                                                         ModuleHost& host, ModuleClock& clock,
                                                         char* receiveBuffer, char* chunk,
                                                         int sampleCount) {
    // The Y block is paced by two 1 ms pauses per pass; the X block polls without pause.
    const bool paced = axis == Axis::Y;
    std::time_t deadline = clock.Time() + GatherTimeoutSeconds;
    int received = 0;

    while (received < sampleCount) {
        host.PumpOneMessage();
        if (paced) {
            clock.Sleep(1);
        }
        if (clock.Time() > deadline) {
            Send(link, CommandStartStop);
            host.MessageBox(AcquisitionTimeoutText);
            return Gathered::TimedOut;
        }
        const int waiting = link.RxCount();
        if (waiting > 0) {
            // A read the port aborts answers a negative value: nothing was read.
            const int got = std::max(
                0, link.ReadBlock(chunk, std::min(waiting, MaxChunkRead), DrainReadTimeoutMs));
            std::memcpy(receiveBuffer + received, chunk, static_cast<std::size_t>(got));
            received += got;
            if (received > ReceiveOverflowLimit) {
                host.MessageBox(axis == Axis::X ? OverflowTextX : OverflowTextY);
                break;
            }
            deadline = clock.Time() + GatherTimeoutSeconds;
        }
        if (paced) {
            clock.Sleep(1);
        }
    }
    return Gathered::Complete;
}
