// The 2.x Source Manager (TWAINDSM.DLL) when an application of this process has loaded it.
//
// That manager loads TWAIN_32.DLL itself to catch the notifications of the 1.x sources it
// opens; under Wine its catch does not work, and such a source's DSM_Entry call lands in this
// library instead, for an application that this manager never saw.
#pragma once

#include "source/twain.h"

// TWAINDSM.DLL's DSM_Entry when that library is loaded in this process and is not this one;
// null otherwise.
DSMENTRYPROC otherManagerEntry();
