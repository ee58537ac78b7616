// The serial port library's shared interface: the abstract port with its fixed order of
// operations, the error codes, the line codes, the records that operations fill and the
// process-wide table of open port indices.
#pragma once

#include <cstdint>

// Error codes; 0 is success.
inline constexpr int COM_ERR_FAILED = -801;
inline constexpr int COM_ERR_TIMEOUT = -802;
inline constexpr int COM_ERR_UNSUPPORTED = -803;
inline constexpr int COM_ERR_TX_FULL = -805;
inline constexpr int COM_ERR_BREAK = -827;
inline constexpr int COM_ERR_NO_DEVICE = -828;
inline constexpr int COM_ERR_CLOSE = -829;
inline constexpr int COM_ERR_INPUT_FLOW = -830;
inline constexpr int COM_ERR_SETTING = -832;
inline constexpr int COM_ERR_NO_MEMORY = -836;
inline constexpr int COM_ERR_IN_USE = -838;
inline constexpr int COM_ERR_BAUD = -839;
inline constexpr int COM_ERR_PARITY = -840;
inline constexpr int COM_ERR_STOP_BITS = -841;
inline constexpr int COM_ERR_DATA_BITS = -842;

// Serial lines and line conditions; also the flow-control and line query codes.
enum LineCode : int {
    LINE_NONE = 0,
    LINE_XONXOFF = 1,
    LINE_DTR = 3,
    LINE_RTS = 4,
    LINE_BREAK = 7,
    LINE_CTS = 12,
    LINE_DSR = 13,
    LINE_RI = 14,
    LINE_DCD = 15,
    LINE_RESERVED_17 = 17,
    LINE_RESERVED_18 = 18,
    LINE_RESERVED_19 = 19,
    LINE_RESERVED_20 = 20,
    LINE_OVERRUN = 25,
    LINE_PARITY_ERROR = 26,
    LINE_FRAMING_ERROR = 27,
    LINE_BREAK_DETECTED = 28,
    LINE_RX_OVERFLOW = 31,
};

// Answers of a line query.
inline constexpr int LINE_STATE_OFF = 0;
inline constexpr int LINE_STATE_ON = 1;
inline constexpr int LINE_STATE_UNKNOWN = 2;

// Filled by GetBufferStatus.
struct BufferStatus {
    std::int32_t rxKnown;
    std::int32_t rxCount;
    std::int32_t rxSize;
    std::int32_t txKnown;
    std::int32_t txCount;
    std::int32_t txSize;
    std::int32_t flowFlags;  // bit 0: block sent (XOFF sent); bit 1: block received (held)
};

inline constexpr std::int32_t FLOW_BLOCK_SENT = 0x1;
inline constexpr std::int32_t FLOW_BLOCK_RECEIVED = 0x2;

// Filled by GetLineStatus: sixteen 2-bit answers, four to a byte, lowest bits first.
struct PackedLineStatus {
    std::uint8_t bytes[4];

    // The line codes of the sixteen fields, in field order.
    static constexpr int kFieldCodes[16] = {
        LINE_DTR,          LINE_RTS,           LINE_BREAK,
        LINE_DSR,          LINE_CTS,           LINE_RI,
        LINE_DCD,          LINE_RESERVED_20,   LINE_RESERVED_19,
        LINE_RESERVED_17,  LINE_RESERVED_18,   LINE_BREAK_DETECTED,
        LINE_PARITY_ERROR, LINE_FRAMING_ERROR, LINE_RX_OVERFLOW,
        LINE_OVERRUN,
    };

    // The 2-bit answer of field 0..15.
    int Field(int field) const { return (bytes[field / 4] >> (2 * (field % 4))) & 0x3; }
    void SetField(int field, int answer) {
        const int shift = 2 * (field % 4);
        bytes[field / 4] = static_cast<std::uint8_t>((bytes[field / 4] & ~(0x3 << shift)) |
                                                     ((answer & 0x3) << shift));
    }
    // The answer stored for a line code; 2 when the code has no field.
    int ForCode(int lineCode) const {
        for (int field = 0; field < 16; ++field) {
            if (kFieldCodes[field] == lineCode) {
                return Field(field);
            }
        }
        return LINE_STATE_UNKNOWN;
    }
};
static_assert(sizeof(PackedLineStatus) == 4);

// Receives one NUL-terminated status line; its result is not used.
using StatusLineSink = int (*)(const char* line);

// One open counter per port index, all 0 at program start. The program uses the indices of its COM
// range (the COM number less one); indices outside the table name no device.
inline constexpr int PORT_INDEX_COUNT = 256;
extern std::uint16_t PortOpenCount[PORT_INDEX_COUNT];

inline bool IsValidPortIndex(int portIndex) {
    return portIndex >= 0 && portIndex < PORT_INDEX_COUNT;
}

// Shows "Pure Virtual function called @..\CPP_ALL\COMLINK,<line>" in a "Library Error"
// message box and ends the process with status 1.
[[noreturn]] void ReportUnsuppliedOperation(int line);

// A serial port behind a fixed table of operations. Implementations supply every operation;
// one they do not supply stops the program through ReportUnsuppliedOperation.
class CComPort {
  public:
    virtual ~CComPort();  // releases this port's PortOpenCount claim

    virtual int Idle();
    virtual int RefreshStatus();
    virtual void Open(int portIndex);
    virtual int OpenDevice();
    virtual int Close();
    virtual BufferStatus* GetBufferStatus(BufferStatus* status, int parts);
    virtual int SetBufferSizes(int rxSize, int xoffLimit, int txSize);
    virtual int SetHandshake(int inputFlow, int outputFlow);
    virtual int GetHandshake(int& inputFlow, int& outputFlow);
    virtual int Break(int state);
    virtual int LineControl(int lineCode, int value);
    virtual int SetLineParameters(long baud, char parity, int dataBits, int stopBits);
    virtual int GetLineParameters(long& baud, char& parity, int& dataBits, int& stopBits);
    virtual int GetLineStatus(PackedLineStatus* status);
    virtual int WriteByte(unsigned char byte);
    virtual int WriteString(const char* text);
    virtual int Write(const void* buffer, unsigned count);
    virtual int TransmitChar(unsigned char byte);
    virtual int ReadByte();
    virtual int Read(void* buffer, unsigned count);
    virtual int Purge(int direction, int count);
    virtual int DumpStatus(StatusLineSink sink);
    virtual int Reserved1();
    virtual int Reserved2();

    // Returns the recorded error code and clears it.
    int TakePendingError() {
        const int code = pendingError;
        pendingError = 0;
        return code;
    }
    // Returns the recorded error code and leaves it.
    int PendingError() const { return pendingError; }

    int PortIndex() const { return portIndex; }

    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

  protected:
    CComPort() = default;

    // Takes the PortOpenCount claim of portIndex; the destructor gives it back.
    void ClaimPortIndex();
    bool HoldsPortIndex() const { return holdsClaim; }

    std::int32_t portIndex = 0;
    std::int32_t pendingError = 0;

  private:
    // Only the object that incremented the counter decrements it, so a port refused with
    // COM_ERR_IN_USE cannot release the claim of the port that holds the device.
    bool holdsClaim = false;
};
