// The 2.x Source Manager (TWAINDSM.DLL) when an application of this process has loaded it.
//
// That manager loads TWAIN_32.DLL itself to catch the notifications of the 1.x sources it
// opens; under Wine its catch does not work, and such a source's DSM_Entry call lands in this
// library instead, for an application that this manager never saw.
//
// None of this arises in the 64-bit build: there this library is TWAINDSM.DLL itself, the
// Working Group's 64-bit manager loads no TWAIN_32.DLL (its catch exists only in its 32-bit
// build), and a 64-bit source reaches whichever manager opened it through the entry point that
// manager handed it (DAT_ENTRYPOINT) or through the TWAINDSM.DLL the application loaded. So
// otherManagerEntry() answers null there, and a stray notification is refused.
#pragma once

#include "source/twain.h"

// TWAINDSM.DLL's DSM_Entry when that library is loaded in this process and is not this one;
// null otherwise.
DSMENTRYPROC otherManagerEntry();
