// A stand-in TWAIN source for testing the Source Manager and acquire.exe without a camera.
//
// Built twice with different product names. It records every call, answers the identity and
// user-interface triplets, sends notifications through TWAIN_32.DLL as a real source does, and
// delivers a generated picture (fakePixel) by native and buffered memory transfer, several
// rows per block, so the application's general code paths are exercised too.
//
// Driven from the environment when enabled (acquire.exe tests):
//   FAKE_DS_SCRIPT = closereq | xferready | none   what to notify ~200 ms after MSG_ENABLEDS
//                  | dialogs                       show stand-in dialogs (fake_dialogs.h); the
//                                                  picture is (20 + slot) x 10
//   FAKE_DS_SIZE   = WxH                           picture size (default 37x23)
// and from test programs through its extra exports (FakeSource_*).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "source/twain.h"
#include "tests/tools/fake_dialogs.h"
#include "tests/tools/fake_pixel.h"

#ifndef FAKE_PRODUCT_NAME
#define FAKE_PRODUCT_NAME "Fake Source"
#endif

namespace {

struct RecordedCall {
    TW_UINT32 originId, dg;
    TW_UINT16 dat, msg;
    TW_MEMREF data;
};

TW_IDENTITY self{};
TW_IDENTITY application{};
RecordedCall lastCall{};
int callCount = 0;
int state = 3;
TW_UINT16 conditionCode = TWCC_SUCCESS;
TW_UINT16 openFailure = TWCC_SUCCESS;
TW_UINT16 mechanism = TWSX_NATIVE;
int width = 37, height = 23;
int nextRow = 0;
bool complete = false;
TW_UINT16 scripted = MSG_NULL;
// Called once from inside the next MSG_PROCESSEVENT, as a modal loop of a real source would
// hand control back to the application.
void (*reentry)() = nullptr;
bool withDialogs = false;
// Answers TWRC_DSEVENT to every event, as a source whose dialog takes all the application's
// input does.
bool claimEverything = false;

TW_UINT16 failWith(TW_UINT16 code) {
    conditionCode = code;
    return TWRC_FAILURE;
}

TW_UINT16 succeed() {
    conditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

void fillIdentity() {
    self.Version.MajorNum = 1;
    self.Version.Language = TWLG_USA;
    self.Version.Country = TWCY_USA;
    std::strcpy(self.Version.Info, "fake 1.0");
    self.ProtocolMajor = 1;
    self.ProtocolMinor = 6;
    self.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(self.Manufacturer, "Test Maker");
    std::strcpy(self.ProductFamily, "Test Sources");
    std::strcpy(self.ProductName, FAKE_PRODUCT_NAME);
}

void readEnvironment() {
    char text[64];
    scripted = MSG_NULL;
    withDialogs = false;
    if (GetEnvironmentVariableA("FAKE_DS_SCRIPT", text, sizeof text) > 0) {
        withDialogs = std::strcmp(text, "dialogs") == 0;
        if (std::strcmp(text, "closereq") == 0)
            scripted = MSG_CLOSEDSREQ;
        else if (std::strcmp(text, "xferready") == 0)
            scripted = MSG_XFERREADY;
    }
    if (GetEnvironmentVariableA("FAKE_DS_SIZE", text, sizeof text) > 0)
        std::sscanf(text, "%dx%d", &width, &height);
}

TW_UINT16 notify(TW_UINT16 msg) {
    HMODULE dsm = LoadLibraryA("TWAIN_32.DLL");
    if (!dsm)
        return TWRC_FAILURE;
    auto entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(dsm, "DSM_Entry")));
    TW_UINT16 result = entry ? entry(&self, &application, DG_CONTROL, DAT_NULL, msg, nullptr) : TWRC_FAILURE;
    FreeLibrary(dsm);
    return result;
}

void CALLBACK scriptTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (scripted == MSG_XFERREADY && state == 5) {
        state = 6;
        nextRow = 0;
        complete = false;
    }
    if (scripted != MSG_NULL && state >= 5)
        notify(scripted);
}

void dialogClosed() { notify(MSG_CLOSEDSREQ); }

void dialogPicked(int slot) {
    width = 20 + slot;
    height = 10;
    state = 6;
    nextRow = 0;
    complete = false;
    notify(MSG_XFERREADY);
}

TW_UINT16 identityCall(TW_IDENTITY* origin, TW_UINT16 msg, TW_IDENTITY* data) {
    if (msg == MSG_GET) {
        *data = self;
        return succeed();
    }
    if (msg == MSG_OPENDS) {
        if (state != 3)
            return failWith(TWCC_SEQERROR);
        if (openFailure != TWCC_SUCCESS)
            return failWith(openFailure);
        application = *origin;
        self = *data;
        state = 4;
        return succeed();
    }
    if (msg == MSG_CLOSEDS) {
        if (state < 4)
            return failWith(TWCC_SEQERROR);
        fakeCameraDialogDestroy();
        state = 3;
        application.Id = 0;
        return succeed();
    }
    return failWith(TWCC_BADPROTOCOL);
}

TW_UINT16 userInterfaceCall(TW_UINT16 msg, TW_USERINTERFACE* ui) {
    if (msg == MSG_ENABLEDS && state == 4) {
        state = 5;
        readEnvironment();
        if (withDialogs)
            fakeCameraDialogCreate(static_cast<HWND>(ui->hParent), FakeDialogEvents{dialogClosed, dialogPicked});
        if (scripted != MSG_NULL)
            SetTimer(nullptr, 0, 200, scriptTimer);
        return succeed();
    }
    if (msg == MSG_DISABLEDS && state >= 5) {
        if (fakeCameraDialog())
            ShowWindow(fakeCameraDialog(), SW_HIDE);
        state = 4;
        return succeed();
    }
    return failWith(TWCC_SEQERROR);
}

TW_UINT16 processEvent(TW_EVENT* event) {
    if (reentry) {
        void (*call)() = reentry;
        reentry = nullptr;
        call();
    }
    // Messages of this registered kind are "for the source's dialog": claimed, nothing to say.
    UINT claimed = RegisterWindowMessageA("FakeSource claims this");
    const MSG* message = static_cast<const MSG*>(event->pEvent);
    if (state >= 5 && message && message->message == claimed) {
        event->TWMessage = MSG_NULL;
        return TWRC_DSEVENT;
    }
    if (state >= 5 && claimEverything) {
        event->TWMessage = MSG_NULL;
        return TWRC_DSEVENT;
    }
    if (state >= 5 && message && fakeCameraDialog() && IsDialogMessageA(fakeCameraDialog(), const_cast<MSG*>(message))) {
        event->TWMessage = MSG_NULL;
        return TWRC_DSEVENT;
    }
    return TWRC_NOTDSEVENT;
}

TW_UINT16 oneValue(TW_CAPABILITY* cap, TW_UINT16 type, TW_UINT32 item) {
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
    auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(cap->hContainer));
    value->ItemType = type;
    value->Item = item;
    GlobalUnlock(cap->hContainer);
    return succeed();
}

TW_UINT16 capabilityCall(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (cap->Cap == ICAP_XFERMECH && msg == MSG_SET && cap->ConType == TWON_ONEVALUE) {
        auto* value = static_cast<TW_ONEVALUE*>(GlobalLock(cap->hContainer));
        TW_UINT16 wanted = static_cast<TW_UINT16>(value->Item);
        GlobalUnlock(cap->hContainer);
        if (wanted != TWSX_NATIVE && wanted != TWSX_MEMORY)
            return failWith(TWCC_BADVALUE);
        mechanism = wanted;
        return succeed();
    }
    if (msg != MSG_GET && msg != MSG_GETCURRENT)
        return failWith(TWCC_BADPROTOCOL);
    switch (cap->Cap) {
    case ICAP_XFERMECH:
        return oneValue(cap, TWTY_UINT16, mechanism);
    case ICAP_PIXELTYPE:
        return oneValue(cap, TWTY_UINT16, TWPT_RGB);
    case ICAP_BITDEPTH:
        return oneValue(cap, TWTY_UINT16, 24);
    case CAP_SUPPORTEDCAPS: {
        static const TW_UINT16 caps[] = {CAP_XFERCOUNT, ICAP_XFERMECH, ICAP_PIXELTYPE, ICAP_BITDEPTH};
        cap->ConType = TWON_ARRAY;
        cap->hContainer = GlobalAlloc(GHND, 6 + sizeof caps);
        auto* array = static_cast<TW_ARRAY*>(GlobalLock(cap->hContainer));
        array->ItemType = TWTY_UINT16;
        array->NumItems = 4;
        std::memcpy(array->ItemList, caps, sizeof caps);
        GlobalUnlock(cap->hContainer);
        return succeed();
    }
    default:
        return failWith(TWCC_BADCAP);
    }
}

TW_UINT16 nativeTransfer(TW_UINT32* handle) {
    int stride = (width * 3 + 3) & ~3;
    HGLOBAL block = GlobalAlloc(GHND, 40 + stride * height);
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    header->biSize = 40;
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biSizeImage = stride * height;
    auto* bits = reinterpret_cast<unsigned char*>(header + 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)  // bottom-up rows, blue first
                bits[(height - 1 - y) * stride + x * 3 + c] = fakePixel(x, y, 2 - c);
    GlobalUnlock(block);
    *handle = reinterpret_cast<TW_UINT32>(block);
    state = 7;
    complete = true;
    conditionCode = TWCC_SUCCESS;
    return TWRC_XFERDONE;
}

TW_UINT16 memoryTransfer(TW_IMAGEMEMXFER* block) {
    if (complete) {
        block->Rows = block->BytesWritten = 0;
        return TWRC_XFERDONE;
    }
    TW_UINT32 rowBytes = width * 3;
    TW_UINT32 rows = block->Memory.Length / rowBytes;
    if (rows == 0)
        return failWith(TWCC_BADVALUE);
    if (rows > static_cast<TW_UINT32>(height - nextRow))
        rows = height - nextRow;
    auto* out = static_cast<unsigned char*>(block->Memory.TheMem);
    for (TW_UINT32 r = 0; r < rows; ++r)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                out[r * rowBytes + x * 3 + c] = fakePixel(x, nextRow + r, c);
    block->Compression = TWCP_NONE;
    block->BytesPerRow = rowBytes;
    block->Columns = width;
    block->Rows = rows;
    block->XOffset = 0;
    block->YOffset = nextRow;
    block->BytesWritten = rows * rowBytes;
    nextRow += rows;
    complete = nextRow >= height;
    state = 7;
    return succeed();
}

TW_UINT16 imageCall(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (state < 6 || msg != MSG_GET)
        return failWith(TWCC_SEQERROR);
    if (dat == DAT_IMAGEINFO) {
        auto* info = static_cast<TW_IMAGEINFO*>(data);
        std::memset(info, 0, sizeof *info);
        info->ImageWidth = width;
        info->ImageLength = height;
        info->SamplesPerPixel = 3;
        info->BitsPerSample[0] = info->BitsPerSample[1] = info->BitsPerSample[2] = 8;
        info->BitsPerPixel = 24;
        info->PixelType = TWPT_RGB;
        return succeed();
    }
    if (dat == DAT_IMAGENATIVEXFER)
        return nativeTransfer(static_cast<TW_UINT32*>(data));
    if (dat == DAT_IMAGEMEMXFER)
        return memoryTransfer(static_cast<TW_IMAGEMEMXFER*>(data));
    return failWith(TWCC_BADPROTOCOL);
}

TW_UINT16 controlCall(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    switch (dat) {
    case DAT_IDENTITY:
        return identityCall(origin, msg, static_cast<TW_IDENTITY*>(data));
    case DAT_USERINTERFACE:
        return userInterfaceCall(msg, static_cast<TW_USERINTERFACE*>(data));
    case DAT_EVENT:
        return processEvent(static_cast<TW_EVENT*>(data));
    case DAT_CAPABILITY:
        return capabilityCall(msg, static_cast<TW_CAPABILITY*>(data));
    case DAT_STATUS: {
        auto* status = static_cast<TW_STATUS*>(data);
        status->ConditionCode = conditionCode;
        status->Reserved = 0;
        conditionCode = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    case DAT_SETUPMEMXFER: {
        // Two rows and a bit preferred, so an application gets several rows per block.
        auto* setup = static_cast<TW_SETUPMEMXFER*>(data);
        setup->MinBufSize = width * 3;
        setup->MaxBufSize = width * 3 * 4;
        setup->Preferred = width * 3 * 2 + 5;
        return succeed();
    }
    case DAT_PENDINGXFERS: {
        if (state < 6)
            return failWith(TWCC_SEQERROR);
        auto* pending = static_cast<TW_PENDINGXFERS*>(data);
        pending->Count = 0;
        state = 5;
        return succeed();
    }
    default:
        return failWith(TWCC_BADPROTOCOL);
    }
}

}  // namespace

extern "C" {

TW_UINT16 TW_CALLINGSTYLE DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                   TW_MEMREF data) {
    ++callCount;
    lastCall = {origin ? origin->Id : 0, dg, dat, msg, data};
    if (state > 3 && origin->Id != application.Id)
        return failWith(TWCC_BADPROTOCOL);
    if (dg == DG_CONTROL)
        return controlCall(origin, dat, msg, data);
    if (dg == DG_IMAGE)
        return imageCall(dat, msg, data);
    return failWith(TWCC_BADPROTOCOL);
}

// Test hooks.
__declspec(dllexport) int FakeSource_callCount() { return callCount; }
__declspec(dllexport) void FakeSource_lastCall(TW_UINT32* originId, TW_UINT32* dg, TW_UINT16* dat, TW_UINT16* msg,
                                               TW_MEMREF* data) {
    *originId = lastCall.originId;
    *dg = lastCall.dg;
    *dat = lastCall.dat;
    *msg = lastCall.msg;
    *data = lastCall.data;
}
__declspec(dllexport) int FakeSource_state() { return state; }
__declspec(dllexport) TW_UINT32 FakeSource_id() { return self.Id; }
__declspec(dllexport) void FakeSource_failOpen(TW_UINT16 code) { openFailure = code; }
__declspec(dllexport) TW_UINT16 FakeSource_notify(TW_UINT16 msg) { return notify(msg); }
__declspec(dllexport) void FakeSource_claimEverything(bool on) { claimEverything = on; }
__declspec(dllexport) void FakeSource_reenterOnNextEvent(void (*call)()) { reentry = call; }
__declspec(dllexport) TW_UINT16 FakeSource_notifyAs(TW_UINT32 originId, TW_UINT32 destId, TW_UINT16 msg) {
    TW_IDENTITY origin = self, dest = application;
    origin.Id = originId;
    dest.Id = destId;
    HMODULE dsm = GetModuleHandleA("TWAIN_32.DLL");
    auto entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(dsm, "DSM_Entry")));
    return entry(&origin, &dest, DG_CONTROL, DAT_NULL, msg, nullptr);
}

}  // extern "C"

// Counts the loads of any fake source in this process, in an environment variable the tests read.
void countLoad() {
    char text[16] = "0";
    GetEnvironmentVariableA("DORVEX_FAKE_SOURCE_LOADS", text, sizeof text);
    SetEnvironmentVariableA("DORVEX_FAKE_SOURCE_LOADS", std::to_string(std::atoi(text) + 1).c_str());
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        fillIdentity();
        countLoad();
    }
    return TRUE;
}
