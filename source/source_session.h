// SourceSession: the library's one application object.
//
// It keeps the TWAIN state (3 loaded .. 7 transferring), the condition code of the last
// failure, both identities, the modeless camera dialog, the decoded picture waiting for
// transfer and the negotiated capability values, and serves every triplet that DS_Entry
// receives. Everything runs on the application's thread: no threads, no locks.
//
// Return conventions: TWAIN operations return TWRC codes and leave the TWCC code of a failure
// in conditionCode (read and cleared by DAT_STATUS); the source's own operations
// (notifyApplication, prepareImage) return non-zero for success and 0 for failure.
#pragma once

#include <cstdint>

#include <windows.h>

#include "source/twain.h"

class CameraDialog;
class JpegDecoder;

// The TWAIN states a source goes through; the numbers are TWAIN's own.
enum TwainState : TW_UINT32 {
    StateLoaded = 3,        // loaded, not open
    StateOpen = 4,          // opened by an application, capabilities negotiable
    StateEnabled = 5,       // the user interface is enabled
    StateReady = 6,         // a transfer is ready (MSG_XFERREADY sent)
    StateTransferring = 7,  // a transfer has begun
};

// One DS_Entry call, built on the entry's stack for the duration of the call.
struct TripletCall {
    pTW_IDENTITY origin;
    TW_UINT32 DG;
    TW_UINT16 DAT;
    TW_UINT16 MSG;
    TW_MEMREF data;
};

// A negotiable capability's value: 16 bits, signed or unsigned as the capability's item type.
struct NegotiableValue {
    TW_UINT16 current;
    TW_UINT16 defaultValue;
};

class SourceSession {
public:
    // Size of the one row buffer of a buffered memory transfer: 3 bytes for each of up to
    // 1173 pixels.
    static constexpr TW_UINT32 memXferBufferSize = 3520;

    SourceSession();
    ~SourceSession();
    SourceSession(const SourceSession&) = delete;
    SourceSession& operator=(const SourceSession&) = delete;

    // Start-up hook: loads the identity strings from the module's string table. Non-zero on success.
    int startup();
    // Exit hook: destroys a remaining dialog and deletes a remaining picture. Safe to repeat.
    void shutdown();

    // Routes one triplet and returns its TWRC code.
    TW_UINT16 dispatch(TripletCall& call);

    // Sends MSG_XFERREADY (state 5 only; state 6 first) or MSG_CLOSEDSREQ (states 5 to 7) to
    // the application through the Source Manager, loaded for this one call. 0 for any other
    // message or state, with nothing sent.
    // Then posts our dialog a message, so that the application's loop has one to wake on.
    int notifyApplication(TW_UINT16 msg);
    // Decodes a downloaded JPEG into decodedImage, replacing any earlier picture once the new
    // one is decoded (a failure leaves the earlier one). The caller keeps and releases the data.
    int prepareImage(const uint8_t* data, uint32_t size);
    // A zero-filled movable global block sized for a capability container of the given type
    // holding itemBytes of items; null for an unknown type or when memory runs out.
    HGLOBAL allocContainer(TW_UINT16 type, uint32_t itemBytes);

    // Memory handed to the application (containers, native bitmaps): a zero-filled block,
    // locked, unlocked and freed with the functions that made it - the manager's when a 2.x
    // manager gave them with DAT_ENTRYPOINT, the global-memory functions otherwise.
    HGLOBAL allocBlock(SIZE_T size);
    void* lockBlock(HGLOBAL block);
    void unlockBlock(HGLOBAL block);
    void freeBlock(HGLOBAL block);

    // Fields, in the order the session keeps them.
    JpegDecoder* decodedImage = nullptr;
    CameraDialog* cameraDialog = nullptr;
    TripletCall* currentCall = nullptr;
    TW_IDENTITY sourceIdentity{};
    TW_IDENTITY appIdentity{};
    TW_UINT16 conditionCode = TWCC_SUCCESS;
    TW_UINT16 conditionReserved = 0;
    TwainState state = StateLoaded;
    TW_UINT32 nextRow = 0;
    TW_UINT32 transferComplete = 0;
    NegotiableValue xferCount{static_cast<TW_UINT16>(-1), static_cast<TW_UINT16>(-1)};
    NegotiableValue xferMech{TWSX_NATIVE, TWSX_NATIVE};
    NegotiableValue units{TWUN_INCHES, TWUN_INCHES};
    NegotiableValue pixelType{TWPT_RGB, TWPT_RGB};
#ifdef _WIN64
    // The 2.x manager's entry point and memory functions (DAT_ENTRYPOINT MSG_SET), kept from
    // before MSG_OPENDS until MSG_CLOSEDS; haveManagerEntry is false while none is known.
    TW_ENTRYPOINT managerEntry{};
    bool haveManagerEntry = false;
#endif

private:
    // The notification itself, to the manager that gave its entry point, else TWAIN_32.DLL's.
    void sendNotification(TW_UINT16 msg);
    TW_UINT16 route();
    TW_UINT16 identityForAnyone();
    TW_UINT16 processEvent();
    TW_UINT16 fail(TW_UINT16 code);
    TW_UINT16 succeed(TW_UINT16 rc = TWRC_SUCCESS);

    // DG_CONTROL (control_operations.cpp)
    TW_UINT16 routeControl();
    TW_UINT16 identity();
    TW_UINT16 openSource();
    TW_UINT16 closeSource();
    bool lostSession() const;
    bool callerHoldsWindows() const;
    void endSession(bool forgetManager);
    TW_UINT16 userInterface();
    TW_UINT16 enableSource();
    TW_UINT16 disableSource();
    TW_UINT16 status();
    TW_UINT16 pendingTransfers();
    TW_UINT16 setupMemTransfer();
    TW_UINT16 transferGroup();
#ifdef _WIN64
    TW_UINT16 entryPoint();
#endif
    void destroyDialog();
    void discardPicture();

    // DAT_CAPABILITY (capabilities.cpp)
    TW_UINT16 capability();
    TW_UINT16 readOnlyCapability(TW_CAPABILITY& cap);
    TW_UINT16 fixedCapability(TW_CAPABILITY& cap, TW_UINT16 value);
    TW_UINT16 negotiableCapability(TW_CAPABILITY& cap, NegotiableValue& value, TW_UINT16 itemType);
    TW_UINT16 returnOneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, TW_UINT32 item);
    TW_UINT16 returnEnumeration(TW_CAPABILITY& cap, TW_UINT16 itemType, const NegotiableValue& value);
    TW_UINT16 returnSupportedCaps(TW_CAPABILITY& cap);
    static bool readSetValue(const TW_CAPABILITY& cap, TW_UINT16& value, TW_UINT16& failure);
    bool accepts(TW_UINT16 capId, TW_UINT16 value) const;

    // DG_IMAGE (image_transfer.cpp)
    TW_UINT16 routeImage();
    TW_UINT16 imageInfo();
    TW_UINT16 imageLayout();
    TW_UINT16 nativeTransfer();
    TW_UINT16 memoryTransfer();
    bool havePicture() const;
};

// The session of this library (created on first use; the DLL creates it when it is loaded).
SourceSession& theSession();
// Runs the exit hook and deletes the session; the next theSession() makes a fresh one.
void releaseSession();
