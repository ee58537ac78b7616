// The link through which the program talks to a serial port: waits with time limits, blocks
// gathered from pieces, one call that tells whether the port is usable and which line errors
// occurred, and the two snapshots that put a port's settings back as they were found.
//
// Ownership: a link and its snapshots never own the port. The owner of the port destroys, in
// this order, its own CLineSettings (Restore, then destroy), the link, then the port. The link
// holds its own two snapshots by value.
#pragma once

#include <cstdint>
#include <optional>

#include "COMLINK.h"

class CComLink;

// Where timed operations read the millisecond tick counter. The link uses the system's
// counter unless a test hands it another.
class CTickSource {
  public:
    virtual std::uint32_t Now() const = 0;

  protected:
    ~CTickSource() = default;
};

// The system's millisecond tick counter (GetTickCount), shared by every link.
const CTickSource& SystemTicks();

// True once timeoutMs milliseconds have passed since start. The difference of two readings is
// taken modulo 2^32, so the counter's wrap neither ends nor stretches a wait. A limit of 0 or
// less has always passed: one attempt, no waiting.
inline bool TimeLimitPassed(std::uint32_t start, std::uint32_t now, int timeoutMs) {
    return timeoutMs <= 0 ||
           static_cast<std::uint32_t>(now - start) >= static_cast<std::uint32_t>(timeoutMs);
}

// Flag bits of TakeLineErrors.
inline constexpr std::uint16_t LINK_PARITY_ERROR = 0x01;
inline constexpr std::uint16_t LINK_FRAMING_ERROR = 0x02;
inline constexpr std::uint16_t LINK_RX_OVERFLOW = 0x04;
inline constexpr std::uint16_t LINK_OVERRUN = 0x08;
inline constexpr std::uint16_t LINK_BREAK = 0x10;

// Line parameters to apply to a link's port, and those found on it when attached. Not owned by
// the port; its owner calls Restore before deleting it.
class CLineSettings {
  public:
    // link may be null; a non-null link is attached at once, which sets its port to the
    // initial 1200 baud, "N", 8, 1 until Apply is called.
    explicit CLineSettings(CComLink* link);

    // Binds to the link's port, Capture, then Commit; returns Commit's result. A null link (or
    // a link without a port) leaves the object detached and returns COM_ERR_FAILED.
    int Attach(CComLink* link);
    // Reads the port's parameters into the saved fields. COM_ERR_FAILED when detached.
    int Capture();
    // Gives the port the parameters to apply. 0, or COM_ERR_FAILED when detached or when the
    // port refuses them (the port keeps its own, precise code pending).
    int Commit();
    // Stores baud, parity letter ('N', 'O', 'E', 'M', 'S'), data bits and stop bits as the
    // values to apply, then Commit.
    int Apply(long baud, char parity, int dataBits, int stopBits);
    // Applies the saved parameters again. 0 and nothing done when detached.
    int Restore();

    long Baud() const { return baud; }
    char Parity() const { return parity; }
    int DataBits() const { return dataBits; }
    int StopBits() const { return stopBits; }
    long SavedBaud() const { return savedBaud; }
    char SavedParity() const { return savedParity; }
    int SavedDataBits() const { return savedDataBits; }
    int SavedStopBits() const { return savedStopBits; }
    CComPort* Port() const { return port; }

  private:
    long baud = 1200;
    char parity = 'N';
    std::int32_t dataBits = 8;
    std::int32_t stopBits = 1;
    long savedBaud = 1200;
    char savedParity = 'N';
    std::int32_t savedDataBits = 8;
    std::int32_t savedStopBits = 1;
    CComPort* port = nullptr;
};

// Flow-control snapshot and line-status record of a link's port. Not owned by the port; its
// owner calls Restore before deleting it.
class CLineStatus {
  public:
    // Refreshes the line status (clearing the port's gathered line errors) and captures the
    // port's flow-control codes. A null link gives a detached object whose operations return
    // COM_ERR_FAILED.
    explicit CLineStatus(CComLink* link);

    // Takes a fresh line status from the port; returns the port's result.
    int Refresh();
    // Stores both flow-control codes (LineCode), then returns the port's SetHandshake result.
    int SetHandshake(int inputFlow, int outputFlow);
    // Puts the flow-control codes captured at construction back.
    int Restore();

    // The 2-bit answers (0 no, 1 yes, 2 unknown) of the last refreshed status.
    int ParityError() const { return status.ForCode(LINE_PARITY_ERROR); }
    int FramingError() const { return status.ForCode(LINE_FRAMING_ERROR); }
    int RxOverflow() const { return status.ForCode(LINE_RX_OVERFLOW); }
    int Overrun() const { return status.ForCode(LINE_OVERRUN); }
    int BreakDetected() const { return status.ForCode(LINE_BREAK_DETECTED); }

    int SavedInputFlow() const { return savedInputFlow; }
    int SavedOutputFlow() const { return savedOutputFlow; }
    int InputFlow() const { return inputFlow; }
    int OutputFlow() const { return outputFlow; }

  private:
    std::int32_t savedInputFlow = 0;
    std::int32_t savedOutputFlow = 0;
    std::int32_t inputFlow = 0;
    std::int32_t outputFlow = 0;
    PackedLineStatus status{};
    CComPort* port = nullptr;
};

// One port seen through waits with time limits. Built over a healthy port, it puts the port to
// 9600 baud, "N", 8, 1 with no flow control and keeps snapshots that put the port back as found
// when the link is deleted. Built over a port that already carries an error, it takes no
// snapshots, changes nothing, and only hands that error to TakeLineErrors.
class CComLink {
  public:
    // port is not owned and must outlive the link. A null port gives a link that reports
    // COM_ERR_NO_DEVICE from TakeLineErrors and fails every other operation.
    explicit CComLink(CComPort* port);
    // Puts the flow-control codes and then the line parameters found at construction back on
    // the port; leaves the port open.
    virtual ~CComLink();

    // The byte 0 to 255 as soon as one arrives, COM_ERR_TIMEOUT once timeoutMs has passed, or
    // the port's negative Idle result, which ends the wait at once. A byte already waiting is
    // returned even with a limit of 0.
    virtual int ReadByteTimed(int timeoutMs);
    // The port's WriteByte result: 0 when the byte was queued, else the port's pending error.
    virtual int WriteByteTimed(unsigned char byte);
    // Reserved: COM_ERR_UNSUPPORTED.
    virtual int Reserved1();

    // Queues count bytes of buffer; returns how many the port accepted. A null buffer or a
    // count of 0 or less sends nothing and returns 0.
    int WriteBytes(const void* buffer, int count);

    // Reads up to count bytes into buffer, which must hold count + 1 bytes, gathering pieces
    // until count bytes are there or timeoutMs has passed, and stores a NUL after them.
    // Returns the number read (0 to count), or the port's negative Idle result, which ends the
    // wait at once and leaves the buffer unterminated. Bytes already waiting are always taken,
    // even with a limit of 0 or less (then exactly one read is made). A null buffer or a
    // negative count returns 0 and touches nothing.
    int ReadBlock(char* buffer, int count, int timeoutMs);

    // Bytes waiting in the port's receive queue.
    int RxCount();

    // Takes the port's pending error: its code is returned once and flags is 0. With no error
    // pending, returns 0 and sets flags to the line errors seen since the last call:
    // LINK_PARITY_ERROR, LINK_FRAMING_ERROR, LINK_RX_OVERFLOW, LINK_OVERRUN, LINK_BREAK.
    // A link without snapshots reports flags 0 and result 0 once its error has been taken.
    // flags may be null when only the result matters.
    int TakeLineErrors(std::uint16_t* flags);

    // The port that every operation goes to.
    CComPort* Port() const { return port; }

    // Replaces the tick counter of the timed operations; null restores the system's counter.
    // The source must outlive the link or be replaced first.
    void SetTickSource(const CTickSource* source);

    CComLink(const CComLink&) = delete;
    CComLink& operator=(const CComLink&) = delete;

  private:
    CComPort* port;
    // Both present exactly when the link was built over a healthy port.
    std::optional<CLineSettings> lineSettings;
    std::optional<CLineStatus> lineStatus;
    const CTickSource* ticks;
};
