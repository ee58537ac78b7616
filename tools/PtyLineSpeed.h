#pragma once

// The one place of the simulator that needs the kernel's termios2 interface, which cannot share a
// translation unit with <termios.h>. Everything else talks to the pseudo-terminal through POSIX.

// Reads the line speed (bits per second) that the host last set on the slave side, through the
// master side, which sees the slave's settings. Returns false and leaves errno set on failure.
bool ReadHostLineSpeed(int masterFd, unsigned* baud);
