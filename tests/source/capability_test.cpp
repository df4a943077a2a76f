// Capability negotiation through DS_Entry: kinds, values, containers (freed here as an
// application frees them), the values a MSG_SET accepts, and the same answers in states 3 and 4.
#include "tests/source/entry_fixture.h"

#include <cstring>

namespace {

// A returned container, copied out of its global block before the block is freed.
struct Answer {
    TW_UINT16 rc = 0xFFFF;
    TW_UINT16 conType = 0;
    bool hadContainer = false;
    bool movable = false;
    SIZE_T size = 0;
    std::vector<uint8_t> bytes;

    TW_UINT16 u16(size_t off) const { TW_UINT16 v; std::memcpy(&v, &bytes.at(off + 1) - 1, 2); return v; }
    TW_UINT32 u32(size_t off) const { TW_UINT32 v; std::memcpy(&v, &bytes.at(off + 3) - 3, 4); return v; }
    // TW_ONEVALUE
    TW_UINT16 itemType() const { return u16(0); }
    TW_UINT32 item() const { return u32(2); }
    // TW_ENUMERATION
    TW_UINT32 numItems() const { return u32(2); }
    TW_UINT32 currentIndex() const { return u32(6); }
    TW_UINT32 defaultIndex() const { return u32(10); }
    TW_UINT16 enumItem(size_t i) const { return u16(14 + 2 * i); }
};

HGLOBAL makeOneValue(TW_UINT16 itemType, TW_UINT32 item) {
    HGLOBAL h = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(h));
    one->ItemType = itemType;
    one->Item = item;
    GlobalUnlock(h);
    return h;
}

HGLOBAL makeEnumeration(TW_UINT16 itemType, std::vector<TW_UINT16> items, TW_UINT32 current) {
    HGLOBAL h = GlobalAlloc(GHND, 14 + 2 * items.size());
    auto* block = static_cast<uint8_t*>(GlobalLock(h));
    auto* list = reinterpret_cast<TW_ENUMERATION*>(block);
    list->ItemType = itemType;
    list->NumItems = TW_UINT32(items.size());
    list->CurrentIndex = current;
    list->DefaultIndex = 0;
    std::memcpy(block + 14, items.data(), 2 * items.size());
    GlobalUnlock(h);
    return h;
}

}  // namespace

class CapabilityTest : public EntryTest {
protected:
    Answer ask(TW_UINT16 capId, TW_UINT16 msg) {
        TW_CAPABILITY cap{capId, TWON_DONTCARE16, nullptr};
        Answer a;
        a.rc = call(DG_CONTROL, DAT_CAPABILITY, msg, &cap);
        if (a.rc != TWRC_SUCCESS) {
            EXPECT_EQ(cap.hContainer, nullptr) << "a failure handed out a container";
            return a;
        }
        a.conType = cap.ConType;
        a.hadContainer = cap.hContainer != nullptr;
        if (!cap.hContainer) return a;
        a.size = GlobalSize(cap.hContainer);
        auto* p = static_cast<uint8_t*>(GlobalLock(cap.hContainer));
        a.movable = p && static_cast<void*>(p) != cap.hContainer;
        if (p) a.bytes.assign(p, p + a.size);
        GlobalUnlock(cap.hContainer);
        EXPECT_EQ(GlobalFree(cap.hContainer), nullptr);  // ours to free, exactly once
        return a;
    }
    // MSG_SET with the application's own container, which it frees afterwards.
    TW_UINT16 set(TW_UINT16 capId, TW_UINT16 conType, HGLOBAL container) {
        TW_CAPABILITY cap{capId, conType, container};
        const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        EXPECT_EQ(cap.hContainer, container);
        if (container) {
            EXPECT_EQ(GlobalFree(container), nullptr);
        }
        return rc;
    }
    TW_UINT16 setOne(TW_UINT16 capId, TW_UINT16 itemType, TW_UINT32 value) {
        return set(capId, TWON_ONEVALUE, makeOneValue(itemType, value));
    }
    TW_UINT32 current(TW_UINT16 capId) {
        Answer a = ask(capId, MSG_GETCURRENT);
        EXPECT_EQ(a.conType, TWON_ONEVALUE);
        return a.bytes.size() >= 6 ? a.item() : 0xDEADBEEF;
    }
    void expectOneValue(TW_UINT16 capId, TW_UINT16 msg, TW_UINT16 itemType, TW_UINT32 item) {
        SCOPED_TRACE(::testing::Message() << "cap 0x" << std::hex << capId << " msg 0x" << msg);
        Answer a = ask(capId, msg);
        ASSERT_EQ(a.rc, TWRC_SUCCESS);
        EXPECT_EQ(conditionCode(), TWCC_SUCCESS);
        EXPECT_EQ(a.conType, TWON_ONEVALUE);
        EXPECT_TRUE(a.movable);
        ASSERT_EQ(a.size, 6u);
        EXPECT_EQ(a.itemType(), itemType);
        EXPECT_EQ(a.item(), item);
    }
    // Two items; by default [current, default], else the indexes given.
    void expectEnumeration(TW_UINT16 capId, TW_UINT16 msg, TW_UINT16 itemType, TW_UINT16 first, TW_UINT16 second,
                           TW_UINT32 currentIndex = 0, TW_UINT32 defaultIndex = 1) {
        SCOPED_TRACE(::testing::Message() << "cap 0x" << std::hex << capId << " msg 0x" << msg);
        Answer a = ask(capId, msg);
        ASSERT_EQ(a.rc, TWRC_SUCCESS);
        EXPECT_EQ(a.conType, TWON_ENUMERATION);
        ASSERT_EQ(a.size, 4u + 15u);
        EXPECT_EQ(a.itemType(), itemType);
        EXPECT_EQ(a.numItems(), 2u);
        EXPECT_EQ(a.currentIndex(), currentIndex);
        EXPECT_EQ(a.defaultIndex(), defaultIndex);
        EXPECT_EQ(a.enumItem(0), first);
        EXPECT_EQ(a.enumItem(1), second);
        EXPECT_EQ(a.bytes[18], 0);  // the spare byte stays zero
    }
    void expectRefused(TW_UINT16 capId, TW_UINT16 msg, TW_UINT16 code) {
        SCOPED_TRACE(::testing::Message() << "cap 0x" << std::hex << capId << " msg 0x" << msg);
        EXPECT_EQ(ask(capId, msg).rc, TWRC_FAILURE);
        EXPECT_EQ(conditionCode(), code);
    }
};

TEST_F(CapabilityTest, SupportedCapsListsThirteenInOrder) {
    open();
    const TW_UINT16 expected[] = {0x100F, 0x100E, 0x0001, 0x0103, 0x0102, 0x1112, 0x1111,
                                  0x1120, 0x111F, 0x0100, 0x112B, 0x111C, 0x0101};
    for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
        Answer a = ask(CAP_SUPPORTEDCAPS, msg);
        ASSERT_EQ(a.rc, TWRC_SUCCESS);
        EXPECT_EQ(a.conType, TWON_ARRAY);
        EXPECT_TRUE(a.movable);
        ASSERT_EQ(a.size, 13u * 2u + 7u);
        EXPECT_EQ(a.u16(0), TWTY_UINT16);
        EXPECT_EQ(a.u32(2), 13u);
        for (size_t i = 0; i < 13; ++i) EXPECT_EQ(a.u16(6 + 2 * i), expected[i]) << i;
        EXPECT_EQ(a.bytes[32], 0);
    }
    for (TW_UINT16 msg : {MSG_SET, MSG_RESET, MSG_GETFIRST, MSG_GETNEXT, MSG_QUERYSUPPORT})
        expectRefused(CAP_SUPPORTEDCAPS, msg, TWCC_BADPROTOCOL);
}

TEST_F(CapabilityTest, ReadOnlyValuesAndThePhysicalSizeFollowingTheUnits) {
    open();
    expectOneValue(CAP_DEVICEONLINE, MSG_GET, TWTY_BOOL, TRUE);
    expectOneValue(CAP_UICONTROLLABLE, MSG_GETCURRENT, TWTY_BOOL, FALSE);
    expectOneValue(ICAP_PHYSICALWIDTH, MSG_GET, TWTY_FIX32, 0);
    expectOneValue(ICAP_PHYSICALHEIGHT, MSG_GETDEFAULT, TWTY_FIX32, 0);
    ASSERT_EQ(setOne(ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS), TWRC_SUCCESS);
    // TW_FIX32 in the Item: Whole in the low word, Frac (0) in the high word.
    expectOneValue(ICAP_PHYSICALWIDTH, MSG_GET, TWTY_FIX32, 1152);
    expectOneValue(ICAP_PHYSICALHEIGHT, MSG_GETCURRENT, TWTY_FIX32, 872);
    ASSERT_EQ(setOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES), TWRC_SUCCESS);
    expectOneValue(ICAP_PHYSICALWIDTH, MSG_GETDEFAULT, TWTY_FIX32, 0);
    for (TW_UINT16 capId : {CAP_DEVICEONLINE, CAP_UICONTROLLABLE, ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT}) {
        for (TW_UINT16 msg : {MSG_SET, MSG_RESET, MSG_GETFIRST, MSG_GETNEXT}) expectRefused(capId, msg, TWCC_BADPROTOCOL);
    }
}

TEST_F(CapabilityTest, FixedCapabilitiesAnswerAndRefuseChange) {
    open();
    const std::pair<TW_UINT16, TW_UINT16> fixed[] = {
        {ICAP_COMPRESSION, TWCP_NONE}, {ICAP_PIXELFLAVOR, TWPF_CHOCOLATE}, {ICAP_PLANARCHUNKY, TWPC_CHUNKY},
        {ICAP_BITDEPTH, 24},           {ICAP_BITORDER, TWBO_MSBFIRST},
    };
    for (const auto& [capId, value] : fixed) {
        for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) expectOneValue(capId, msg, TWTY_UINT16, value);
        expectRefused(capId, MSG_RESET, TWCC_BADCAP);
        expectRefused(capId, MSG_GETFIRST, TWCC_BADPROTOCOL);
        expectRefused(capId, MSG_GETNEXT, TWCC_BADPROTOCOL);
        EXPECT_EQ(setOne(capId, TWTY_UINT16, value), TWRC_FAILURE);
        EXPECT_EQ(conditionCode(), TWCC_BADCAP);
    }
}

TEST_F(CapabilityTest, RefusedCapabilitiesFailWithBadCapWhateverTheMessage) {
    open();
    for (TW_UINT16 capId : {ICAP_XRESOLUTION, ICAP_YRESOLUTION, ICAP_JPEGPIXELTYPE, TW_UINT16(0x1000), TW_UINT16(0x8001)}) {
        for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET, MSG_GETFIRST, MSG_QUERYSUPPORT})
            expectRefused(capId, msg, TWCC_BADCAP);
        EXPECT_EQ(setOne(capId, TWTY_FIX32, 300), TWRC_FAILURE);
        EXPECT_EQ(conditionCode(), TWCC_BADCAP);
    }
}

TEST_F(CapabilityTest, TransferCountIsSignedAndResetsToItsDefault) {
    open();
    expectEnumeration(CAP_XFERCOUNT, MSG_GET, TWTY_INT16, 0xFFFF, 0xFFFF);
    expectOneValue(CAP_XFERCOUNT, MSG_GETCURRENT, TWTY_INT16, 0xFFFFFFFF);  // -1 sign-extended
    ASSERT_EQ(setOne(CAP_XFERCOUNT, TWTY_INT16, 5), TWRC_SUCCESS);
    EXPECT_EQ(conditionCode(), TWCC_SUCCESS);
    expectEnumeration(CAP_XFERCOUNT, MSG_GET, TWTY_INT16, 5, 0xFFFF);
    expectOneValue(CAP_XFERCOUNT, MSG_GETCURRENT, TWTY_INT16, 5);
    expectOneValue(CAP_XFERCOUNT, MSG_GETDEFAULT, TWTY_INT16, 0xFFFFFFFF);
    expectEnumeration(CAP_XFERCOUNT, MSG_RESET, TWTY_INT16, 0xFFFF, 0xFFFF);
    expectOneValue(CAP_XFERCOUNT, MSG_GETCURRENT, TWTY_INT16, 0xFFFFFFFF);
    // Only the low 16 bits of a TW_ONEVALUE Item count.
    ASSERT_EQ(setOne(CAP_XFERCOUNT, TWTY_INT32, 0x0007FFFE), TWRC_SUCCESS);
    expectOneValue(CAP_XFERCOUNT, MSG_GETCURRENT, TWTY_INT16, 0xFFFFFFFE);
    for (TW_UINT16 msg : {MSG_GETFIRST, MSG_GETNEXT, MSG_QUERYSUPPORT}) expectRefused(CAP_XFERCOUNT, msg, TWCC_BADPROTOCOL);
}

TEST_F(CapabilityTest, MechanismAndPixelTypeAcceptOnlyWhatTheSourceDelivers) {
    open();
    // MSG_GET lists every mechanism the source accepts, whichever is current: applications
    // offer their users only what it lists. MSG_RESET answers as MSG_GET.
    expectEnumeration(ICAP_XFERMECH, MSG_GET, TWTY_UINT16, TWSX_NATIVE, TWSX_MEMORY, 0, 0);
    EXPECT_EQ(setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    EXPECT_EQ(current(ICAP_XFERMECH), TWSX_NATIVE);
    ASSERT_EQ(setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    EXPECT_EQ(current(ICAP_XFERMECH), TWSX_MEMORY);
    expectOneValue(ICAP_XFERMECH, MSG_GETDEFAULT, TWTY_UINT16, TWSX_NATIVE);
    expectEnumeration(ICAP_XFERMECH, MSG_GET, TWTY_UINT16, TWSX_NATIVE, TWSX_MEMORY, 1, 0);
    expectEnumeration(ICAP_XFERMECH, MSG_RESET, TWTY_UINT16, TWSX_NATIVE, TWSX_MEMORY, 0, 0);
    EXPECT_EQ(current(ICAP_XFERMECH), TWSX_NATIVE);
    ASSERT_EQ(setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    // An enumeration gives its current entry.
    ASSERT_EQ(set(ICAP_XFERMECH, TWON_ENUMERATION, makeEnumeration(TWTY_UINT16, {TWSX_MEMORY, TWSX_NATIVE}, 1)),
              TWRC_SUCCESS);
    EXPECT_EQ(current(ICAP_XFERMECH), TWSX_NATIVE);
    EXPECT_EQ(set(ICAP_XFERMECH, TWON_ENUMERATION, makeEnumeration(TWTY_UINT16, {TWSX_NATIVE, TWSX_FILE}, 1)),
              TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);

    EXPECT_EQ(setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    EXPECT_EQ(setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_FAILURE);
    EXPECT_EQ(setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB), TWRC_SUCCESS);
    expectEnumeration(ICAP_PIXELTYPE, MSG_RESET, TWTY_UINT16, TWPT_RGB, TWPT_RGB);

    // Units take any value, zero-extended when read back.
    ASSERT_EQ(setOne(ICAP_UNITS, TWTY_UINT16, 0xFFFE), TWRC_SUCCESS);
    expectOneValue(ICAP_UNITS, MSG_GETCURRENT, TWTY_UINT16, 0x0000FFFE);
}

TEST_F(CapabilityTest, SetRefusesOtherContainersAndMalformedOnes) {
    open();
    HGLOBAL range = GlobalAlloc(GHND, sizeof(TW_RANGE));
    EXPECT_EQ(set(ICAP_UNITS, TWON_RANGE, range), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADCAP);
    HGLOBAL array = GlobalAlloc(GHND, 8);
    EXPECT_EQ(set(ICAP_UNITS, TWON_ARRAY, array), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADCAP);
    EXPECT_EQ(set(ICAP_UNITS, TWON_ONEVALUE, nullptr), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    // An index beyond the items, or a block too short for what the header claims.
    EXPECT_EQ(set(ICAP_UNITS, TWON_ENUMERATION, makeEnumeration(TWTY_UINT16, {TWUN_PIXELS}, 1)), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    HGLOBAL shortEnum = makeEnumeration(TWTY_UINT16, {TWUN_PIXELS}, 0);
    auto* list = static_cast<TW_ENUMERATION*>(GlobalLock(shortEnum));
    list->NumItems = 1000;
    list->CurrentIndex = 900;
    GlobalUnlock(shortEnum);
    EXPECT_EQ(set(ICAP_UNITS, TWON_ENUMERATION, shortEnum), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    HGLOBAL tiny = GlobalAlloc(GHND, 3);
    EXPECT_EQ(set(ICAP_UNITS, TWON_ONEVALUE, tiny), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    EXPECT_EQ(current(ICAP_UNITS), TWUN_INCHES);  // nothing was stored
    TW_CAPABILITY* none = nullptr;
    EXPECT_EQ(call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, none), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
}

TEST_F(CapabilityTest, StateThreeAnswersLikeStateFour) {
    auto trace = [this]() {
        std::vector<uint32_t> out;
        for (TW_UINT16 capId : {CAP_SUPPORTEDCAPS, CAP_DEVICEONLINE, CAP_UICONTROLLABLE, ICAP_PHYSICALWIDTH,
                                ICAP_PHYSICALHEIGHT, ICAP_COMPRESSION, ICAP_BITDEPTH, ICAP_XRESOLUTION, CAP_XFERCOUNT,
                                ICAP_XFERMECH, ICAP_UNITS, ICAP_PIXELTYPE}) {
            for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET, MSG_GETFIRST}) {
                Answer a = ask(capId, msg);
                out.push_back(a.rc);
                out.push_back(conditionCode());
                out.push_back(a.conType);
                out.insert(out.end(), a.bytes.begin(), a.bytes.end());
            }
            out.push_back(setOne(capId, TWTY_UINT16, TWUN_PIXELS));
            out.push_back(conditionCode());
        }
        return out;
    };
    const std::vector<uint32_t> inThree = trace();
    unload();
    ASSERT_TRUE(load());
    open();
    const std::vector<uint32_t> inFour = trace();
    EXPECT_EQ(inThree, inFour);
    EXPECT_GT(inThree.size(), 200u);
}

TEST_F(CapabilityTest, NoGlobalMemoryIsLeftBehind) {
    open();
    auto everything = [this]() {
        for (TW_UINT16 capId : {CAP_SUPPORTEDCAPS, CAP_DEVICEONLINE, ICAP_PHYSICALWIDTH, ICAP_BITDEPTH,
                                ICAP_XRESOLUTION, CAP_XFERCOUNT, ICAP_XFERMECH, ICAP_UNITS, ICAP_PIXELTYPE}) {
            for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET, MSG_GETFIRST, MSG_SET}) ask(capId, msg);
            setOne(capId, TWTY_UINT16, 2);
            set(capId, TWON_ENUMERATION, makeEnumeration(TWTY_UINT16, {0, 2}, 1));
            set(capId, TWON_RANGE, GlobalAlloc(GHND, sizeof(TW_RANGE)));
        }
    };
    everything();  // first use settles any one-time allocations
    const HeapUsage before = processHeapUsage();
    ASSERT_GT(before.blocks, 0u);
    for (int i = 0; i < 20; ++i) everything();
    EXPECT_EQ(processHeapUsage(), before);

    // The measure itself sees one block kept back.
    HGLOBAL kept = GlobalAlloc(GHND, 6);
    EXPECT_FALSE(processHeapUsage() == before);
    GlobalFree(kept);
}
