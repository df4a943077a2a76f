#include "tools/acquire/capability_reader.h"

#include <cstdio>
#include <cstring>

#include "tools/acquire/twain_client.h"
#include "tools/acquire/twain_names.h"

namespace {

size_t itemSize(TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    default:
        return 0;
    }
}

uint32_t readU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

int64_t readItem(TW_UINT16 type, const uint8_t* p) {
    switch (type) {
    case TWTY_INT8:
        return static_cast<int8_t>(p[0]);
    case TWTY_UINT8:
        return p[0];
    case TWTY_INT16:
        return static_cast<int16_t>(readU16(p));
    case TWTY_UINT16:
    case TWTY_BOOL:
        return readU16(p);
    case TWTY_INT32:
        return static_cast<int32_t>(readU32(p));
    case TWTY_FIX32:  // Whole (signed 16) then Frac (unsigned 16)
        return static_cast<int64_t>(static_cast<int16_t>(readU16(p))) * 65536 + readU16(p + 2);
    default:
        return readU32(p);
    }
}

bool readList(TW_UINT16 type, const uint8_t* block, size_t size, size_t listOffset, uint32_t count,
              CapabilityValues& out, std::string& error) {
    size_t bytes = itemSize(type);
    if (bytes == 0) {
        error = "item type " + std::to_string(type) + " not understood";
        return false;
    }
    if (size < listOffset || count > (size - listOffset) / bytes) {
        error = std::to_string(count) + " items do not fit in a " + std::to_string(size) + "-byte container";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i)
        out.items.push_back(readItem(type, block + listOffset + i * bytes));
    return true;
}

std::string itemText(TW_UINT16 cap, TW_UINT16 type, int64_t value) {
    char text[32];
    if (cap == CAP_SUPPORTEDCAPS)
        return capabilityName(static_cast<TW_UINT16>(value));
    if (type == TWTY_FIX32)
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value) / 65536.0);
    else
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

}  // namespace

bool decodeContainer(TW_UINT16 containerType, const uint8_t* block, size_t size, CapabilityValues& out,
                     std::string& error) {
    out = CapabilityValues{};
    out.containerType = containerType;
    if (!block || size < 2) {
        error = "empty container";
        return false;
    }
    out.itemType = readU16(block);
    switch (containerType) {
    case TWON_ONEVALUE:
        if (size < 6 || itemSize(out.itemType) == 0) {
            error = "one-value container malformed";
            return false;
        }
        out.items.push_back(readItem(out.itemType, block + 2));
        return true;
    case TWON_ARRAY:
        return size >= 6 && readList(out.itemType, block, size, 6, readU32(block + 2), out, error);
    case TWON_ENUMERATION:
        if (size < 14) {
            error = "enumeration container malformed";
            return false;
        }
        out.currentIndex = readU32(block + 6);
        out.defaultIndex = readU32(block + 10);
        return readList(out.itemType, block, size, 14, readU32(block + 2), out, error);
    default:
        error = "container type " + std::to_string(containerType) + " not understood";
        return false;
    }
}

std::string describeValues(TW_UINT16 cap, const CapabilityValues& values) {
    if (values.containerType == TWON_ONEVALUE && values.items.size() == 1)
        return itemText(cap, values.itemType, values.items[0]);
    std::string text = "[";
    for (size_t i = 0; i < values.items.size(); ++i)
        text += (i ? ", " : "") + itemText(cap, values.itemType, values.items[i]);
    text += "]";
    if (values.containerType == TWON_ENUMERATION) {
        auto at = [&](uint32_t i) {
            return i < values.items.size() ? itemText(cap, values.itemType, values.items[i]) : "none";
        };
        text += " (current " + at(values.currentIndex) + ", default " + at(values.defaultIndex) + ")";
    }
    return text;
}

bool readCapability(TwainClient& client, TW_UINT16 cap, TW_UINT16 msg, CapabilityValues& out) {
    TW_CAPABILITY request{cap, TWON_DONTCARE16, nullptr};
    client.sourceCall(DG_CONTROL, DAT_CAPABILITY, msg, &request);
    if (!client.succeeded())
        return false;
    if (!request.hContainer) {
        client.noteFailure(capabilityName(cap) + ": the source returned no container");
        return false;
    }
    std::string error;
    auto* block = static_cast<const uint8_t*>(GlobalLock(request.hContainer));
    bool ok = block && decodeContainer(request.ConType, block, GlobalSize(request.hContainer), out, error);
    if (block)
        GlobalUnlock(request.hContainer);
    GlobalFree(request.hContainer);  // the application owns what the source handed over
    if (!ok)
        client.noteFailure(capabilityName(cap) + ": " + (block ? error : "container cannot be locked"));
    return ok;
}

bool setOneValue(TwainClient& client, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value) {
    HGLOBAL block = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    if (!block) {
        client.noteFailure("no memory for a capability container");
        return false;
    }
    auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(block));
    one->ItemType = itemType;
    one->Item = value;
    GlobalUnlock(block);
    TW_CAPABILITY request{cap, TWON_ONEVALUE, block};
    client.sourceCall(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &request);
    GlobalFree(block);
    return client.succeeded();
}
