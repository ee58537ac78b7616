// The serial port on the Windows serial driver. Every operation works on the port's copy of
// the device control block and hands it to the driver with SetCommState; no operation waits for
// bytes that have not arrived.
#include "Win32Port.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

struct ParityEntry {
    char letter;
    BYTE value;
};

// Searched in this order.
constexpr ParityEntry kParityTable[] = {
    {'N', NOPARITY}, {'O', ODDPARITY}, {'E', EVENPARITY}, {'M', MARKPARITY}, {'S', SPACEPARITY},
};

constexpr DWORD kDefaultBaudRate = 19200;
constexpr WORD kDefaultXoffLimit = 128;
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;

// Longest wait of Idle for the line to bring something: short enough that a waiting loop still
// looks at its clock and its window messages every millisecond.
constexpr DWORD kIdleWaitMs = 1;

// The driver's queue sizes are 16-bit: a larger size asks for the largest there is (masking
// would turn 65536 into 0 and refuse every write).
constexpr std::uint32_t kMaxQueueSize = 0xFFFFu;

std::uint32_t QueueSize(std::uint32_t size) {
    return std::min(size, kMaxQueueSize);
}

// Characters of the status lines are widened as signed values, as the driver's char fields are.
int SignedChar(char c) {
    return static_cast<int>(static_cast<signed char>(c));
}

}  // namespace

CWin32Port::CWin32Port(int index, unsigned rxSize, unsigned txSize, int deferOpen) {
    if (deferOpen != 0) {
        return;
    }
    controlBlock.reset(new (std::nothrow) DCB{});
    readCompletion.reset(new (std::nothrow) OVERLAPPED{});
    writeCompletion.reset(new (std::nothrow) OVERLAPPED{});
    if (!controlBlock || !readCompletion || !writeCompletion) {
        controlBlock.reset();
        readCompletion.reset();
        writeCompletion.reset();
        pendingError = COM_ERR_NO_MEMORY;
        return;
    }
    txQueueSize = QueueSize(txSize);
    rxQueueSize = QueueSize(rxSize);
    pendingError = 0;
    portIndex = index;
    inputFlow = 0;
    outputFlow = 0;
    dtrState = 1;
    rtsState = 1;
    breakState = 0;
    Open(index);
    // DTR and RTS are raised in the port's settings either way. Without a device the calls that
    // raise them fail on no handle; the open's own error stays the last one, so that the owner
    // can tell why the port could not be opened.
    const DWORD openError = GetLastError();
    LineControl(LINE_DTR, 1);
    LineControl(LINE_RTS, 1);
    if (device == INVALID_HANDLE_VALUE) {
        SetLastError(openError);
    }
}

CWin32Port::~CWin32Port() {
    // Only the port that claimed the index has the device: a port refused as already in use
    // must not close the other port's device.
    if (HasRecords() && HoldsPortIndex() && device != INVALID_HANDLE_VALUE) {
        Close();
    }
    readCompletion.reset();
    writeCompletion.reset();
    controlBlock.reset();
}

int CWin32Port::Idle() {
    // Waiting loops call this between polls: rather than give up a time slice and be back at
    // once, wait for the line to bring something, for at most a millisecond, so that a loop that
    // waits for bytes takes them as soon as they arrive without keeping a core busy. A port
    // without a device has nothing to wait on and yields as before.
    if (device == INVALID_HANDLE_VALUE) {
        Sleep(0);
    } else {
        WaitForCommInput(device, kIdleWaitMs);
    }
    return 0;
}

bool CWin32Port::GatherLineErrors(COMSTAT& status) {
    DWORD errors = 0;
    status = COMSTAT{};
    if (!ClearCommError(device, &errors, &status)) {
        status = COMSTAT{};
        return false;
    }
    lineErrors |= errors;
    return true;
}

int CWin32Port::RefreshStatus() {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    COMSTAT status;
    GatherLineErrors(status);
    return 0;
}

void CWin32Port::Open(int) {
    if (!HasRecords() || !IsValidPortIndex(portIndex)) {
        pendingError = COM_ERR_NO_DEVICE;
        return;
    }
    if (PortOpenCount[portIndex] != 0) {
        pendingError = COM_ERR_IN_USE;
        return;
    }
    if (OpenDevice() != 0) {
        return;
    }
    ClaimPortIndex();
    SetupComm(device, rxQueueSize, txQueueSize);
    SetCommMask(device, 0);
    GetCommState(device, controlBlock.get());

    DCB& dcb = *controlBlock;
    dcb.BaudRate = kDefaultBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fNull = 0;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    dcb.XonLim = static_cast<WORD>(rxQueueSize / 4);
    dcb.XoffLim = kDefaultXoffLimit;

    // Reads return at once with whatever has arrived; writes have no time limit.
    COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 0};
    SetCommTimeouts(device, &timeouts);

    if (!SetCommState(device, controlBlock.get())) {
        pendingError = MapSystemError();
    }
}

int CWin32Port::OpenDevice() {
    if (!HasRecords() || !IsValidPortIndex(portIndex)) {
        pendingError = COM_ERR_NO_DEVICE;
        return COM_ERR_NO_DEVICE;
    }
    if (device != INVALID_HANDLE_VALUE) {
        return 0;  // already open: a second handle would leak the first
    }
    char name[32];
    wsprintfA(name, "\\\\.\\COM%d", portIndex + 1);
    HANDLE opened = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return FailWithSystemError();
    }
    device = opened;
    return 0;
}

int CWin32Port::Close() {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    Purge(0, 0);
    Purge(1, 0);
    EscapeCommFunction(device, CLRDTR);
    EscapeCommFunction(device, CLRRTS);
    if (!CloseHandle(device)) {
        pendingError = COM_ERR_CLOSE;
        return COM_ERR_CLOSE;
    }
    device = INVALID_HANDLE_VALUE;
    return 0;
}

BufferStatus* CWin32Port::GetBufferStatus(BufferStatus* status, int) {
    if (status == nullptr) {
        return nullptr;
    }
    *status = BufferStatus{};
    if (!HasRecords()) {
        return status;
    }
    COMSTAT comStat;
    GatherLineErrors(comStat);
    status->rxKnown = 1;
    status->rxCount = static_cast<std::int32_t>(comStat.cbInQue);
    status->rxSize = static_cast<std::int32_t>(rxQueueSize);
    status->txKnown = 1;
    status->txCount = static_cast<std::int32_t>(comStat.cbOutQue);
    status->txSize = static_cast<std::int32_t>(txQueueSize);
    status->flowFlags = 0;
    if (comStat.fCtsHold || comStat.fDsrHold || comStat.fXoffHold) {
        status->flowFlags |= FLOW_BLOCK_RECEIVED;
    }
    if (comStat.fXoffSent) {
        status->flowFlags |= FLOW_BLOCK_SENT;
    }
    return status;
}

int CWin32Port::SetBufferSizes(int rxSize, int xoffLimit, int txSize) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    Purge(0, 0);
    Purge(1, 0);
    if (rxSize != 0) {
        rxQueueSize = QueueSize(static_cast<std::uint32_t>(rxSize));
    }
    if (txSize != 0) {
        txQueueSize = QueueSize(static_cast<std::uint32_t>(txSize));
    }
    controlBlock->XonLim = static_cast<WORD>(std::clamp(rxSize / 4, 0, 0xFFFF));
    if (xoffLimit != 0) {
        controlBlock->XoffLim = static_cast<WORD>(xoffLimit);
    }
    SetupComm(device, rxQueueSize, txQueueSize);
    Purge(0, 0);
    Purge(1, 0);
    if (!SetCommState(device, controlBlock.get())) {
        return FailWithSystemError();
    }
    return 0;
}

int CWin32Port::SetHandshake(int newInputFlow, int newOutputFlow) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    DCB& dcb = *controlBlock;
    dcb.fInX = 0;
    dcb.fOutX = 0;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    }
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    if (const int refused = SelectInputFlow(dcb, newInputFlow); refused != 0) {
        return refused;
    }
    if (const int refused = SelectOutputFlow(dcb, newOutputFlow); refused != 0) {
        return refused;
    }
    if (!SetCommState(device, controlBlock.get())) {
        return FailWithSystemError();
    }
    inputFlow = newInputFlow;
    outputFlow = newOutputFlow;
    return 0;
}

int CWin32Port::SelectInputFlow(DCB& dcb, int flow) {
    switch (flow) {
        case LINE_NONE:
            return 0;
        case LINE_XONXOFF:
            dcb.fInX = 1;
            return 0;
        case LINE_DTR:
            dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            return 0;
        case LINE_RTS:
            dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            return 0;
        case LINE_DSR:
            pendingError = COM_ERR_UNSUPPORTED;
            return COM_ERR_UNSUPPORTED;
        default:
            // The code kept for the owner names the input side; the answer is the general one.
            pendingError = COM_ERR_INPUT_FLOW;
            return COM_ERR_FAILED;
    }
}

int CWin32Port::SelectOutputFlow(DCB& dcb, int flow) {
    switch (flow) {
        case LINE_NONE:
            return 0;
        case LINE_XONXOFF:
            dcb.fOutX = 1;
            return 0;
        case LINE_CTS:
            dcb.fOutxCtsFlow = 1;
            return 0;
        case LINE_DSR:
            dcb.fOutxDsrFlow = 1;
            return 0;
        case LINE_DCD:
            pendingError = COM_ERR_UNSUPPORTED;
            return COM_ERR_UNSUPPORTED;
        default:
            pendingError = COM_ERR_SETTING;
            return COM_ERR_SETTING;
    }
}

int CWin32Port::FailWithSystemError() {
    const int code = MapSystemError();
    pendingError = code;
    return code;
}

int CWin32Port::GetHandshake(int& inputFlowOut, int& outputFlowOut) {
    inputFlowOut = inputFlow;
    outputFlowOut = outputFlow;
    return 0;
}

int CWin32Port::Break(int state) {
    if (state < 0) {
        return breakState;
    }
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    const BOOL done = state == 1 ? SetCommBreak(device) : ClearCommBreak(device);
    if (!done) {
        pendingError = COM_ERR_BREAK;
        return COM_ERR_BREAK;
    }
    breakState = state == 1 ? 1 : 0;  // sending break or not: the state answered back
    return breakState;
}

int CWin32Port::LineControl(int lineCode, int value) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    if (lineCode == LINE_BREAK) {
        return Break(value);
    }
    if (value != -1 && (lineCode == LINE_DTR || lineCode == LINE_RTS)) {
        const bool raise = value != 0;
        if (lineCode == LINE_DTR) {
            dtrState = raise ? 1 : 0;
            controlBlock->fDtrControl = raise ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
            EscapeCommFunction(device, raise ? SETDTR : CLRDTR);
        } else {
            rtsState = raise ? 1 : 0;
            controlBlock->fRtsControl = raise ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
            EscapeCommFunction(device, raise ? SETRTS : CLRRTS);
        }
    }
    switch (lineCode) {
        case LINE_DTR:
            return TestModemLine(1);
        case LINE_RTS:
            return TestModemLine(2);
        case LINE_CTS:
            return TestModemLine(MS_CTS_ON);
        case LINE_DSR:
            return TestModemLine(MS_DSR_ON);
        case LINE_RI:
            return TestModemLine(MS_RING_ON);
        case LINE_DCD:
            return TestModemLine(MS_RLSD_ON);
        case LINE_RESERVED_17:
        case LINE_RESERVED_18:
        case LINE_RESERVED_19:
        case LINE_RESERVED_20:
            return 0;
        case LINE_OVERRUN:
            return (lineErrors & CE_OVERRUN) ? 1 : 0;
        case LINE_PARITY_ERROR:
            return (lineErrors & CE_RXPARITY) ? 1 : 0;
        case LINE_FRAMING_ERROR:
            return (lineErrors & CE_FRAME) ? 1 : 0;
        case LINE_BREAK_DETECTED:
            return (lineErrors & CE_BREAK) ? 1 : 0;
        case LINE_RX_OVERFLOW:
            return (lineErrors & CE_RXOVER) ? 1 : 0;
        default:
            return LINE_STATE_UNKNOWN;
    }
}

int CWin32Port::TestModemLine(int mask) {
    if (mask == 1) {
        return dtrState;
    }
    if (mask == 2) {
        return rtsState;
    }
    if (!HasRecords()) {
        return 0;
    }
    DWORD modemStatus = 0;
    if (!GetCommModemStatus(device, &modemStatus)) {
        modemStatus = 0;  // lines that cannot be read count as off
    }
    return (modemStatus & static_cast<DWORD>(mask)) != 0 ? 1 : 0;
}

int CWin32Port::GetLineStatus(PackedLineStatus* status) {
    if (status == nullptr) {
        return COM_ERR_FAILED;
    }
    *status = PackedLineStatus{};
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    RefreshStatus();
    for (int field = 0; field < 16; ++field) {
        status->SetField(field, LineControl(PackedLineStatus::kFieldCodes[field], -1));
    }
    lineErrors = 0;
    return 0;
}

int CWin32Port::SetLineParameters(long baud, char parity, int dataBits, int stopBits) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    const ParityEntry* entry = nullptr;
    for (const ParityEntry& candidate : kParityTable) {
        if (candidate.letter == parity) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        pendingError = COM_ERR_PARITY;
        return COM_ERR_PARITY;
    }
    DCB& dcb = *controlBlock;
    const DCB before = dcb;
    dcb.Parity = entry->value;
    dcb.BaudRate = static_cast<DWORD>(baud);
    if (dataBits < 4 || dataBits > 8) {
        pendingError = COM_ERR_DATA_BITS;
        return COM_ERR_DATA_BITS;
    }
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    if (stopBits < 1 || stopBits > 2) {
        pendingError = COM_ERR_STOP_BITS;
        return COM_ERR_STOP_BITS;
    }
    if (dataBits == 5) {
        dcb.StopBits = ONE5STOPBITS;
    } else {
        dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    }
    if (!SetCommState(device, controlBlock.get())) {
        // The driver kept the settings in force (a rate it cannot run is refused and put
        // back), so the copy goes back to them too and reports the line as it runs.
        const int code = MapSystemError();
        dcb.BaudRate = before.BaudRate;
        dcb.Parity = before.Parity;
        dcb.ByteSize = before.ByteSize;
        dcb.StopBits = before.StopBits;
        pendingError = code;
        return code;
    }
    return 0;
}

int CWin32Port::GetLineParameters(long& baud, char& parity, int& dataBits, int& stopBits) {
    if (!HasRecords()) {
        baud = 0;
        parity = '\0';
        dataBits = 0;
        stopBits = 0;
        return COM_ERR_NO_DEVICE;
    }
    const DCB& dcb = *controlBlock;
    baud = static_cast<long>(dcb.BaudRate);
    dataBits = dcb.ByteSize;
    stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    parity = '\0';
    for (const ParityEntry& entry : kParityTable) {
        if (entry.value == dcb.Parity) {
            parity = entry.letter;
            break;
        }
    }
    return 0;
}

void CWin32Port::FinishWriteInFlight() {
    if (!HasOverlappedIoCompleted(writeCompletion.get())) {
        DWORD done = 0;
        GetOverlappedResult(device, writeCompletion.get(), &done, TRUE);
    }
}

int CWin32Port::Write(const void* buffer, unsigned count) {
    if (!HasRecords()) {
        pendingError = COM_ERR_NO_DEVICE;
        return 0;
    }
    if (buffer == nullptr && count != 0) {
        pendingError = COM_ERR_FAILED;
        return 0;
    }
    // The completion record of an earlier write may still be in the driver's hands.
    FinishWriteInFlight();

    COMSTAT status;
    GatherLineErrors(status);
    const std::uint32_t room = txQueueSize - status.cbOutQue;
    const std::uint32_t n = room < count ? room : count;

    *writeCompletion = OVERLAPPED{};
    DWORD written = 0;
    int result = 0;
    if (WriteFile(device, buffer, n, &written, writeCompletion.get())) {
        result = static_cast<int>(written);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        result = static_cast<int>(n);
    } else {
        GatherLineErrors(status);
        result = static_cast<int>(written);
    }
    // A short write leaves COM_ERR_TX_FULL for WriteByte to hand back, unless an earlier code
    // is still pending: that one stays and is what WriteByte returns.
    if (static_cast<unsigned>(result) < count) {
        RecordUnlessPending(COM_ERR_TX_FULL);
    }
    return result;
}

int CWin32Port::Read(void* buffer, unsigned count) {
    if (!HasRecords()) {
        pendingError = COM_ERR_NO_DEVICE;
        return 0;
    }
    COMSTAT status;
    if (!GatherLineErrors(status)) {
        // A device that cannot report its queue (hung up, never opened) has failed; that is
        // not the same as a quiet line, so the failure is recorded, without replacing a code
        // still pending (a port whose open failed keeps its own).
        RecordUnlessPending(MapSystemError());
        return 0;
    }
    if (status.cbInQue == 0 || count == 0 || buffer == nullptr) {
        return 0;
    }
    const DWORD n = status.cbInQue < count ? status.cbInQue : count;
    *readCompletion = OVERLAPPED{};
    DWORD got = 0;
    if (!ReadFile(device, buffer, n, &got, readCompletion.get())) {
        if (GetLastError() != ERROR_IO_PENDING) {
            const int code = MapSystemError();
            GatherLineErrors(status);
            RecordUnlessPending(code);
        }
    }
    if (got < n) {
        DWORD finished = 0;
        if (GetOverlappedResult(device, readCompletion.get(), &finished, TRUE)) {
            got = finished;
        }
    }
    return static_cast<int>(got);
}

int CWin32Port::ReadByte() {
    unsigned char byte = 0;
    if (Read(&byte, 1) == 1) {
        return byte;
    }
    return COM_ERR_TIMEOUT;
}

int CWin32Port::WriteByte(unsigned char byte) {
    if (Write(&byte, 1) == 1) {
        return 0;
    }
    return pendingError;
}

int CWin32Port::WriteString(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    return Write(text, static_cast<unsigned>(std::strlen(text)));
}

int CWin32Port::TransmitChar(unsigned char byte) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    return TransmitCommChar(device, static_cast<char>(byte)) ? 0 : COM_ERR_FAILED;
}

int CWin32Port::Purge(int direction, int count) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    if (direction != 0) {
        PurgeComm(device, PURGE_TXCLEAR);
        return 0;
    }
    if (count == 0) {
        PurgeComm(device, PURGE_RXCLEAR);
        return 0;
    }
    // A negative budget is no budget: the loop runs until the queue is empty, and the count
    // is never taken below zero, where it would overflow.
    for (;;) {
        if (ReadByte() == COM_ERR_TIMEOUT) {
            return 0;
        }
        if (count > 0 && --count == 0) {
            return COM_ERR_FAILED;
        }
    }
}

int CWin32Port::DumpStatus(StatusLineSink sink) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    if (sink == nullptr) {
        return COM_ERR_FAILED;
    }
    const DCB& dcb = *controlBlock;
    char line[256];
    wsprintfA(line, "Port type: MS Win32  BaudRate: %-6u  ByteSize: %1d  Parity: %1d",
              static_cast<unsigned>(dcb.BaudRate), static_cast<int>(dcb.ByteSize),
              static_cast<int>(dcb.Parity));
    sink(line);
    wsprintfA(line, "StopBits: %1d  fBinary: %1d  fRtsControl: %1d", static_cast<int>(dcb.StopBits),
              static_cast<int>(dcb.fBinary), static_cast<int>(dcb.fRtsControl));
    sink(line);
    wsprintfA(line,
              "Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: %1d",
              static_cast<int>(dcb.fParity), static_cast<int>(dcb.fOutxCtsFlow),
              static_cast<int>(dcb.fOutxDsrFlow), static_cast<int>(dcb.fDtrControl),
              static_cast<int>(dcb.fOutX), static_cast<int>(dcb.fInX));
    sink(line);
    wsprintfA(line, "Null: %1d  XonChar: %02x  XoffChar: %02x", static_cast<int>(dcb.fNull),
              static_cast<unsigned>(SignedChar(dcb.XonChar)),
              static_cast<unsigned>(SignedChar(dcb.XoffChar)));
    sink(line);
    wsprintfA(line, "XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x",
              static_cast<unsigned>(dcb.XonLim), static_cast<unsigned>(dcb.XoffLim),
              static_cast<unsigned>(SignedChar(dcb.EofChar)),
              static_cast<unsigned>(SignedChar(dcb.EvtChar)));
    sink(line);
    BufferStatus buffers;
    GetBufferStatus(&buffers, 7);
    wsprintfA(line, "RX sz/ct: %5d/%-5d  TX sz/ct: %5d/%-5d  BLOCK SENT:%d  BLOCK RECEIVED:%d",
              buffers.rxSize, buffers.rxCount, buffers.txSize, buffers.txCount,
              buffers.flowFlags & FLOW_BLOCK_SENT, (buffers.flowFlags & FLOW_BLOCK_RECEIVED) >> 1);
    sink(line);
    return 0;
}

int CWin32Port::SetEventChar(char eventChar) {
    if (!HasRecords()) {
        return FALSE;
    }
    GetCommState(device, controlBlock.get());
    controlBlock->EvtChar = eventChar;
    return SetCommState(device, controlBlock.get());
}

int CWin32Port::GetEventMask(DWORD* mask) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    if (mask == nullptr) {
        return COM_ERR_FAILED;
    }
    return GetCommMask(device, mask) ? 0 : MapSystemError();
}

int CWin32Port::SetEventMask(DWORD mask) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    return SetCommMask(device, mask) ? 0 : MapSystemError();
}

int CWin32Port::WaitEvent(DWORD* events) {
    if (!HasRecords()) {
        return COM_ERR_NO_DEVICE;
    }
    if (events == nullptr) {
        return COM_ERR_FAILED;
    }
    return WaitCommEvent(device, events, nullptr) ? 0 : MapSystemError();
}

int CWin32Port::MapSystemError() {
    switch (static_cast<std::int32_t>(GetLastError())) {
        case -1:
        case -3:
        case -10:
            return COM_ERR_NO_DEVICE;
        case -2:
            return COM_ERR_IN_USE;
        case -4:
            return COM_ERR_NO_MEMORY;
        case -5:
            return COM_ERR_SETTING;
        case -11:
            return COM_ERR_DATA_BITS;
        case -12:
            return COM_ERR_BAUD;
        default:
            return COM_ERR_FAILED;
    }
}
