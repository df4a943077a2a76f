// DG_CONTROL / DAT_CAPABILITY: the capabilities of a fixed 24-bit RGB, uncompressed camera
// output, four of them negotiable (transfer count, mechanism, units, pixel type).
//
// Containers handed to the application come from allocContainer and become the
// application's to free. Containers the application passes with MSG_SET are read only, and
// only within the size of their global block, since they are the application's memory.
#include <cstring>

#include "source/source_session.h"

namespace {

// CAP_SUPPORTEDCAPS lists these, in this order (itself not included).
constexpr TW_UINT16 supportedCaps[] = {
    CAP_DEVICEONLINE, CAP_UICONTROLLABLE, CAP_XFERCOUNT,     ICAP_XFERMECH,   ICAP_UNITS,
    ICAP_PHYSICALHEIGHT, ICAP_PHYSICALWIDTH, ICAP_PLANARCHUNKY, ICAP_PIXELFLAVOR, ICAP_COMPRESSION,
    ICAP_BITDEPTH,    ICAP_BITORDER,      ICAP_PIXELTYPE,
};
constexpr TW_UINT32 supportedCapCount = sizeof(supportedCaps) / sizeof(supportedCaps[0]);

// The picture size the physical-size capabilities report, in pixels.
constexpr TW_INT16 cameraWidth = 1152;
constexpr TW_INT16 cameraHeight = 872;

bool isQuery(TW_UINT16 msg) {
    return msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT;
}

TW_UINT32 fix32Item(TW_INT16 whole) {
    TW_FIX32 value{whole, 0};
    TW_UINT32 item = 0;
    std::memcpy(&item, &value, sizeof value);
    return item;
}

// Reads a 16-bit value at offset of a locked block of size bytes.
bool read16(const uint8_t* block, SIZE_T size, SIZE_T offset, TW_UINT16& value) {
    if (size < 2 || offset > size - 2) return false;
    std::memcpy(&value, block + offset, 2);
    return true;
}

bool read32(const uint8_t* block, SIZE_T size, SIZE_T offset, TW_UINT32& value) {
    if (size < 4 || offset > size - 4) return false;
    std::memcpy(&value, block + offset, 4);
    return true;
}

}  // namespace

TW_UINT16 SourceSession::capability() {
    auto* cap = static_cast<TW_CAPABILITY*>(currentCall->data);
    if (!cap) return fail(TWCC_BADVALUE);
    switch (cap->Cap) {
    case CAP_SUPPORTEDCAPS:
    case CAP_DEVICEONLINE:
    case CAP_UICONTROLLABLE:
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT:
        return readOnlyCapability(*cap);
    case ICAP_COMPRESSION:
        return fixedCapability(*cap, TWCP_NONE);
    case ICAP_PIXELFLAVOR:
        return fixedCapability(*cap, TWPF_CHOCOLATE);
    case ICAP_PLANARCHUNKY:
        return fixedCapability(*cap, TWPC_CHUNKY);
    case ICAP_BITDEPTH:
        return fixedCapability(*cap, 24);
    case ICAP_BITORDER:
        return fixedCapability(*cap, TWBO_MSBFIRST);
    case CAP_XFERCOUNT:
        return negotiableCapability(*cap, xferCount, TWTY_INT16);
    case ICAP_XFERMECH:
        return negotiableCapability(*cap, xferMech, TWTY_UINT16);
    case ICAP_UNITS:
        return negotiableCapability(*cap, units, TWTY_UINT16);
    case ICAP_PIXELTYPE:
        return negotiableCapability(*cap, pixelType, TWTY_UINT16);
    default:  // ICAP_XRESOLUTION, ICAP_YRESOLUTION, ICAP_JPEGPIXELTYPE and all others
        return fail(TWCC_BADCAP);
    }
}

TW_UINT16 SourceSession::readOnlyCapability(TW_CAPABILITY& cap) {
    if (!isQuery(currentCall->MSG)) return fail(TWCC_BADPROTOCOL);
    const bool pixels = units.current == TWUN_PIXELS;
    switch (cap.Cap) {
    case CAP_SUPPORTEDCAPS:
        return returnSupportedCaps(cap);
    case CAP_DEVICEONLINE:
        // Reported online whether or not the camera answers: the link connects later.
        return returnOneValue(cap, TWTY_BOOL, TRUE);
    case CAP_UICONTROLLABLE:
        return returnOneValue(cap, TWTY_BOOL, FALSE);
    case ICAP_PHYSICALWIDTH:
        return returnOneValue(cap, TWTY_FIX32, fix32Item(pixels ? cameraWidth : 0));
    default:  // ICAP_PHYSICALHEIGHT
        return returnOneValue(cap, TWTY_FIX32, fix32Item(pixels ? cameraHeight : 0));
    }
}

TW_UINT16 SourceSession::fixedCapability(TW_CAPABILITY& cap, TW_UINT16 value) {
    const TW_UINT16 msg = currentCall->MSG;
    if (isQuery(msg)) return returnOneValue(cap, TWTY_UINT16, value);
    if (msg == MSG_SET || msg == MSG_RESET) return fail(TWCC_BADCAP);
    return fail(TWCC_BADPROTOCOL);
}

TW_UINT16 SourceSession::negotiableCapability(TW_CAPABILITY& cap, NegotiableValue& value, TW_UINT16 itemType) {
    // TWTY_INT16 values are sign-extended into the 32-bit Item, TWTY_UINT16 values zero-extended.
    auto item = [itemType](TW_UINT16 v) -> TW_UINT32 {
        return itemType == TWTY_INT16 ? static_cast<TW_UINT32>(static_cast<TW_INT32>(static_cast<TW_INT16>(v)))
                                      : static_cast<TW_UINT32>(v);
    };
    switch (currentCall->MSG) {
    case MSG_GET:
        return returnEnumeration(cap, itemType, value);
    case MSG_GETCURRENT:
        return returnOneValue(cap, itemType, item(value.current));
    case MSG_GETDEFAULT:
        return returnOneValue(cap, itemType, item(value.defaultValue));
    case MSG_RESET: {
        // Answer first, so that a container that cannot be allocated leaves the value alone.
        const NegotiableValue reset{value.defaultValue, value.defaultValue};
        const TW_UINT16 rc = returnEnumeration(cap, itemType, reset);
        if (rc == TWRC_SUCCESS) value.current = value.defaultValue;
        return rc;
    }
    case MSG_SET: {
        TW_UINT16 requested = 0;
        TW_UINT16 failure = TWCC_SUCCESS;
        if (!readSetValue(cap, requested, failure)) return fail(failure);
        if (!accepts(cap.Cap, requested)) return fail(TWCC_BADVALUE);
        value.current = requested;
        return succeed();
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

bool SourceSession::accepts(TW_UINT16 capId, TW_UINT16 value) const {
    switch (capId) {
    case ICAP_XFERMECH:
        return value == TWSX_NATIVE || value == TWSX_MEMORY;  // no file transfer
    case ICAP_PIXELTYPE:
        return value == TWPT_RGB;
    default:  // CAP_XFERCOUNT and ICAP_UNITS take any value
        return true;
    }
}

bool SourceSession::readSetValue(const TW_CAPABILITY& cap, TW_UINT16& value, TW_UINT16& failure) {
    if (cap.ConType != TWON_ONEVALUE && cap.ConType != TWON_ENUMERATION) {
        failure = TWCC_BADCAP;
        return false;
    }
    // A container that is missing, too small for what it claims or indexes outside its items
    // is the application's error; nothing is read beyond the block.
    failure = TWCC_BADVALUE;
    if (!cap.hContainer) return false;
    const SIZE_T size = GlobalSize(cap.hContainer);
    auto* block = static_cast<const uint8_t*>(GlobalLock(cap.hContainer));
    if (!block) return false;
    bool ok;
    if (cap.ConType == TWON_ONEVALUE) {
        ok = read16(block, size, offsetof(TW_ONEVALUE, Item), value);
    } else {
        TW_UINT32 count = 0, index = 0;
        ok = read32(block, size, offsetof(TW_ENUMERATION, NumItems), count) &&
             read32(block, size, offsetof(TW_ENUMERATION, CurrentIndex), index) && index < count &&
             index <= (size / 2) && read16(block, size, offsetof(TW_ENUMERATION, ItemList) + SIZE_T(index) * 2, value);
    }
    GlobalUnlock(cap.hContainer);
    return ok;
}

TW_UINT16 SourceSession::returnOneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, TW_UINT32 item) {
    HGLOBAL handle = allocContainer(TWON_ONEVALUE, 0);
    auto* one = handle ? static_cast<TW_ONEVALUE*>(lockBlock(handle)) : nullptr;
    if (!one) {
        if (handle) freeBlock(handle);
        return fail(TWCC_LOWMEMORY);
    }
    one->ItemType = itemType;
    one->Item = item;
    unlockBlock(handle);
    cap.ConType = TWON_ONEVALUE;
    cap.hContainer = handle;
    return succeed();
}

TW_UINT16 SourceSession::returnEnumeration(TW_CAPABILITY& cap, TW_UINT16 itemType, const NegotiableValue& value) {
    // ICAP_XFERMECH lists every mechanism the source accepts, since applications offer their
    // users only what MSG_GET lists; the others answer [current, default], even when both are
    // equal.
    TW_UINT16 items[2] = {value.current, value.defaultValue};
    TW_UINT32 currentIndex = 0, defaultIndex = 1;
    if (cap.Cap == ICAP_XFERMECH) {
        items[0] = TWSX_NATIVE;
        items[1] = TWSX_MEMORY;
        currentIndex = value.current == TWSX_MEMORY ? 1 : 0;
        defaultIndex = value.defaultValue == TWSX_MEMORY ? 1 : 0;
    }
    HGLOBAL handle = allocContainer(TWON_ENUMERATION, sizeof items);
    auto* block = handle ? static_cast<uint8_t*>(lockBlock(handle)) : nullptr;
    if (!block) {
        if (handle) freeBlock(handle);
        return fail(TWCC_LOWMEMORY);
    }
    auto* list = reinterpret_cast<TW_ENUMERATION*>(block);
    list->ItemType = itemType;
    list->NumItems = 2;
    list->CurrentIndex = currentIndex;
    list->DefaultIndex = defaultIndex;
    std::memcpy(block + offsetof(TW_ENUMERATION, ItemList), items, sizeof items);
    unlockBlock(handle);
    cap.ConType = TWON_ENUMERATION;
    cap.hContainer = handle;
    return succeed();
}

TW_UINT16 SourceSession::returnSupportedCaps(TW_CAPABILITY& cap) {
    HGLOBAL handle = allocContainer(TWON_ARRAY, sizeof supportedCaps);
    auto* block = handle ? static_cast<uint8_t*>(lockBlock(handle)) : nullptr;
    if (!block) {
        if (handle) freeBlock(handle);
        return fail(TWCC_LOWMEMORY);
    }
    auto* array = reinterpret_cast<TW_ARRAY*>(block);
    array->ItemType = TWTY_UINT16;
    array->NumItems = supportedCapCount;
    std::memcpy(block + offsetof(TW_ARRAY, ItemList), supportedCaps, sizeof supportedCaps);
    unlockBlock(handle);
    cap.ConType = TWON_ARRAY;
    cap.hContainer = handle;
    return succeed();
}
