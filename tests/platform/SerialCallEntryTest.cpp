// Every serial call goes through the layer's one entry: a failure armed for a call is reported
// by that very call, and a handle that names no device is refused by every call that takes one.
// The calls come from the layer's own list; the list is checked against WinSerial.h.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <istream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "PtyHarness.h"
#include "SerialSeam.h"
#include "WinSerial.h"

namespace {

constexpr int kCom = 10;
constexpr const char* kName = "\\\\.\\COM10";
// A second terminal, free, for the open.
constexpr int kSpareCom = 12;
constexpr const char* kSpareName = "\\\\.\\COM12";

// No call of the layer reports this error of its own.
constexpr DWORD kArmedError = ERROR_BAD_COMMAND;

HANDLE OpenCom(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

// One way to make each call on an open device, with arguments it would take; answers whether
// the call reported a failure (FALSE, or INVALID_HANDLE_VALUE for the open).
struct Invocation {
    SerialCall call;
    bool (*fails)(HANDLE device);
};

constexpr Invocation kInvocations[] = {
    {SerialCall::CreateFile,
     [](HANDLE) {
         const HANDLE opened = OpenCom(kSpareName);
         if (opened == INVALID_HANDLE_VALUE) {
             return true;
         }
         CloseHandle(opened);
         return false;
     }},
    {SerialCall::CloseHandle, [](HANDLE device) { return !CloseHandle(device); }},
    {SerialCall::SetupComm, [](HANDLE device) { return !SetupComm(device, 4096, 2048); }},
    {SerialCall::GetCommState,
     [](HANDLE device) {
         DCB dcb{};
         return !GetCommState(device, &dcb);
     }},
    {SerialCall::SetCommState,
     [](HANDLE device) {
         DCB dcb{};
         dcb.DCBlength = sizeof dcb;
         dcb.BaudRate = 19200;
         dcb.fBinary = 1;
         dcb.fDtrControl = DTR_CONTROL_ENABLE;
         dcb.fRtsControl = RTS_CONTROL_ENABLE;
         dcb.ByteSize = 8;
         dcb.Parity = NOPARITY;
         dcb.StopBits = ONESTOPBIT;
         dcb.XonChar = 0x11;
         dcb.XoffChar = 0x13;
         return !SetCommState(device, &dcb);
     }},
    {SerialCall::GetCommTimeouts,
     [](HANDLE device) {
         COMMTIMEOUTS timeouts{};
         return !GetCommTimeouts(device, &timeouts);
     }},
    {SerialCall::SetCommTimeouts,
     [](HANDLE device) {
         COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 0};
         return !SetCommTimeouts(device, &timeouts);
     }},
    {SerialCall::GetCommMask,
     [](HANDLE device) {
         DWORD mask = 0;
         return !GetCommMask(device, &mask);
     }},
    {SerialCall::SetCommMask, [](HANDLE device) { return !SetCommMask(device, EV_TXEMPTY); }},
    {SerialCall::WaitCommEvent,
     [](HANDLE device) {
         DWORD events = 0;  // no mask set: a wait that went ahead would end at once
         return !WaitCommEvent(device, &events, nullptr);
     }},
    {SerialCall::EscapeCommFunction,
     [](HANDLE device) { return !EscapeCommFunction(device, SETDTR); }},
    {SerialCall::GetCommModemStatus,
     [](HANDLE device) {
         DWORD status = 0;
         return !GetCommModemStatus(device, &status);
     }},
    {SerialCall::ClearCommError,
     [](HANDLE device) {
         DWORD errors = 0;
         COMSTAT status{};
         return !ClearCommError(device, &errors, &status);
     }},
    {SerialCall::SetCommBreak, [](HANDLE device) { return !SetCommBreak(device); }},
    {SerialCall::ClearCommBreak, [](HANDLE device) { return !ClearCommBreak(device); }},
    {SerialCall::ReadFile,
     [](HANDLE device) {
         char buffer[8];
         DWORD got = 0;
         OVERLAPPED record{};
         return !ReadFile(device, buffer, sizeof buffer, &got, &record);
     }},
    {SerialCall::WriteFile,
     [](HANDLE device) {
         DWORD written = 0;
         OVERLAPPED record{};
         return !WriteFile(device, "x", 1, &written, &record);
     }},
    {SerialCall::GetOverlappedResult,
     [](HANDLE device) {
         OVERLAPPED record{};
         DWORD done = 0;
         return !GetOverlappedResult(device, &record, &done, TRUE);
     }},
    {SerialCall::PurgeComm, [](HANDLE device) { return !PurgeComm(device, PURGE_RXCLEAR); }},
    {SerialCall::TransmitCommChar, [](HANDLE device) { return !TransmitCommChar(device, 'T'); }},
    {SerialCall::WaitForCommInput, [](HANDLE device) { return !WaitForCommInput(device, 0); }},
};

// A call added to the list without a way to make it here stops the build.
constexpr bool EveryCallOnceInItsOrder() {
    for (int i = 0; i < static_cast<int>(std::size(kInvocations)); ++i) {
        if (static_cast<int>(kInvocations[i].call) != i) {
            return false;
        }
    }
    return true;
}
static_assert(std::size(kInvocations) == SERIAL_CALL_COUNT, "a serial call has no invocation");
static_assert(EveryCallOnceInItsOrder(), "invocations out of the list's order");

std::vector<SerialCall> AllCalls() {
    std::vector<SerialCall> calls;
    for (int i = 0; i < SERIAL_CALL_COUNT; ++i) {
        calls.push_back(static_cast<SerialCall>(i));
    }
    return calls;
}

std::vector<SerialCall> CallsOnAHandle() {
    std::vector<SerialCall> calls = AllCalls();
    std::erase(calls, SerialCall::CreateFile);
    return calls;
}

std::string CallName(const ::testing::TestParamInfo<SerialCall>& info) {
    return SerialCallFunction(info.param);
}

class SerialCallEntry : public ::testing::TestWithParam<SerialCall> {
  protected:
    void SetUp() override {
        SerialSeam::Reset();
        ASSERT_TRUE(pty.ok());
        ASSERT_TRUE(spare.ok());
        device = OpenCom(kName);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        closed = OpenCom(kSpareName);
        ASSERT_NE(closed, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(CloseHandle(closed));
        SerialSeam::Reset();
    }
    void TearDown() override {
        SerialSeam::Reset();
        // A refused call changed nothing: a refused CloseHandle left the device open.
        EXPECT_TRUE(CloseHandle(device));
    }

    static const Invocation& Of(SerialCall call) { return kInvocations[static_cast<int>(call)]; }

    PtyPair pty{kCom};
    PtyPair spare{kSpareCom};
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE closed = INVALID_HANDLE_VALUE;
};

TEST_P(SerialCallEntry, ReportsTheFailureArmedForIt) {
    const SerialCall call = GetParam();
    SerialSeam::FailCall(call, kArmedError, 1);
    SetLastError(ERROR_SUCCESS);
    EXPECT_TRUE(Of(call).fails(device));
    EXPECT_EQ(GetLastError(), kArmedError);
    // The call itself took the failure, and made no other call on its way.
    const auto log = SerialSeam::CallLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log.front().first, call);
}

// The calls that take a handle: all but the open.
class SerialCallOnAHandle : public SerialCallEntry {};

TEST_P(SerialCallOnAHandle, RefusesAHandleThatNamesNoDevice) {
    const SerialCall call = GetParam();
    for (HANDLE handle : {closed, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_TRUE(Of(call).fails(handle)) << handle;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << handle;
    }
    EXPECT_EQ(SerialSeam::CallCount(call), 3);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, SerialCallEntry, ::testing::ValuesIn(AllCalls()), CallName);
INSTANTIATE_TEST_SUITE_P(EveryCall, SerialCallOnAHandle, ::testing::ValuesIn(CallsOnAHandle()),
                         CallName);

// The functions WinSerial.h declares, each by its name, and whether it is a serial call: one that
// answers a handle or takes one. Every declaration at the start of a line counts, whatever it
// answers and however many lines it takes; inline helpers and types are passed over.
std::map<std::string, bool> DeclaredFunctions(std::istream& header) {
    std::map<std::string, bool> declared;
    std::string line;
    while (std::getline(header, line)) {
        // An attribute in front ([[nodiscard]]) says nothing of what the function is.
        while (line.starts_with("[[") && line.find("]]") != std::string::npos) {
            line.erase(0, line.find_first_not_of(' ', line.find("]]") + 2));
        }
        if (line.empty() || !std::isalpha(static_cast<unsigned char>(line.front())) ||
            line.find('(') == std::string::npos) {
            continue;
        }
        for (const std::string_view skipped :
             {"inline ", "struct ", "typedef ", "using ", "enum "}) {
            if (line.starts_with(skipped)) {
                line.clear();
            }
        }
        if (line.empty()) {
            continue;
        }
        std::string declaration = line;
        while (declaration.find(')') == std::string::npos && std::getline(header, line)) {
            declaration += " " + line;
        }
        const std::size_t open = declaration.find('(');
        std::size_t nameStart = open;
        while (nameStart > 0 &&
               (std::isalnum(static_cast<unsigned char>(declaration[nameStart - 1])) ||
                declaration[nameStart - 1] == '_')) {
            --nameStart;
        }
        const std::string answer = declaration.substr(0, nameStart);
        const std::string parameters = declaration.substr(open);
        declared[declaration.substr(nameStart, open - nameStart)] =
            answer.find("HANDLE") != std::string::npos ||
            parameters.find("HANDLE") != std::string::npos;
    }
    return declared;
}

// The layer's list of calls is the set of serial calls that WinSerial.h declares, and every other
// function there is one of the few kernel calls that no device is behind.
TEST(SerialCallList, NamesEveryCallThatWinSerialDeclares) {
    std::ifstream header(SORVELL_WINSERIAL_HEADER);
    ASSERT_TRUE(header.is_open()) << SORVELL_WINSERIAL_HEADER;
    const std::set<std::string> noDevice = {"GetLastError", "SetLastError", "Sleep",
                                            "GetTickCount", "wsprintfA",    "GetFocus",
                                            "MessageBoxA"};
    std::set<std::string> serial;
    std::set<std::string> other;
    for (const auto& [name, onADevice] : DeclaredFunctions(header)) {
        (onADevice ? serial : other).insert(name);
    }
    std::set<std::string> listed;
    for (SerialCall call : AllCalls()) {
        listed.insert(SerialCallFunction(call));
    }
    EXPECT_EQ(serial, listed);
    EXPECT_EQ(other, noDevice) << "a function of WinSerial.h that takes no handle";
    EXPECT_EQ(listed.size(), static_cast<std::size_t>(SERIAL_CALL_COUNT));
}

}  // namespace
