// The 64-bit source's TWAIN 2.x side, on session objects of their own: the identity it shows
// a 2.x manager, DAT_ENTRYPOINT in every state, notifications through the entry it received
// (and through TWAIN_32.DLL when it received none), memory handed to the application from
// the manager's functions, and the native transfer's handle written at its full 8 bytes.
#include <cstring>
#include <set>
#include <vector>

#include "tests/source/session_fixture.h"

namespace {

// A 2.x manager as the source sees it: an entry that records what it is told, and memory
// functions that count their calls and hand out blocks full of garbage, so that a source
// relying on zero-filled memory shows up.
struct FakeManager {
    struct Call {
        pTW_IDENTITY origin;
        pTW_IDENTITY dest;
        TW_UINT32 dg;
        TW_UINT16 dat;
        TW_UINT16 msg;
        TW_MEMREF data;
    };
    std::vector<Call> calls;
    std::set<TW_HANDLE> made;
    int allocations = 0;
    int frees = 0;
    int locks = 0;
    int unlocks = 0;
};

FakeManager* manager = nullptr;

TW_UINT16 TW_CALLINGSTYLE fakeEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                    TW_UINT16 msg, TW_MEMREF data) {
    manager->calls.push_back({origin, dest, dg, dat, msg, data});
    return TWRC_SUCCESS;
}

TW_HANDLE TW_CALLINGSTYLE fakeAllocate(TW_UINT32 size) {
    ++manager->allocations;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    if (void* bytes = GlobalLock(block)) {
        std::memset(bytes, 0xA5, size);
        GlobalUnlock(block);
    }
    manager->made.insert(block);
    return block;
}

void TW_CALLINGSTYLE fakeFree(TW_HANDLE handle) {
    ++manager->frees;
    manager->made.erase(handle);
    GlobalFree(handle);
}

TW_MEMREF TW_CALLINGSTYLE fakeLock(TW_HANDLE handle) {
    ++manager->locks;
    return GlobalLock(handle);
}

void TW_CALLINGSTYLE fakeUnlock(TW_HANDLE handle) {
    ++manager->unlocks;
    GlobalUnlock(handle);
}

TW_ENTRYPOINT fakeEntryPoint() {
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = fakeEntry;
    entry.DSM_MemAllocate = fakeAllocate;
    entry.DSM_MemFree = fakeFree;
    entry.DSM_MemLock = fakeLock;
    entry.DSM_MemUnlock = fakeUnlock;
    return entry;
}

}  // namespace

class EntryPointTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        manager = &fake;
    }
    void TearDown() override {
        SessionTest::TearDown();
        for (TW_HANDLE block : fake.made) GlobalFree(block);
        manager = nullptr;
    }
    TW_UINT16 setEntry(TW_ENTRYPOINT entry) { return call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry); }
    TW_UINT16 conditionCode() {
        TW_STATUS status{};
        EXPECT_EQ(call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    // DAT_IMAGENATIVEXFER into a 16-byte field filled with 0xCC: the handle, and whether the
    // 8 bytes after it were left alone.
    TW_HANDLE nativeHandle(bool& beyondUntouched) {
        unsigned char field[16];
        std::memset(field, 0xCC, sizeof field);
        EXPECT_EQ(call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, field), TWRC_XFERDONE);
        beyondUntouched = true;
        for (size_t i = 8; i < sizeof field; ++i) beyondUntouched = beyondUntouched && field[i] == 0xCC;
        TW_HANDLE handle;
        std::memcpy(&handle, field, sizeof handle);
        return handle;
    }
    // The DIB of a native transfer: header fields, and the padding of its first row.
    void expectDib(TW_HANDLE handle, int width, int height) {
        ASSERT_NE(handle, nullptr);
        const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
        ASSERT_GE(GlobalSize(handle), sizeof(BITMAPINFOHEADER) + SIZE_T(stride) * height);
        auto* bytes = static_cast<const uint8_t*>(GlobalLock(handle));
        ASSERT_NE(bytes, nullptr);
        BITMAPINFOHEADER header;
        std::memcpy(&header, bytes, sizeof header);
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header.biWidth, width);
        EXPECT_EQ(header.biHeight, height);
        EXPECT_EQ(header.biBitCount, 24);
        EXPECT_EQ(header.biSizeImage, stride * uint32_t(height));
        for (uint32_t i = uint32_t(width) * 3; i < stride; ++i)
            EXPECT_EQ(bytes[sizeof header + i], 0) << "padding byte " << i;
        GlobalUnlock(handle);
    }

    FakeManager fake;
};

TEST_F(EntryPointTest, IdentityAsksA2xManagerForItsEntryPoint) {
    TW_IDENTITY identity{};
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity), TWRC_SUCCESS);
    EXPECT_EQ(identity.SupportedGroups, DG_CONTROL | DG_IMAGE | DF_DS2);
    EXPECT_EQ(identity.ProtocolMajor, 2);
    EXPECT_EQ(identity.ProtocolMinor, 0);
    EXPECT_STREQ(identity.ProductName, "Zelmar Dorvex");
}

TEST_F(EntryPointTest, SetBeforeOpenAndGetBackInEveryStateWithTheRightConditionCodes) {
    TW_ENTRYPOINT read{};
    read.Size = sizeof read;
    // Nothing received yet.
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &read), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    // Malformed structures are refused whole, and leave nothing behind.
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    TW_ENTRYPOINT small = fakeEntryPoint();
    small.Size = sizeof small - 1;
    EXPECT_EQ(setEntry(small), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    TW_ENTRYPOINT halfMemory = fakeEntryPoint();
    halfMemory.DSM_MemUnlock = nullptr;
    EXPECT_EQ(setEntry(halfMemory), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    TW_ENTRYPOINT noEntry = fakeEntryPoint();
    noEntry.DSM_Entry = nullptr;
    EXPECT_EQ(setEntry(noEntry), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &read), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    TW_ENTRYPOINT entry = fakeEntryPoint();
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_RESET, &entry), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADPROTOCOL);
    EXPECT_EQ(session->state, 3u);

    // State 3, as a 2.x manager sends it, then state 4.
    EXPECT_EQ(setEntry(fakeEntryPoint()), TWRC_SUCCESS);
    open(71);
    EXPECT_EQ(setEntry(fakeEntryPoint()), TWRC_SUCCESS);
    TW_ENTRYPOINT tooSmallRead{};
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &tooSmallRead), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_BADVALUE);
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &read), TWRC_SUCCESS);
    EXPECT_EQ(read.Size, sizeof(TW_ENTRYPOINT));
    EXPECT_EQ(read.DSM_Entry, &fakeEntry);
    EXPECT_EQ(read.DSM_MemAllocate, &fakeAllocate);
    EXPECT_EQ(read.DSM_MemUnlock, &fakeUnlock);

    // Enabled (state 5): only the application of the session sets it, as its manager does
    // before the open that ends a session it lost; the new session keeps it.
    enable();
    TW_IDENTITY stranger = makeAppIdentity(app.Id, "Somebody Else");
    EXPECT_EQ(callAs(stranger, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    EXPECT_EQ(setEntry(fakeEntryPoint()), TWRC_SUCCESS);
    open(72);
    EXPECT_EQ(session->state, 4u);
    read = TW_ENTRYPOINT{};
    read.Size = sizeof read;
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &read), TWRC_SUCCESS);
    EXPECT_EQ(read.DSM_Entry, &fakeEntry);
    enable();

    // Closing forgets it: the manager hands it over again before the next open.
    TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    TW_IDENTITY self = session->sourceIdentity;
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self), TWRC_SUCCESS);
    EXPECT_EQ(call(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &read), TWRC_FAILURE);
    EXPECT_EQ(conditionCode(), TWCC_SEQERROR);
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(EntryPointTest, NotificationsGoThroughTheReceivedEntryAndTwain32OnlyWithoutOne) {
    DsmLogView log;
    ASSERT_TRUE(log.valid());
    ASSERT_EQ(setEntry(fakeEntryPoint()), TWRC_SUCCESS);
    open(1234);
    enable();
    ASSERT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 1);
    ready(colourJpeg(16, 8));
    ASSERT_EQ(fake.calls.size(), 2u);
    const TW_UINT16 messages[] = {MSG_CLOSEDSREQ, MSG_XFERREADY};
    for (size_t i = 0; i < 2; ++i) {
        const FakeManager::Call& c = fake.calls[i];
        EXPECT_EQ(c.origin, &session->sourceIdentity);
        EXPECT_EQ(c.dest, &session->appIdentity);
        EXPECT_EQ(c.origin->Id, 1234u);
        EXPECT_EQ(c.dest->Id, app.Id);
        EXPECT_EQ(c.dg, DG_CONTROL);
        EXPECT_EQ(c.dat, DAT_NULL);
        EXPECT_EQ(c.msg, messages[i]);
        EXPECT_EQ(c.data, nullptr);
    }
    EXPECT_EQ(log.count(), 0) << "TWAIN_32.DLL was called although the manager gave its entry";

    // A source opened by a 1.x manager (no DAT_ENTRYPOINT) still reaches TWAIN_32.DLL.
    fresh();
    open(1235);
    enable();
    ASSERT_EQ(session->notifyApplication(MSG_CLOSEDSREQ), 1);
    EXPECT_EQ(fake.calls.size(), 2u);
    ASSERT_EQ(log.count(), 1);
    EXPECT_EQ(log.record(0).msg, MSG_CLOSEDSREQ);
    EXPECT_EQ(log.record(0).origin.Id, 1235u);
}

TEST_F(EntryPointTest, NativeHandleIsWrittenAtItsFullSizeFromEitherMemory) {
    // Without a 2.x manager: a global block, as before.
    open();
    enable();
    ready(colourJpeg(21, 5, 3));
    bool beyondUntouched = false;
    TW_HANDLE handle = nativeHandle(beyondUntouched);
    EXPECT_TRUE(beyondUntouched);
    expectDib(handle, 21, 5);
    EXPECT_EQ(GlobalFree(handle), nullptr) << "not a global block of its own";
    EXPECT_EQ(fake.allocations, 0);

    // With one: the block comes from its functions, zero-filled by the source.
    fresh();
    ASSERT_EQ(setEntry(fakeEntryPoint()), TWRC_SUCCESS);
    open();
    enable();
    ready(colourJpeg(21, 5, 3));
    handle = nativeHandle(beyondUntouched);
    EXPECT_TRUE(beyondUntouched);
    EXPECT_EQ(fake.allocations, 1);
    EXPECT_EQ(fake.made.count(handle), 1u) << "the bitmap is not one the manager made";
    EXPECT_EQ(fake.locks, fake.unlocks);
    expectDib(handle, 21, 5);
    EXPECT_EQ(fake.frees, 0) << "the application owns the bitmap";
}

TEST_F(EntryPointTest, CapabilityContainersComeFromTheManagersMemoryZeroFilled) {
    ASSERT_EQ(setEntry(fakeEntryPoint()), TWRC_SUCCESS);
    open();
    TW_CAPABILITY cap{ICAP_XFERMECH, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    ASSERT_EQ(cap.ConType, TWON_ENUMERATION);
    EXPECT_EQ(fake.made.count(cap.hContainer), 1u);
    const SIZE_T size = GlobalSize(cap.hContainer);
    auto* bytes = static_cast<const uint8_t*>(GlobalLock(cap.hContainer));
    ASSERT_NE(bytes, nullptr);
    TW_ENUMERATION list;
    std::memcpy(&list, bytes, offsetof(TW_ENUMERATION, ItemList));
    EXPECT_EQ(list.ItemType, TWTY_UINT16);
    EXPECT_EQ(list.NumItems, 2u);
    EXPECT_EQ(list.CurrentIndex, 0u);
    EXPECT_EQ(list.DefaultIndex, 0u);
    // The items [TWSX_NATIVE, TWSX_MEMORY], then the rest of the block: nothing of the
    // manager's garbage is left.
    const SIZE_T items = offsetof(TW_ENUMERATION, ItemList);
    ASSERT_GE(size, items + 4);
    EXPECT_EQ(bytes[items + 2], TWSX_MEMORY);
    for (SIZE_T i = items; i < size; ++i) {
        if (i != items + 2) {
            EXPECT_EQ(bytes[i], 0) << "byte " << i;
        }
    }
    GlobalUnlock(cap.hContainer);

    TW_CAPABILITY caps{CAP_SUPPORTEDCAPS, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &caps), TWRC_SUCCESS);
    EXPECT_EQ(caps.ConType, TWON_ARRAY);
    EXPECT_EQ(fake.made.count(caps.hContainer), 1u);
    EXPECT_EQ(fake.allocations, 2);
    EXPECT_EQ(fake.locks, fake.unlocks);
    EXPECT_EQ(fake.frees, 0);
}
