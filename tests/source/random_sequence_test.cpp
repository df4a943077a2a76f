// Thousands of random triplets from two applications, valid and invalid, mixed with pictures
// arriving from the camera dialog: the session must never crash, answer only with the codes
// it documents, stay in states 3 to 7, change nothing when it fails, and leave no global
// memory behind except the blocks it hands to the application (freed here).
#include "tests/source/session_fixture.h"
#include "ui/camera_dialog.h"

#include <cstring>
#include <random>
#include <set>

namespace {

const TW_UINT16 knownDats[] = {
    DAT_NULL, DAT_CAPABILITY, DAT_EVENT, DAT_IDENTITY, DAT_PARENT, DAT_PENDINGXFERS, DAT_SETUPMEMXFER,
    DAT_SETUPFILEXFER, DAT_STATUS, DAT_USERINTERFACE, DAT_XFERGROUP, DAT_IMAGEINFO, DAT_IMAGELAYOUT,
    DAT_IMAGEMEMXFER, DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER, DAT_PALETTE8,
};
const TW_UINT16 knownMsgs[] = {
    MSG_NULL, MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_GETFIRST, MSG_GETNEXT, MSG_SET, MSG_RESET,
    MSG_QUERYSUPPORT, MSG_XFERREADY, MSG_OPENDS, MSG_CLOSEDS, MSG_DISABLEDS, MSG_ENABLEDS,
    MSG_ENABLEDSUIONLY, MSG_PROCESSEVENT, MSG_ENDXFER,
};
const TW_UINT16 knownCaps[] = {
    CAP_SUPPORTEDCAPS, CAP_DEVICEONLINE, CAP_UICONTROLLABLE, ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
    ICAP_COMPRESSION, ICAP_PIXELFLAVOR, ICAP_PLANARCHUNKY, ICAP_BITDEPTH, ICAP_BITORDER, CAP_XFERCOUNT,
    ICAP_XFERMECH, ICAP_UNITS, ICAP_PIXELTYPE, ICAP_XRESOLUTION, ICAP_JPEGPIXELTYPE, 0x4321,
};

struct Snapshot {
    TW_UINT32 state, nextRow, transferComplete;
    const void* picture;
    const void* dialog;
    bool operator==(const Snapshot& o) const {
        return state == o.state && nextRow == o.nextRow && transferComplete == o.transferComplete &&
               picture == o.picture && dialog == o.dialog;
    }
};

}  // namespace

class RandomSequenceTest : public SessionTest {
protected:
    std::mt19937 rng{20261207};
    uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }
    bool chance(int percent) { return pick(100) < uint32_t(percent); }

    Snapshot snapshot() const {
        return {session->state, session->nextRow, session->transferComplete, session->decodedImage,
                session->cameraDialog};
    }

    HGLOBAL randomContainer(TW_UINT16& conType) {
        const TW_UINT16 types[] = {TWON_ONEVALUE, TWON_ENUMERATION, TWON_RANGE, TWON_ARRAY, 0x77};
        conType = types[pick(5)];
        const SIZE_T size = 2 + pick(40);
        HGLOBAL h = GlobalAlloc(GHND, size);
        auto* p = static_cast<uint8_t*>(GlobalLock(h));
        for (SIZE_T i = 0; i < size; ++i) p[i] = uint8_t(pick(4) == 0 ? pick(256) : pick(3));
        GlobalUnlock(h);
        return h;
    }

    TW_UINT16 plausibleMessage(TW_UINT16 dat) {
        switch (dat) {
        case DAT_IDENTITY: {
            const TW_UINT16 m[] = {MSG_GET, MSG_OPENDS, MSG_OPENDS, MSG_CLOSEDS};
            return m[pick(4)];
        }
        case DAT_USERINTERFACE:
            return chance(60) ? MSG_ENABLEDS : MSG_DISABLEDS;
        case DAT_PENDINGXFERS: {
            const TW_UINT16 m[] = {MSG_GET, MSG_RESET, MSG_ENDXFER, MSG_ENDXFER};
            return m[pick(4)];
        }
        case DAT_CAPABILITY: {
            const TW_UINT16 m[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET, MSG_SET, MSG_SET};
            return m[pick(6)];
        }
        case DAT_EVENT:
            return MSG_PROCESSEVENT;
        case DAT_IMAGELAYOUT: {
            const TW_UINT16 m[] = {MSG_GET, MSG_GETDEFAULT, MSG_RESET, MSG_SET};
            return m[pick(4)];
        }
        default:
            return MSG_GET;
        }
    }

    // One random triplet with a structure fit for its DAT (or none), answered and cleaned up
    // as an application would.
    void randomTriplet() {
        TW_IDENTITY& origin = chance(85) ? app : otherApp;
        // Mostly the triplets an application sends, sometimes anything at all.
        const TW_UINT16 dat = chance(95) ? knownDats[pick(sizeof knownDats / 2)] : TW_UINT16(pick(0x10000));
        TW_UINT32 dg = dat >= DAT_IMAGEINFO ? DG_IMAGE : DG_CONTROL;
        if (chance(5)) dg = chance(50) ? DG_AUDIO : pick(0x100);
        TW_UINT16 msg = plausibleMessage(dat);
        if (chance(15)) msg = knownMsgs[pick(sizeof knownMsgs / 2)];
        if (chance(2)) msg = TW_UINT16(pick(0x10000));

        alignas(8) uint8_t data[512];
        std::memset(data, 0, sizeof data);
        std::vector<uint8_t> row(3520, 0);
        MSG winMsg{};
        TW_CAPABILITY& cap = *reinterpret_cast<TW_CAPABILITY*>(data);
        HGLOBAL given = nullptr;
        // MSG_PROCESSEVENT carries a TW_EVENT whatever DG and DAT say: the pointer inside it
        // is the application's to get right.
        if (msg == MSG_PROCESSEVENT) {
            auto& event = *reinterpret_cast<TW_EVENT*>(data);
            winMsg.hwnd = session->cameraDialog && chance(50) ? session->cameraDialog->hwnd() : nullptr;
            winMsg.message = chance(50) ? WM_NULL : WM_MOUSEMOVE;
            event.pEvent = &winMsg;
        } else if (dat == DAT_CAPABILITY) {
            cap.Cap = knownCaps[pick(sizeof knownCaps / 2)];
            if (msg == MSG_SET) given = cap.hContainer = randomContainer(cap.ConType);
        } else if (dat == DAT_IMAGEMEMXFER) {
            auto& xfer = *reinterpret_cast<TW_IMAGEMEMXFER*>(data);
            xfer.Memory.Length = chance(80) ? 3520 : pick(8000);
            xfer.Memory.TheMem = row.data();  // big enough for any length the session accepts
        } else if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
            auto& id = *reinterpret_cast<TW_IDENTITY*>(data);
            id = session->sourceIdentity;
            id.Id = 50 + pick(5);
        } else if (dat == DAT_USERINTERFACE) {
            reinterpret_cast<TW_USERINTERFACE*>(data)->ShowUI = TW_BOOL(pick(2));
        }
        const bool withData = chance(97);
        const Snapshot before = snapshot();
        TripletCall call{&origin, dg, dat, msg, withData ? data : nullptr};
        const TW_UINT16 rc = session->dispatch(call);

        ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_FAILURE || rc == TWRC_DSEVENT || rc == TWRC_NOTDSEVENT ||
                    rc == TWRC_XFERDONE)
            << rc;
        if (rc == TWRC_DSEVENT || rc == TWRC_NOTDSEVENT) {
            ASSERT_EQ(msg, MSG_PROCESSEVENT);
        }
        if (rc == TWRC_XFERDONE) {
            ASSERT_TRUE(dg == DG_IMAGE && (dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEMEMXFER));
        }
        if (rc == TWRC_FAILURE) {
            ASSERT_TRUE(snapshot() == before) << "a failure changed the session";
        }
        if (dat == DAT_CAPABILITY && msg != MSG_PROCESSEVENT && withData && rc == TWRC_SUCCESS &&
            cap.hContainer != given) {
            ASSERT_NE(cap.hContainer, nullptr);
            ASSERT_EQ(GlobalFree(cap.hContainer), nullptr);
            ++handedOut;
        }
        if (given) {
            ASSERT_EQ(GlobalFree(given), nullptr);
        }
        if (dat == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE) {
            ASSERT_EQ(GlobalFree(reinterpret_cast<HGLOBAL>(uintptr_t(*reinterpret_cast<TW_UINT32*>(data)))), nullptr);
            ++handedOut;
        }
        if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) ++successes;
    }

    void randomDialogEvent() {
        // What the camera dialog does: a picture arrives (or fails to decode), or Cancel.
        switch (pick(4)) {
        case 0:
            session->prepareImage(pictures[pick(3)].data(), uint32_t(pictures[pick(3)].size()));
            break;
        case 1: {
            const std::vector<uint8_t>& jpeg = pictures[pick(3)];
            const int ok = session->prepareImage(jpeg.data(), uint32_t(jpeg.size()));
            if (&jpeg == &pictures[2]) {
                ASSERT_EQ(ok, 0);
            }
            session->notifyApplication(MSG_XFERREADY);
            break;
        }
        case 2:
            session->notifyApplication(MSG_CLOSEDSREQ);
            break;
        default:
            ASSERT_EQ(session->notifyApplication(TW_UINT16(pick(0x10000)) | 0x8000), 0);
            break;
        }
    }

    std::vector<uint8_t> pictures[3] = {colourJpeg(13, 7), colourJpeg(1, 1), std::vector<uint8_t>(300, 0xFF)};
    int handedOut = 0;
    int successes = 0;

    // One walk of the given length from a fresh session, checking every step.
    void walk(int steps);
    std::set<TW_UINT32> statesSeen;
};

void RandomSequenceTest::walk(int steps) {
    const std::set<TW_UINT16> documented = {TWCC_SUCCESS, TWCC_LOWMEMORY, TWCC_OPERATIONERROR, TWCC_BADCAP,
                                            TWCC_BADPROTOCOL, TWCC_BADVALUE, TWCC_SEQERROR};
    fresh();
    for (int i = 0; i < steps; ++i) {
        SCOPED_TRACE(i);
        if (chance(6))
            randomDialogEvent();
        else
            randomTriplet();
        if (HasFatalFailure()) return;
        ASSERT_GE(session->state, 3u);
        ASSERT_LE(session->state, 7u);
        ASSERT_TRUE(documented.count(session->conditionCode)) << session->conditionCode;
        ASSERT_EQ(session->conditionReserved, 0);
        ASSERT_EQ(session->currentCall, nullptr);
        statesSeen.insert(session->state);
    }
    session->shutdown();
    pumpMessages();
}

TEST_F(RandomSequenceTest, NoCrashOnlyDocumentedCodesAndNothingLeaked) {
    DsmLogView log;
    // A first walk settles the one-time allocations of the window system and the loader
    // (dialog classes, the manager's first load); the second is measured.
    walk(1000);
    if (HasFatalFailure()) return;
    const HeapUsage before = processHeapUsage();
    handedOut = successes = 0;
    statesSeen.clear();
    walk(4000);
    if (HasFatalFailure()) return;
    EXPECT_EQ(processHeapUsage(), before);
    // The walk must actually have gone everywhere, or it proves little.
    EXPECT_EQ(statesSeen.size(), 5u);
    EXPECT_GT(handedOut, 50);
    EXPECT_GT(successes, 500);
    EXPECT_GT(log.count(), 20);
}
