// TWAIN definitions used by the source, the Source Manager and the test application.
//
// Only the types and constants this project touches. Structures use the 2-byte packing of
// the TWAIN standard header on Windows, for 32-bit and 64-bit code alike; handles and memory
// references are pointer-sized, so a 64-bit build has wider TW_CAPABILITY, TW_EVENT,
// TW_USERINTERFACE and TW_MEMORY. The static_asserts at the end pin every size and offset we
// rely on, for both widths, so a layout mistake fails the build instead of corrupting an
// application's memory.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#define TW_CALLINGSTYLE __stdcall
#else
#define TW_CALLINGSTYLE
#endif

typedef char TW_STR32[34];
typedef uint8_t TW_UINT8;
typedef int16_t TW_INT16;
typedef uint16_t TW_UINT16;
typedef int32_t TW_INT32;
typedef uint32_t TW_UINT32;
typedef uint16_t TW_BOOL;
typedef void* TW_MEMREF;
#ifdef _WIN32
typedef HANDLE TW_HANDLE;
#else
typedef void* TW_HANDLE;
#endif

#pragma pack(push, 2)

struct TW_FIX32 {
    TW_INT16 Whole;
    TW_UINT16 Frac;
};

struct TW_VERSION {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
};

struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
};

struct TW_CAPABILITY {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
};

struct TW_ONEVALUE {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
};

struct TW_ENUMERATION {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
};

struct TW_ARRAY {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT8 ItemList[1];
};

struct TW_RANGE {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
};

struct TW_EVENT {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
};

struct TW_USERINTERFACE {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
};

struct TW_STATUS {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
};

struct TW_PENDINGXFERS {
    TW_UINT16 Count;
    TW_UINT32 Reserved;
};

struct TW_SETUPMEMXFER {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
};

struct TW_IMAGEINFO {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
};

struct TW_FRAME {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
};

struct TW_IMAGELAYOUT {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
};

struct TW_MEMORY {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
};

#pragma pack(pop)

typedef TW_IDENTITY* pTW_IDENTITY;

// TWAIN 2.x: the manager's entry point and memory functions, handed to a source before it is
// opened (DAT_ENTRYPOINT MSG_SET) and to an application on request (MSG_GET), and the
// callback an application registers to receive a source's notifications (DAT_CALLBACK2).
typedef TW_HANDLE(TW_CALLINGSTYLE* DSM_MEMALLOCATE)(TW_UINT32 size);
typedef void(TW_CALLINGSTYLE* DSM_MEMFREE)(TW_HANDLE handle);
typedef TW_MEMREF(TW_CALLINGSTYLE* DSM_MEMLOCK)(TW_HANDLE handle);
typedef void(TW_CALLINGSTYLE* DSM_MEMUNLOCK)(TW_HANDLE handle);

#pragma pack(push, 2)

struct TW_ENTRYPOINT {
    TW_UINT32 Size;  // sizeof(TW_ENTRYPOINT), set by whoever fills it in
    TW_UINT16(TW_CALLINGSTYLE* DSM_Entry)(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                          TW_UINT16 msg, TW_MEMREF data);
    DSM_MEMALLOCATE DSM_MemAllocate;
    DSM_MEMFREE DSM_MemFree;
    DSM_MEMLOCK DSM_MemLock;
    DSM_MEMUNLOCK DSM_MemUnlock;
};

struct TW_CALLBACK2 {
    TW_MEMREF CallBackProc;  // a DSMENTRYPROC-shaped function of the application
    uintptr_t RefCon;
    TW_INT16 Message;
};

#pragma pack(pop)

// Entry points: DS_Entry of a source, DSM_Entry of the Source Manager.
typedef TW_UINT16(TW_CALLINGSTYLE* DSENTRYPROC)(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat,
                                                TW_UINT16 msg, TW_MEMREF data);
typedef TW_UINT16(TW_CALLINGSTYLE* DSMENTRYPROC)(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg,
                                                 TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

// Data groups
constexpr TW_UINT32 DG_CONTROL = 0x0001;
constexpr TW_UINT32 DG_IMAGE = 0x0002;
constexpr TW_UINT32 DG_AUDIO = 0x0004;

// Data argument types
constexpr TW_UINT16 DAT_NULL = 0x0000;
constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
constexpr TW_UINT16 DAT_EVENT = 0x0002;
constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
constexpr TW_UINT16 DAT_PARENT = 0x0004;
constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
constexpr TW_UINT16 DAT_SETUPFILEXFER = 0x0007;
constexpr TW_UINT16 DAT_STATUS = 0x0008;
constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
constexpr TW_UINT16 DAT_XFERGROUP = 0x000A;
constexpr TW_UINT16 DAT_CALLBACK = 0x0010;
constexpr TW_UINT16 DAT_CALLBACK2 = 0x0012;
constexpr TW_UINT16 DAT_ENTRYPOINT = 0x0403;
constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;
constexpr TW_UINT16 DAT_IMAGEFILEXFER = 0x0105;
constexpr TW_UINT16 DAT_CIECOLOR = 0x0106;
constexpr TW_UINT16 DAT_GRAYRESPONSE = 0x0107;
constexpr TW_UINT16 DAT_RGBRESPONSE = 0x0108;
constexpr TW_UINT16 DAT_JPEGCOMPRESSION = 0x0109;
constexpr TW_UINT16 DAT_PALETTE8 = 0x010A;

// Messages
constexpr TW_UINT16 MSG_NULL = 0x0000;
constexpr TW_UINT16 MSG_GET = 0x0001;
constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
constexpr TW_UINT16 MSG_SET = 0x0006;
constexpr TW_UINT16 MSG_RESET = 0x0007;
constexpr TW_UINT16 MSG_QUERYSUPPORT = 0x0008;
constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
constexpr TW_UINT16 MSG_CLOSEDSOK = 0x0103;
constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
constexpr TW_UINT16 MSG_OPENDS = 0x0401;
constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
constexpr TW_UINT16 MSG_ENABLEDSUIONLY = 0x0503;
constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
constexpr TW_UINT16 MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 MSG_REGISTER_CALLBACK = 0x0902;

// SupportedGroups flags of TWAIN 2.x: an application, source or manager that speaks 2.x.
constexpr TW_UINT32 DF_DSM2 = 0x10000000;
constexpr TW_UINT32 DF_APP2 = 0x20000000;
constexpr TW_UINT32 DF_DS2 = 0x40000000;

// Return codes
constexpr TW_UINT16 TWRC_SUCCESS = 0;
constexpr TW_UINT16 TWRC_FAILURE = 1;
constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
constexpr TW_UINT16 TWRC_CANCEL = 3;
constexpr TW_UINT16 TWRC_DSEVENT = 4;
constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
constexpr TW_UINT16 TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWRC_ENDOFLIST = 7;

// Condition codes
constexpr TW_UINT16 TWCC_SUCCESS = 0;
constexpr TW_UINT16 TWCC_BUMMER = 1;
constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
constexpr TW_UINT16 TWCC_NODS = 3;
constexpr TW_UINT16 TWCC_MAXCONNECTIONS = 4;
constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
constexpr TW_UINT16 TWCC_BADCAP = 6;
constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
constexpr TW_UINT16 TWCC_BADVALUE = 10;
constexpr TW_UINT16 TWCC_SEQERROR = 11;
constexpr TW_UINT16 TWCC_BADDEST = 12;

// Container types
constexpr TW_UINT16 TWON_ARRAY = 3;
constexpr TW_UINT16 TWON_ENUMERATION = 4;
constexpr TW_UINT16 TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWON_RANGE = 6;
constexpr TW_UINT16 TWON_DONTCARE16 = 0xFFFF;

// Item types
constexpr TW_UINT16 TWTY_INT8 = 0x0000;
constexpr TW_UINT16 TWTY_INT16 = 0x0001;
constexpr TW_UINT16 TWTY_INT32 = 0x0002;
constexpr TW_UINT16 TWTY_UINT8 = 0x0003;
constexpr TW_UINT16 TWTY_UINT16 = 0x0004;
constexpr TW_UINT16 TWTY_UINT32 = 0x0005;
constexpr TW_UINT16 TWTY_BOOL = 0x0006;
constexpr TW_UINT16 TWTY_FIX32 = 0x0007;
constexpr TW_UINT16 TWTY_STR32 = 0x0009;

// Capabilities
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001;
constexpr TW_UINT16 ICAP_COMPRESSION = 0x0100;
constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
constexpr TW_UINT16 ICAP_UNITS = 0x0102;
constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
constexpr TW_UINT16 CAP_SUPPORTEDCAPS = 0x1005;
constexpr TW_UINT16 CAP_UICONTROLLABLE = 0x100E;
constexpr TW_UINT16 CAP_DEVICEONLINE = 0x100F;
constexpr TW_UINT16 ICAP_PHYSICALWIDTH = 0x1111;
constexpr TW_UINT16 ICAP_PHYSICALHEIGHT = 0x1112;
constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
constexpr TW_UINT16 ICAP_BITORDER = 0x111C;
constexpr TW_UINT16 ICAP_PIXELFLAVOR = 0x111F;
constexpr TW_UINT16 ICAP_PLANARCHUNKY = 0x1120;
constexpr TW_UINT16 ICAP_JPEGPIXELTYPE = 0x1128;
constexpr TW_UINT16 ICAP_BITDEPTH = 0x112B;

// Capability values
constexpr TW_UINT16 TWSX_NATIVE = 0;
constexpr TW_UINT16 TWSX_FILE = 1;
constexpr TW_UINT16 TWSX_MEMORY = 2;
constexpr TW_UINT16 TWUN_INCHES = 0;
constexpr TW_UINT16 TWUN_PIXELS = 5;
constexpr TW_UINT16 TWPT_BW = 0;
constexpr TW_UINT16 TWPT_GRAY = 1;
constexpr TW_UINT16 TWPT_RGB = 2;
constexpr TW_UINT16 TWCP_NONE = 0;
constexpr TW_UINT16 TWPF_CHOCOLATE = 0;
constexpr TW_UINT16 TWPC_CHUNKY = 0;
constexpr TW_UINT16 TWBO_MSBFIRST = 1;

// Language and country
constexpr TW_UINT16 TWLG_USA = 13;
constexpr TW_UINT16 TWCY_USA = 1;

// Layouts as the 32-bit Windows compiler lays them out with the standard header.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TW_FIX32) == 4 && offsetof(TW_FIX32, Frac) == 2, "TW_FIX32");
static_assert(sizeof(TW_VERSION) == 42 && offsetof(TW_VERSION, Info) == 8, "TW_VERSION");
static_assert(sizeof(TW_IDENTITY) == 156, "TW_IDENTITY size");
static_assert(offsetof(TW_IDENTITY, Version) == 4 && offsetof(TW_IDENTITY, ProtocolMajor) == 46 &&
                  offsetof(TW_IDENTITY, ProtocolMinor) == 48 &&
                  offsetof(TW_IDENTITY, SupportedGroups) == 50 &&
                  offsetof(TW_IDENTITY, Manufacturer) == 54 &&
                  offsetof(TW_IDENTITY, ProductFamily) == 88 &&
                  offsetof(TW_IDENTITY, ProductName) == 122,
              "TW_IDENTITY offsets");
static_assert(sizeof(TW_CAPABILITY) == 8 && offsetof(TW_CAPABILITY, ConType) == 2 &&
                  offsetof(TW_CAPABILITY, hContainer) == 4,
              "TW_CAPABILITY");
static_assert(sizeof(TW_ONEVALUE) == 6 && offsetof(TW_ONEVALUE, Item) == 2, "TW_ONEVALUE");
static_assert(offsetof(TW_ENUMERATION, NumItems) == 2 && offsetof(TW_ENUMERATION, CurrentIndex) == 6 &&
                  offsetof(TW_ENUMERATION, DefaultIndex) == 10 &&
                  offsetof(TW_ENUMERATION, ItemList) == 14,
              "TW_ENUMERATION");
static_assert(offsetof(TW_ARRAY, NumItems) == 2 && offsetof(TW_ARRAY, ItemList) == 6, "TW_ARRAY");
static_assert(sizeof(TW_RANGE) == 22 && offsetof(TW_RANGE, MinValue) == 2 &&
                  offsetof(TW_RANGE, MaxValue) == 6 && offsetof(TW_RANGE, StepSize) == 10 &&
                  offsetof(TW_RANGE, DefaultValue) == 14 && offsetof(TW_RANGE, CurrentValue) == 18,
              "TW_RANGE");
static_assert(sizeof(TW_EVENT) == 6 && offsetof(TW_EVENT, TWMessage) == 4, "TW_EVENT");
static_assert(sizeof(TW_USERINTERFACE) == 8 && offsetof(TW_USERINTERFACE, ModalUI) == 2 &&
                  offsetof(TW_USERINTERFACE, hParent) == 4,
              "TW_USERINTERFACE");
static_assert(sizeof(TW_STATUS) == 4 && offsetof(TW_STATUS, Reserved) == 2, "TW_STATUS");
static_assert(sizeof(TW_PENDINGXFERS) == 6 && offsetof(TW_PENDINGXFERS, Reserved) == 2,
              "TW_PENDINGXFERS");
static_assert(sizeof(TW_SETUPMEMXFER) == 12 && offsetof(TW_SETUPMEMXFER, MaxBufSize) == 4 &&
                  offsetof(TW_SETUPMEMXFER, Preferred) == 8,
              "TW_SETUPMEMXFER");
static_assert(sizeof(TW_IMAGEINFO) == 42 && offsetof(TW_IMAGEINFO, YResolution) == 4 &&
                  offsetof(TW_IMAGEINFO, ImageWidth) == 8 && offsetof(TW_IMAGEINFO, ImageLength) == 12 &&
                  offsetof(TW_IMAGEINFO, SamplesPerPixel) == 16 &&
                  offsetof(TW_IMAGEINFO, BitsPerSample) == 18 &&
                  offsetof(TW_IMAGEINFO, BitsPerPixel) == 34 && offsetof(TW_IMAGEINFO, Planar) == 36 &&
                  offsetof(TW_IMAGEINFO, PixelType) == 38 && offsetof(TW_IMAGEINFO, Compression) == 40,
              "TW_IMAGEINFO");
static_assert(sizeof(TW_FRAME) == 16 && offsetof(TW_FRAME, Top) == 4 && offsetof(TW_FRAME, Right) == 8 &&
                  offsetof(TW_FRAME, Bottom) == 12,
              "TW_FRAME");
static_assert(sizeof(TW_IMAGELAYOUT) == 28 && offsetof(TW_IMAGELAYOUT, DocumentNumber) == 16 &&
                  offsetof(TW_IMAGELAYOUT, PageNumber) == 20 && offsetof(TW_IMAGELAYOUT, FrameNumber) == 24,
              "TW_IMAGELAYOUT");
static_assert(sizeof(TW_MEMORY) == 12 && offsetof(TW_MEMORY, Length) == 4 && offsetof(TW_MEMORY, TheMem) == 8,
              "TW_MEMORY");
static_assert(sizeof(TW_IMAGEMEMXFER) == 38 && offsetof(TW_IMAGEMEMXFER, BytesPerRow) == 2 &&
                  offsetof(TW_IMAGEMEMXFER, Columns) == 6 && offsetof(TW_IMAGEMEMXFER, Rows) == 10 &&
                  offsetof(TW_IMAGEMEMXFER, XOffset) == 14 && offsetof(TW_IMAGEMEMXFER, YOffset) == 18 &&
                  offsetof(TW_IMAGEMEMXFER, BytesWritten) == 22 && offsetof(TW_IMAGEMEMXFER, Memory) == 26,
              "TW_IMAGEMEMXFER");
static_assert(sizeof(TW_ENTRYPOINT) == 24 && offsetof(TW_ENTRYPOINT, DSM_Entry) == 4 &&
                  offsetof(TW_ENTRYPOINT, DSM_MemUnlock) == 20,
              "TW_ENTRYPOINT");
static_assert(sizeof(TW_CALLBACK2) == 10 && offsetof(TW_CALLBACK2, Message) == 8, "TW_CALLBACK2");
#endif

// Layouts of the 64-bit Windows compiler with the same 2-byte packing: pointer-sized handles
// and references, everything else where the 32-bit layout has it.
#if defined(_WIN64)
static_assert(sizeof(TW_FIX32) == 4 && sizeof(TW_VERSION) == 42, "TW_FIX32, TW_VERSION");
static_assert(sizeof(TW_IDENTITY) == 156 && offsetof(TW_IDENTITY, ProtocolMajor) == 46 &&
                  offsetof(TW_IDENTITY, SupportedGroups) == 50 && offsetof(TW_IDENTITY, Manufacturer) == 54 &&
                  offsetof(TW_IDENTITY, ProductName) == 122,
              "TW_IDENTITY");
static_assert(sizeof(TW_CAPABILITY) == 12 && offsetof(TW_CAPABILITY, ConType) == 2 &&
                  offsetof(TW_CAPABILITY, hContainer) == 4,
              "TW_CAPABILITY");
static_assert(sizeof(TW_ONEVALUE) == 6 && offsetof(TW_ONEVALUE, Item) == 2, "TW_ONEVALUE");
static_assert(offsetof(TW_ENUMERATION, ItemList) == 14 && offsetof(TW_ARRAY, ItemList) == 6 &&
                  sizeof(TW_RANGE) == 22,
              "containers");
static_assert(sizeof(TW_EVENT) == 10 && offsetof(TW_EVENT, TWMessage) == 8, "TW_EVENT");
static_assert(sizeof(TW_USERINTERFACE) == 12 && offsetof(TW_USERINTERFACE, hParent) == 4, "TW_USERINTERFACE");
static_assert(sizeof(TW_STATUS) == 4 && sizeof(TW_PENDINGXFERS) == 6 && sizeof(TW_SETUPMEMXFER) == 12,
              "TW_STATUS, TW_PENDINGXFERS, TW_SETUPMEMXFER");
static_assert(sizeof(TW_IMAGEINFO) == 42 && offsetof(TW_IMAGEINFO, Compression) == 40, "TW_IMAGEINFO");
static_assert(sizeof(TW_IMAGELAYOUT) == 28 && offsetof(TW_IMAGELAYOUT, FrameNumber) == 24, "TW_IMAGELAYOUT");
static_assert(sizeof(TW_MEMORY) == 16 && offsetof(TW_MEMORY, Length) == 4 && offsetof(TW_MEMORY, TheMem) == 8,
              "TW_MEMORY");
static_assert(sizeof(TW_IMAGEMEMXFER) == 42 && offsetof(TW_IMAGEMEMXFER, BytesWritten) == 22 &&
                  offsetof(TW_IMAGEMEMXFER, Memory) == 26,
              "TW_IMAGEMEMXFER");
static_assert(sizeof(TW_ENTRYPOINT) == 44 && offsetof(TW_ENTRYPOINT, DSM_Entry) == 4 &&
                  offsetof(TW_ENTRYPOINT, DSM_MemAllocate) == 12 && offsetof(TW_ENTRYPOINT, DSM_MemUnlock) == 36,
              "TW_ENTRYPOINT");
static_assert(sizeof(TW_CALLBACK2) == 18 && offsetof(TW_CALLBACK2, RefCon) == 8 &&
                  offsetof(TW_CALLBACK2, Message) == 16,
              "TW_CALLBACK2");
#endif
