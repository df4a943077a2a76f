// --cycles N: N whole sessions in one process, each opening the source, enabling it, taking one
// picture (--auto N) and closing it again, with the process's resources printed at the start,
// after the first cycle and at the end, so that a leak per session shows as steady growth.
#pragma once

#include "tools/acquire/options.h"

// Exit status of the first cycle that did not end with a picture, else 0.
int runCycles(const AcquireOptions& options);
