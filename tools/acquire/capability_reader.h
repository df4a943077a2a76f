// Capability containers as the application reads and writes them: decoding a container the
// source returned (bounds-checked against the global block's size) and setting a one-value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "source/twain.h"

class TwainClient;

struct CapabilityValues {
    TW_UINT16 containerType = 0;
    TW_UINT16 itemType = 0;
    std::vector<int64_t> items;  // integer items sign- or zero-extended; FIX32 as value x 65536
    uint32_t currentIndex = 0, defaultIndex = 0;  // enumerations only
};

// Decodes `size` bytes of a container of the given type. False with a reason when the type
// is unknown or the block is shorter than its item count says.
bool decodeContainer(TW_UINT16 containerType, const uint8_t* block, size_t size, CapabilityValues& out,
                     std::string& error);

// "24", "[5, -1] (current 5, default -1)", "[CAP_XFERCOUNT, ICAP_XFERMECH]" ...
std::string describeValues(TW_UINT16 cap, const CapabilityValues& values);

// MSG_GET / MSG_GETCURRENT ... of one capability through the client; the container is freed.
bool readCapability(TwainClient& client, TW_UINT16 cap, TW_UINT16 msg, CapabilityValues& out);

// MSG_SET with a TWON_ONEVALUE container.
bool setOneValue(TwainClient& client, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value);
