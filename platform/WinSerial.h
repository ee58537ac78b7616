// The Windows types, constants and calls that the serial library uses, supplied on POSIX
// terminals. The library includes this header and nothing else of the platform's, so that on
// Windows the same library code compiles against <windows.h> (a WinSerial.h there includes it).
//
// How the serial calls behave on a terminal:
// - "\\\\.\\COMn" opens the device that ComDevicePath(n) names, raw and exclusive (a second
//   open, from this or another process, fails with ERROR_ACCESS_DENIED).
// - Transfers complete at once: a read takes what has arrived, a write hands over what the
//   terminal takes now and reports fewer bytes when it takes less.
// - A hang-up (far end gone) fails ClearCommError, ReadFile and WriteFile with
//   ERROR_DEVICE_NOT_CONNECTED; it is never reported as an empty line.
// - Settings a terminal cannot have fail SetCommState: 4 data bits, one and a half stop bits
//   other than with 5 data bits, DTR/DSR flow control.
// - Devices without modem lines or error counters (pseudo-terminals) fail GetCommModemStatus
//   and EscapeCommFunction and report no line errors; SerialSeam stands in for them in tests.
// - A speed or framing change first lets the bytes already written leave (bounded to 20 ms, as
//   flow control may hold them), then reads the rate back: a driver that put another rate in
//   force fails SetCommState with ERROR_INVALID_PARAMETER and the previous settings stay.
// - Opening asks the driver for low latency (USB adapters otherwise hold received bytes up to
//   16 ms); drivers without the setting ignore it.
// - WaitCommEvent refuses a mask with events that the device cannot show (EV_RXFLAG; modem-line
//   events without readable lines; EV_ERR and EV_BREAK without error counters) rather than wait
//   for ever; a SetCommMask ends a wait in progress with no event.
//
// Threads: the serial calls are for one thread. The program makes every one of them from its
// user-interface thread, the only one that talks to the module, so the layer takes no locks
// rather than half-protect devices that are used after a lock is dropped. The one exception is
// SetCommMask, which another thread may call to end that thread's WaitCommEvent. Handles are
// numbers that are never reused, so a handle kept after CloseHandle fails with
// ERROR_INVALID_HANDLE instead of reaching a device opened later. GetLastError is per thread.
#pragma once

#include <cstdarg>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using HANDLE = void*;
using HWND = void*;
using LPCSTR = const char*;
using LPSTR = char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using UINT = unsigned int;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// CreateFileA
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

// Win32 error codes that the layer reports through GetLastError.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_COMMAND = 22;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;

// Completion status of an overlapped transfer that has not finished yet.
inline constexpr ULONG_PTR STATUS_PENDING = 0x103;

// DCB field values
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// EscapeCommFunction
inline constexpr DWORD SETXOFF = 1;
inline constexpr DWORD SETXON = 2;
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;
inline constexpr DWORD SETBREAK = 8;
inline constexpr DWORD CLRBREAK = 9;

// GetCommModemStatus
inline constexpr DWORD MS_CTS_ON = 0x10;
inline constexpr DWORD MS_DSR_ON = 0x20;
inline constexpr DWORD MS_RING_ON = 0x40;
inline constexpr DWORD MS_RLSD_ON = 0x80;

// ClearCommError
inline constexpr DWORD CE_RXOVER = 0x1;
inline constexpr DWORD CE_OVERRUN = 0x2;
inline constexpr DWORD CE_RXPARITY = 0x4;
inline constexpr DWORD CE_FRAME = 0x8;
inline constexpr DWORD CE_BREAK = 0x10;

// PurgeComm
inline constexpr DWORD PURGE_TXABORT = 0x1;
inline constexpr DWORD PURGE_RXABORT = 0x2;
inline constexpr DWORD PURGE_TXCLEAR = 0x4;
inline constexpr DWORD PURGE_RXCLEAR = 0x8;

// Communication events (SetCommMask, WaitCommEvent)
inline constexpr DWORD EV_RXCHAR = 0x1;
inline constexpr DWORD EV_RXFLAG = 0x2;
inline constexpr DWORD EV_TXEMPTY = 0x4;
inline constexpr DWORD EV_CTS = 0x8;
inline constexpr DWORD EV_DSR = 0x10;
inline constexpr DWORD EV_RLSD = 0x20;
inline constexpr DWORD EV_BREAK = 0x40;
inline constexpr DWORD EV_ERR = 0x80;
inline constexpr DWORD EV_RING = 0x100;

// MessageBoxA
inline constexpr UINT MB_OK = 0x0;
inline constexpr int IDOK = 1;

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
};

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

struct OVERLAPPED {
    ULONG_PTR Internal;  // STATUS_PENDING while the transfer is in flight
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

inline bool HasOverlappedIoCompleted(const OVERLAPPED* record) {
    return record->Internal != STATUS_PENDING;
}

struct SECURITY_ATTRIBUTES;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL SetupComm(HANDLE device, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE device, DCB* dcb);
BOOL SetCommState(HANDLE device, DCB* dcb);
BOOL GetCommTimeouts(HANDLE device, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE device, COMMTIMEOUTS* timeouts);
BOOL GetCommMask(HANDLE device, LPDWORD mask);
BOOL SetCommMask(HANDLE device, DWORD mask);
BOOL WaitCommEvent(HANDLE device, LPDWORD events, LPOVERLAPPED overlapped);
BOOL EscapeCommFunction(HANDLE device, DWORD function);
BOOL GetCommModemStatus(HANDLE device, LPDWORD modemStatus);
BOOL ClearCommError(HANDLE device, LPDWORD errors, COMSTAT* status);
BOOL SetCommBreak(HANDLE device);
BOOL ClearCommBreak(HANDLE device);
BOOL ReadFile(HANDLE device, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE device, LPCVOID buffer, DWORD count, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
BOOL PurgeComm(HANDLE device, DWORD flags);
BOOL TransmitCommChar(HANDLE device, char byte);

// The one call beyond the Windows set: waits until bytes are waiting to be read, the line has
// failed, or timeoutMs has passed, without using the processor meanwhile. Answers TRUE when
// there is something to read (or a failure to find by reading), FALSE when the time ran out or
// the handle is no device. Where Windows would wait on an EV_RXCHAR event, this waits on the
// descriptor.
BOOL WaitForCommInput(HANDLE device, DWORD timeoutMs);

DWORD GetLastError();
void SetLastError(DWORD error);
void Sleep(DWORD milliseconds);
DWORD GetTickCount();

// Formats like sprintf into a buffer of at most 1024 characters, as the Windows call does.
int wsprintfA(LPSTR buffer, LPCSTR format, ...) __attribute__((format(printf, 2, 3)));

HWND GetFocus();
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
