#include "TermiosLine.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>

// <sys/ioctl.h> would drag in the C library's terminal types, which clash with termios2.
extern "C" int ioctl(int fd, unsigned long request, ...);

namespace {

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

static_assert(sizeof(termios2) <= sizeof(TerminalState::bytes));

}  // namespace

TerminalFlags LineFlags(const TerminalLine& line) {
    TerminalFlags flags;
    flags.cflagMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    flags.iflagMask = IXON | IXOFF | IXANY;
    flags.cflag = SizeFlag(line.dataBits);
    switch (line.parity) {
        case 1:
            flags.cflag |= PARENB | PARODD;
            break;
        case 2:
            flags.cflag |= PARENB;
            break;
        case 3:
            flags.cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            flags.cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (line.twoStopBits) {
        flags.cflag |= CSTOPB;
    }
    if (line.rtsCtsFlow) {
        flags.cflag |= CRTSCTS;
    }
    // Any character restarting held output (IXANY) would let line noise release it.
    if (line.xonOutput) {
        flags.iflag |= IXON;
    }
    if (line.xonInput) {
        flags.iflag |= IXOFF;
    }
    return flags;
}

int ApplyTerminalLine(int fd, const TerminalLine& line, TerminalState* previous) {
    if (line.dataBits < 5 || line.dataBits > 8 || line.parity < 0 || line.parity > 4 ||
        line.baud == 0) {
        return EINVAL;
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    if (previous != nullptr) {
        std::memcpy(previous->bytes, &tio, sizeof tio);
    }
    // Raw: bytes pass unchanged in both directions.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | INPCK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK);
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CLOCAL | CREAD | HUPCL;
    const TerminalFlags flags = LineFlags(line);
    tio.c_cflag = (tio.c_cflag & ~flags.cflagMask) | flags.cflag;
    tio.c_iflag = (tio.c_iflag & ~flags.iflagMask) | flags.iflag;
    tio.c_cc[VSTART] = static_cast<cc_t>(line.xonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(line.xoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = line.baud;
    tio.c_ospeed = line.baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return errno;
    }
    return 0;
}

int RestoreTerminalState(int fd, const TerminalState& state) {
    struct termios2 tio {};
    std::memcpy(&tio, state.bytes, sizeof tio);
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int ReadTerminalLine(int fd, TerminalLine& line) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    line.baud = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    if (!(tio.c_cflag & PARENB)) {
        line.parity = 0;
    } else if (tio.c_cflag & CMSPAR) {
        line.parity = (tio.c_cflag & PARODD) ? 3 : 4;
    } else {
        line.parity = (tio.c_cflag & PARODD) ? 1 : 2;
    }
    line.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    line.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    line.xonOutput = (tio.c_iflag & IXON) != 0;
    line.xonInput = (tio.c_iflag & IXOFF) != 0;
    line.xonChar = static_cast<char>(tio.c_cc[VSTART]);
    line.xoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return 0;
}
