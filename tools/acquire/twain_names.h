// Names of TWAIN constants for the application's messages ("DG_CONTROL / DAT_CAPABILITY /
// MSG_SET"), with the number in hex when a value has no name here.
#pragma once

#include <string>

#include "source/twain.h"

std::string tripletName(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg);
std::string returnCodeName(TW_UINT16 rc);
std::string conditionCodeName(TW_UINT16 cc);
std::string capabilityName(TW_UINT16 cap);

// A TWAIN string field (TW_STR32 ...) read within its fixed size: a manager or source may leave
// one without its terminating zero. Control characters show as '?'.
std::string twainText(const char* field, size_t size);
template <size_t Size>
std::string twainText(const char (&field)[Size]) {
    return twainText(field, Size);
}
