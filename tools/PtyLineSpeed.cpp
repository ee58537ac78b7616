#include "PtyLineSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool ReadHostLineSpeed(int masterFd, unsigned* baud) {
    struct termios2 tio {};
    if (ioctl(masterFd, TCGETS2, &tio) != 0) {
        return false;
    }
    // The kernel keeps c_ospeed in step with the baud code, for standard and free rates alike.
    *baud = tio.c_ospeed;
    return true;
}
