// Line settings of a terminal through termios2, so that any baud rate can be set. Kept apart
// from the rest of the layer because the kernel's termios2 declarations clash with the C
// library's <termios.h>.
#pragma once

struct TerminalLine {
    unsigned baud = 9600;
    int dataBits = 8;  // 5 to 8
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;
    bool rtsCtsFlow = false;
    bool xonOutput = false;  // honour XON/XOFF received from the far end
    bool xonInput = false;   // send XON/XOFF to hold the far end
    char xonChar = 0x11;
    char xoffChar = 0x13;
};

// Puts the terminal into raw mode (no echo, no line editing, no translation, reads return at
// once) with the given line settings. Returns 0 or an errno value.
int ApplyTerminalLine(int fd, const TerminalLine& line);

// Reads the terminal's present line settings. Returns 0 or an errno value.
int ReadTerminalLine(int fd, TerminalLine& line);

// The output baud rate in force on a terminal; on the master side of a pseudo-terminal this is
// the rate that the slave side set. Returns false when the rate cannot be read.
bool GetTerminalSpeed(int fd, unsigned& baud);
