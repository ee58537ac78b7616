// The serial calls of the layer, listed once. Every one of them enters through the layer's one
// checked entry (the test seam, the handle, the last error), and the test seam names them by
// this list; the serial-call tests go through the whole list, so a call added here is checked
// with the others, and one declared in WinSerial.h but missing here is reported.
#pragma once

// X(seam name, function name), in the order of WinSerial.h.
#define SORVELL_SERIAL_CALLS(X)                 \
    X(CreateFile, CreateFileA)                  \
    X(CloseHandle, CloseHandle)                 \
    X(SetupComm, SetupComm)                     \
    X(GetCommState, GetCommState)               \
    X(SetCommState, SetCommState)               \
    X(GetCommTimeouts, GetCommTimeouts)         \
    X(SetCommTimeouts, SetCommTimeouts)         \
    X(GetCommMask, GetCommMask)                 \
    X(SetCommMask, SetCommMask)                 \
    X(WaitCommEvent, WaitCommEvent)             \
    X(EscapeCommFunction, EscapeCommFunction)   \
    X(GetCommModemStatus, GetCommModemStatus)   \
    X(ClearCommError, ClearCommError)           \
    X(SetCommBreak, SetCommBreak)               \
    X(ClearCommBreak, ClearCommBreak)           \
    X(ReadFile, ReadFile)                       \
    X(WriteFile, WriteFile)                     \
    X(GetOverlappedResult, GetOverlappedResult) \
    X(PurgeComm, PurgeComm)                     \
    X(TransmitCommChar, TransmitCommChar)       \
    X(WaitForCommInput, WaitForCommInput)

enum class SerialCall {
#define SORVELL_SERIAL_CALL_ENUM(seamName, functionName) seamName,
    SORVELL_SERIAL_CALLS(SORVELL_SERIAL_CALL_ENUM)
#undef SORVELL_SERIAL_CALL_ENUM
};

inline constexpr int SERIAL_CALL_COUNT = 0
#define SORVELL_SERIAL_CALL_COUNT(seamName, functionName) +1
    SORVELL_SERIAL_CALLS(SORVELL_SERIAL_CALL_COUNT)
#undef SORVELL_SERIAL_CALL_COUNT
    ;

// The name of the function that makes the call ("CreateFileA" for SerialCall::CreateFile).
constexpr const char* SerialCallFunction(SerialCall call) {
    switch (call) {
#define SORVELL_SERIAL_CALL_NAME(seamName, functionName) \
    case SerialCall::seamName:                           \
        return #functionName;
        SORVELL_SERIAL_CALLS(SORVELL_SERIAL_CALL_NAME)
#undef SORVELL_SERIAL_CALL_NAME
    }
    return "";
}
