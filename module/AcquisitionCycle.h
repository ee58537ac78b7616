#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "ModuleHost.h"
#include "SpectrumStore.h"

class CComLink;
class ModuleConnection;
struct AveragingState;

// A cycle starts at most this often: the period of the window's timer, and the pace at which
// sorvell-check ticks the cycle as that timer would.
inline constexpr int AcquisitionPeriodMs = 50;
// Samples per block that the module is asked for.
inline constexpr int BlockSampleCount = 64;
// Volts per sample step: the double nearest to 3.1 / 255, so 255 is 3.1 V.
inline constexpr double VoltsPerStep = 0.01215686274509804;
// Capacity of the sample block (only the first 64 entries are used).
inline constexpr int SampleBlockSize = 9000;
// Size of the buffer one block's bytes are gathered into, and the count above which gathering
// stops with an overflow message.
inline constexpr int ReceiveBufferSize = 6000;
inline constexpr int ReceiveOverflowLimit = 5000;
// Largest single read while gathering, and the chunk buffer it goes into (one more for the
// terminating zero the read stores).
inline constexpr int MaxChunkRead = 40;
inline constexpr int ChunkBufferSize = MaxChunkRead + 1;
// Seconds without a read after which a block times out (strictly greater, whole seconds).
inline constexpr int GatherTimeoutSeconds = 2;
// A pump that took this long ran a modal loop (the About box, a message box of the dialog):
// the module cannot be blamed for that time, so its answer window starts again afterwards.
inline constexpr std::int64_t ModalPumpMs = 200;

inline constexpr const char* AcquisitionTimeoutText = "Acquisition timeout. Click OK to continue.";
inline constexpr const char* OverflowTextX = "Array overflow error 1.";
inline constexpr const char* OverflowTextY = "Array overflow error 2.";

// The module's raw bytes of a cycle that completed, in the order received, and the steady time
// (ModuleClock::SteadyMs) at which each block was complete.
struct CycleBlocks {
    std::array<std::uint8_t, BlockSampleCount> x{};
    std::array<std::uint8_t, BlockSampleCount> y{};
    std::int64_t msX = 0;
    std::int64_t msY = 0;
};

// Told of every cycle that completes, just before the window is invalidated for it (a recording
// keeps what the module sent). A cycle that timed out or was abandoned is not reported.
class CycleObserver {
  public:
    virtual ~CycleObserver() = default;
    virtual void CycleCompleted(const CycleBlocks& blocks) = 0;
};

// One acquisition cycle per timer tick: asks the module for a block of the X axis and one of
// the Y axis, turns each into a spectrum and puts both into the store. Everything it works on
// lives as long as this object; a tick allocates nothing.
class AcquisitionCycle {
  public:
    AcquisitionCycle();
    ~AcquisitionCycle();

    AcquisitionCycle(const AcquisitionCycle&) = delete;
    AcquisitionCycle& operator=(const AcquisitionCycle&) = delete;

    // One timer tick: the terminate request, or one cycle of both axes (nothing while a cycle
    // is already running further up the stack).
    void OnTimer(ModuleHost& host, ModuleConnection& connection, SpectrumStore& store,
                 ModuleClock& clock);

    // Whether a cycle is running (also while its message boxes are open).
    bool Busy() const { return busy_.IsSet(); }

    // Set by a timeout: the module stopped answering, so the next tick connects afresh before
    // it asks for samples.
    bool reconnectPending = false;

    // The observer told of each completed cycle (none by default); it must outlive the cycle
    // or be taken away first.
    void SetObserver(CycleObserver* observer) { observer_ = observer; }

    // A cycle of blocks that the module sent earlier (a recording): the same conversion,
    // analysis, averaging and store as a live cycle, then the window is invalidated.
    void AnalyseRecordedCycle(const CycleBlocks& blocks, ModuleHost& host, SpectrumStore& store);

    const AveragingState& AveragingX() const;
    const AveragingState& AveragingY() const;

  private:
    enum class Axis { X, Y };
    // How one axis (or the gathering of its block) ended: with its samples, with the module
    // silent or streaming out of step (the timeout path), or with the main window closing.
    enum class Outcome { Complete, TimedOut, Closing };

    // Everything a cycle works on; one heap block made once, at construction.
    struct Buffers;

    // Set for as long as a cycle runs (message boxes and the Port Selection dialog included), so
    // that a tick dispatched meanwhile returns at once. Only a Hold writes it, and a Hold clears
    // it again on every way out of the cycle, so outside a cycle it is always clear.
    class BusyFlag {
      public:
        class Hold {
          public:
            explicit Hold(BusyFlag& flag) : flag_(flag) { flag_.set_ = true; }
            ~Hold() { flag_.set_ = false; }
            Hold(const Hold&) = delete;
            Hold& operator=(const Hold&) = delete;

          private:
            BusyFlag& flag_;
        };
        bool IsSet() const { return set_; }

      private:
        bool set_ = false;
    };

    // Connects afresh when a timeout asked for it; false when that failed.
    bool ReconnectIfPending(ModuleHost& host, ModuleConnection& connection);
    // The cycle of both axes over a link that is up; true when both spectra reached the store.
    bool RunCycle(ModuleHost& host, ModuleConnection& connection, SpectrumStore& store,
                  ModuleClock& clock);
    // One axis: command, gathering, conversion, analysis. Leaves the levels in analysisOutput.
    Outcome AcquireAxis(Axis axis, CComLink& link, ModuleHost& host, ModuleClock& clock,
                        char* receiveBuffer, char* chunk);
    Outcome GatherBlock(Axis axis, CComLink& link, ModuleHost& host, ModuleClock& clock,
                        char* receiveBuffer, char* chunk, int sampleCount);
    // Bytes to volts, window and spectrum with the axis's averaging; the levels go to
    // analysisOutput.
    void AnalyseBlock(Axis axis, const std::uint8_t* bytes);
    // Both axes' levels into the store, as the plots take them at the next paint.
    void StoreCycle(SpectrumStore& store);
    // Ends a cycle that did not complete: after a timeout "8", the message and a reconnection at
    // the next tick; when the window is closing "8" and the connection released, no message.
    void Abandon(Outcome outcome, ModuleHost& host, ModuleConnection& connection);

    std::unique_ptr<Buffers> buffers_;
    BusyFlag busy_;
    // Whether the module was asked for a block and not yet told to stop.
    bool moduleStreaming_ = false;
    CycleObserver* observer_ = nullptr;
};
