#include "tools/sim/line_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace sim {

bool readLineSpeed(int fd, uint32_t& bitsPerSecond) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    bitsPerSecond = settings.c_ospeed;
    return true;
}

bool writeLineSpeed(int fd, uint32_t bitsPerSecond) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~CBAUD;
    settings.c_cflag |= BOTHER;
    settings.c_cflag &= ~(CBAUD << IBSHIFT);
    settings.c_cflag |= BOTHER << IBSHIFT;
    settings.c_ospeed = bitsPerSecond;
    settings.c_ispeed = bitsPerSecond;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

}  // namespace sim
