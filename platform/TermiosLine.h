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

// The character-format and flow-control flags that a line setting asks of the terminal: the
// bits of c_cflag and c_iflag under their masks. Raw-mode and speed bits are not among them.
struct TerminalFlags {
    unsigned cflag = 0;
    unsigned cflagMask = 0;
    unsigned iflag = 0;
    unsigned iflagMask = 0;
};
TerminalFlags LineFlags(const TerminalLine& line);

// The whole terminal state as the driver holds it, to put back a change that the driver did not
// take as asked.
struct TerminalState {
    alignas(8) unsigned char bytes[64];
};

// Puts the terminal into raw mode (no echo, no line editing, no translation, reads return at
// once) with the given line settings. When `previous` is given it receives the state before the
// change. Returns 0 or an errno value.
int ApplyTerminalLine(int fd, const TerminalLine& line, TerminalState* previous = nullptr);

// Puts back a state saved by ApplyTerminalLine. Returns 0 or an errno value.
int RestoreTerminalState(int fd, const TerminalState& state);

// Reads the terminal's present line settings. Returns 0 or an errno value.
int ReadTerminalLine(int fd, TerminalLine& line);
