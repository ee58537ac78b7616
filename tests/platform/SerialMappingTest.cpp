// The mappings that only real serial devices reach (error counters, modem lines, character
// format and flow control), checked against tables written from the Windows constants.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <string>

#include "SerialMapping.h"

namespace {

TEST(SerialMapping, EachErrorCounterThatMovesGivesItsOwnErrorBitOnce) {
    struct Row {
        unsigned ErrorCounters::*counter;
        DWORD error;
        DWORD event;
    };
    const Row table[] = {
        {&ErrorCounters::bufOverrun, 0x1 /* CE_RXOVER */, 0},
        {&ErrorCounters::overrun, 0x2 /* CE_OVERRUN */, 0x80 /* EV_ERR */},
        {&ErrorCounters::parity, 0x4 /* CE_RXPARITY */, 0x80},
        {&ErrorCounters::frame, 0x8 /* CE_FRAME */, 0x80},
        {&ErrorCounters::brk, 0x10 /* CE_BREAK */, 0x40 /* EV_BREAK */},
    };
    const ErrorCounters was{7, 7, 7, 7, 7};
    EXPECT_EQ(CommErrorsFromCounters(was, was), 0u);
    EXPECT_EQ(CommEventsFromCounters(was, was), 0u);
    ErrorCounters all = was;
    DWORD allErrors = 0;
    for (const Row& row : table) {
        ErrorCounters now = was;
        now.*row.counter += 3;  // several errors since the last look are still one bit
        EXPECT_EQ(CommErrorsFromCounters(was, now), row.error) << row.error;
        EXPECT_EQ(CommEventsFromCounters(was, now), row.event) << row.error;
        all.*row.counter += 1;
        allErrors |= row.error;
    }
    EXPECT_EQ(CommErrorsFromCounters(was, all), allErrors);
    EXPECT_EQ(CommEventsFromCounters(was, all), 0xC0u);
    // Counters wrap; a wrapped counter has still moved.
    ErrorCounters high{};
    high.frame = 0xFFFFFFFFu;
    EXPECT_EQ(CommErrorsFromCounters(high, ErrorCounters{}), 0x8u);
}

TEST(SerialMapping, InputLinesBecomeModemStatusBitsAndOutputLinesDoNot) {
    const std::pair<int, DWORD> table[] = {
        {TIOCM_CTS, 0x10 /* MS_CTS_ON */},
        {TIOCM_DSR, 0x20 /* MS_DSR_ON */},
        {TIOCM_RNG, 0x40 /* MS_RING_ON */},
        {TIOCM_CAR, 0x80 /* MS_RLSD_ON */},
        {TIOCM_DTR, 0},
        {TIOCM_RTS, 0},
        {0, 0},
    };
    for (const auto& [lines, status] : table) {
        EXPECT_EQ(ModemStatusFromLines(lines), status) << lines;
    }
    EXPECT_EQ(ModemStatusFromLines(TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR | TIOCM_DTR),
              0xF0u);
}

// The termios flags that a control block asks for.
TerminalFlags FlagsOf(const DCB& dcb) {
    TerminalLine line;
    DWORD error = 0;
    EXPECT_TRUE(TerminalLineFromDcb(dcb, line, error));
    return LineFlags(line);
}

DCB Block(BYTE byteSize, BYTE parity, BYTE stopBits) {
    DCB dcb{};
    dcb.BaudRate = 9600;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fDtrControl = 1;  // DTR_CONTROL_ENABLE
    dcb.fRtsControl = 1;  // RTS_CONTROL_ENABLE
    return dcb;
}

TEST(SerialMapping, EveryParityDataSizeAndStopBitsChoiceHasItsTermiosFlags) {
    const std::pair<BYTE, unsigned> parities[] = {
        {0 /* NOPARITY */, 0},
        {1 /* ODDPARITY */, PARENB | PARODD},
        {2 /* EVENPARITY */, PARENB},
        {3 /* MARKPARITY */, PARENB | PARODD | CMSPAR},
        {4 /* SPACEPARITY */, PARENB | CMSPAR},
    };
    for (const auto& [parity, flags] : parities) {
        const TerminalFlags got = FlagsOf(Block(8, parity, 0));
        EXPECT_EQ(got.cflag & (PARENB | PARODD | CMSPAR), flags) << int(parity);
        EXPECT_EQ(got.cflagMask & (PARENB | PARODD | CMSPAR), PARENB | PARODD | CMSPAR);
    }
    const std::pair<BYTE, unsigned> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& [size, flag] : sizes) {
        EXPECT_EQ(FlagsOf(Block(size, 0, 0)).cflag & CSIZE, flag) << int(size);
    }
    EXPECT_EQ(FlagsOf(Block(8, 0, 0 /* ONESTOPBIT */)).cflag & CSTOPB, 0u);
    EXPECT_EQ(FlagsOf(Block(8, 0, 2 /* TWOSTOPBITS */)).cflag & CSTOPB, unsigned(CSTOPB));
    EXPECT_EQ(FlagsOf(Block(5, 0, 1 /* ONE5STOPBITS */)).cflag & CSTOPB, unsigned(CSTOPB));
}

TEST(SerialMapping, EveryFlowControlChoiceHasItsTermiosFlags) {
    struct Row {
        const char* what;
        void (*set)(DCB&);
        unsigned cflag;
        unsigned iflag;
    };
    const Row table[] = {
        {"none", [](DCB&) {}, 0, 0},
        {"CTS output flow", [](DCB& d) { d.fOutxCtsFlow = 1; }, CRTSCTS, 0},
        {"RTS handshake",
         [](DCB& d) {
             d.fRtsControl = 2; /* RTS_CONTROL_HANDSHAKE */
         },
         CRTSCTS, 0},
        {"XON/XOFF output", [](DCB& d) { d.fOutX = 1; }, 0, IXON},
        {"XON/XOFF input", [](DCB& d) { d.fInX = 1; }, 0, IXOFF},
        {"XON/XOFF both", [](DCB& d) { d.fOutX = d.fInX = 1; }, 0, IXON | IXOFF},
    };
    for (const Row& row : table) {
        DCB dcb = Block(8, 0, 0);
        row.set(dcb);
        const TerminalFlags got = FlagsOf(dcb);
        EXPECT_EQ(got.cflag & CRTSCTS, row.cflag) << row.what;
        EXPECT_EQ(got.iflag, row.iflag) << row.what;  // never IXANY
        EXPECT_EQ(got.iflagMask, unsigned(IXON | IXOFF | IXANY)) << row.what;
        EXPECT_EQ(got.cflagMask & CRTSCTS, unsigned(CRTSCTS)) << row.what;
    }
}

TEST(SerialMapping, BlocksNoTerminalCanHaveAreRefusedWithTheirError) {
    struct Row {
        const char* what;
        void (*set)(DCB&);
        DWORD error;
    };
    const Row table[] = {
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }, ERROR_INVALID_PARAMETER},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }, ERROR_INVALID_PARAMETER},
        {"1.5 stop bits with 8", [](DCB& d) { d.StopBits = 1; }, ERROR_INVALID_PARAMETER},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }, ERROR_INVALID_PARAMETER},
        {"parity 5", [](DCB& d) { d.Parity = 5; }, ERROR_INVALID_PARAMETER},
        {"speed 0", [](DCB& d) { d.BaudRate = 0; }, ERROR_INVALID_PARAMETER},
        {"DSR output flow", [](DCB& d) { d.fOutxDsrFlow = 1; }, ERROR_NOT_SUPPORTED},
        {"DTR handshake", [](DCB& d) { d.fDtrControl = 2; }, ERROR_NOT_SUPPORTED},
    };
    for (const Row& row : table) {
        DCB dcb = Block(8, 0, 0);
        row.set(dcb);
        TerminalLine line;
        DWORD error = 0;
        EXPECT_FALSE(TerminalLineFromDcb(dcb, line, error)) << row.what;
        EXPECT_EQ(error, row.error) << row.what;
    }
}

TEST(SerialMapping, OnlyEventsTheDeviceCanShowAreDetectable) {
    const DWORD always = 0x1 /* EV_RXCHAR */ | 0x4 /* EV_TXEMPTY */;
    const DWORD lines = 0x8 /* EV_CTS */ | 0x10 /* EV_DSR */ | 0x20 /* EV_RLSD */ | 0x100;  // RING
    const DWORD errors = 0x40 /* EV_BREAK */ | 0x80 /* EV_ERR */;
    EXPECT_EQ(DetectableEvents(false, false), always);
    EXPECT_EQ(DetectableEvents(true, false), always | lines);
    EXPECT_EQ(DetectableEvents(false, true), always | errors);
    EXPECT_EQ(DetectableEvents(true, true), always | lines | errors);
    EXPECT_EQ(DetectableEvents(true, true) & 0x2u /* EV_RXFLAG */, 0u);
}

}  // namespace
