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

namespace {

// The classic speed code of a standard rate, so that plain tcgetattr readers see it too;
// BOTHER (speed in c_ospeed) for any other rate.
unsigned int speedCode(uint32_t bitsPerSecond) {
    struct Entry { uint32_t rate; unsigned int code; };
    static const Entry table[] = {{300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},
                                  {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
                                  {57600, B57600}, {115200, B115200}};
    for (const Entry& entry : table) {
        if (entry.rate == bitsPerSecond) return entry.code;
    }
    return BOTHER;
}

}  // namespace

bool writeLineSpeed(int fd, uint32_t bitsPerSecond) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    const unsigned int code = speedCode(bitsPerSecond);
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= code;
    settings.c_ospeed = bitsPerSecond;
    settings.c_ispeed = bitsPerSecond;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

}  // namespace sim
