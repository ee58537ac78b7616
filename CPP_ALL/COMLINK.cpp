// The port interface's shared parts: the open counters, the base operations and the reporter
// that stops the program when an implementation lacks an operation.
#include "COMLINK.h"

#include <cstdio>
#include <cstdlib>

#include "WinSerial.h"

std::uint16_t PortOpenCount[PORT_INDEX_COUNT] = {};

namespace {

// Where the base operations live, as the reporter names it.
constexpr const char* kLibrarySource = "..\\CPP_ALL\\COMLINK";

// The line of each base operation's body in the library source, by slot.
constexpr int kLineIdle = 241;
constexpr int kLineRefreshStatus = 243;
constexpr int kLineOpen = 245;
constexpr int kLineOpenDevice = 247;
constexpr int kLineClose = 249;
constexpr int kLineGetBufferStatus = 251;
constexpr int kLineSetBufferSizes = 255;
constexpr int kLineSetHandshake = 257;
constexpr int kLineGetHandshake = 259;
constexpr int kLineBreak = 261;
constexpr int kLineLineControl = 263;
constexpr int kLineSetLineParameters = 265;
constexpr int kLineGetLineParameters = 267;
constexpr int kLineGetLineStatus = 269;
constexpr int kLineWriteByte = 271;
constexpr int kLineWriteString = 273;
constexpr int kLineWrite = 275;
constexpr int kLineTransmitChar = 277;
constexpr int kLineReadByte = 279;
constexpr int kLineRead = 281;
constexpr int kLinePurge = 283;
constexpr int kLineDumpStatus = 285;

}  // namespace

void ReportUnsuppliedOperation(int line) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "Pure Virtual function called @%s,%d\nUnable to continue execution",
                  kLibrarySource, line);
    MessageBoxA(GetFocus(), text, "Library Error", MB_OK);
    std::exit(1);
}

CComPort::~CComPort() {
    if (holdsClaim && IsValidPortIndex(portIndex) && PortOpenCount[portIndex] > 0) {
        --PortOpenCount[portIndex];
    }
}

void CComPort::ClaimPortIndex() {
    if (!holdsClaim && IsValidPortIndex(portIndex)) {
        ++PortOpenCount[portIndex];
        holdsClaim = true;
    }
}

int CComPort::Idle() {
    ReportUnsuppliedOperation(kLineIdle);
}
int CComPort::RefreshStatus() {
    ReportUnsuppliedOperation(kLineRefreshStatus);
}
void CComPort::Open(int) {
    ReportUnsuppliedOperation(kLineOpen);
}
int CComPort::OpenDevice() {
    ReportUnsuppliedOperation(kLineOpenDevice);
}
int CComPort::Close() {
    ReportUnsuppliedOperation(kLineClose);
}
BufferStatus* CComPort::GetBufferStatus(BufferStatus*, int) {
    ReportUnsuppliedOperation(kLineGetBufferStatus);
}
int CComPort::SetBufferSizes(int, int, int) {
    ReportUnsuppliedOperation(kLineSetBufferSizes);
}
int CComPort::SetHandshake(int, int) {
    ReportUnsuppliedOperation(kLineSetHandshake);
}
int CComPort::GetHandshake(int&, int&) {
    ReportUnsuppliedOperation(kLineGetHandshake);
}
int CComPort::Break(int) {
    ReportUnsuppliedOperation(kLineBreak);
}
int CComPort::LineControl(int, int) {
    ReportUnsuppliedOperation(kLineLineControl);
}
int CComPort::SetLineParameters(long, char, int, int) {
    ReportUnsuppliedOperation(kLineSetLineParameters);
}
int CComPort::GetLineParameters(long&, char&, int&, int&) {
    ReportUnsuppliedOperation(kLineGetLineParameters);
}
int CComPort::GetLineStatus(PackedLineStatus*) {
    ReportUnsuppliedOperation(kLineGetLineStatus);
}
int CComPort::WriteByte(unsigned char) {
    ReportUnsuppliedOperation(kLineWriteByte);
}
int CComPort::WriteString(const char*) {
    ReportUnsuppliedOperation(kLineWriteString);
}
int CComPort::Write(const void*, unsigned) {
    ReportUnsuppliedOperation(kLineWrite);
}
int CComPort::TransmitChar(unsigned char) {
    ReportUnsuppliedOperation(kLineTransmitChar);
}
int CComPort::ReadByte() {
    ReportUnsuppliedOperation(kLineReadByte);
}
int CComPort::Read(void*, unsigned) {
    ReportUnsuppliedOperation(kLineRead);
}
int CComPort::Purge(int, int) {
    ReportUnsuppliedOperation(kLinePurge);
}
int CComPort::DumpStatus(StatusLineSink) {
    ReportUnsuppliedOperation(kLineDumpStatus);
}
int CComPort::Reserved1() {
    return COM_ERR_UNSUPPORTED;
}
int CComPort::Reserved2() {
    return COM_ERR_UNSUPPORTED;
}
