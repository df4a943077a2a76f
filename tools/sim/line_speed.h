// Line speed of a tty in bit/s through termios2 (TCGETS2/TCSETS2). Wine sets serial speeds
// this way, and tcgetattr may then only report BOTHER, so the speed is read back here.
// Kept apart from <termios.h>, whose struct termios clashes with the kernel's.
#pragma once

#include <cstdint>

namespace sim {

// Output speed of the tty of fd; false when the ioctl fails.
bool readLineSpeed(int fd, uint32_t& bitsPerSecond);
// Sets input and output speed to any rate (BOTHER).
bool writeLineSpeed(int fd, uint32_t bitsPerSecond);

}  // namespace sim
