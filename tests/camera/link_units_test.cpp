// The camera link without a camera: the progress window driven through its real window, the
// command encodings against their tables, the status record, dumps, and the failure paths of
// a port that is not there.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "resources/resource_ids.h"
#include "source/module.h"
#include "tests/camera/link_test_support.h"

using linktest::LinkTest;
using linktest::timed;

namespace {

LPARAM clickAt(const RECT& rect, int dx = 0, int dy = 0) {
    return MAKELPARAM((rect.left + rect.right) / 2 + dx, (rect.top + rect.bottom) / 2 + dy);
}

bool clickPending(HWND window) {
    MSG message;
    return PeekMessageA(&message, window, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_NOREMOVE) != 0;
}

void dropClicks(HWND window) {
    MSG message;
    while (PeekMessageA(&message, window, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE)) {
    }
}

bool buttonPushed(HWND button) {
    return (SendMessageA(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
}

}  // namespace

// ---- progress window ----

using ProgressWindow = LinkTest;

TEST_F(ProgressWindow, StartsHiddenWithCancelRectOverTheButton) {
    HWND window = link->hwnd();
    EXPECT_FALSE(IsWindowVisible(window));
    const RECT& r = link->cancelRect;
    ASSERT_LT(r.left, r.right);
    ASSERT_LT(r.top, r.bottom);
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    EXPECT_EQ(ChildWindowFromPoint(window, centre), link->item(IDCANCEL));
    POINT outside = {r.left - 2, r.top - 2};
    EXPECT_NE(ChildWindowFromPoint(window, outside), link->item(IDCANCEL));
    EXPECT_NE(link->item(IDC_PROGRESS_BAR), nullptr);
}

TEST_F(ProgressWindow, SuppressedWindowIsLeftAlone) {
    ASSERT_EQ(link->progressSuppressed, 1);
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, clickAt(link->cancelRect));
    EXPECT_EQ(link->startProgress(0, 100, 1), 0);
    EXPECT_EQ(link->stepProgress(50), 1);
    EXPECT_EQ(link->cancelRequested, 0);
    EXPECT_TRUE(clickPending(link->hwnd()));  // not taken
    EXPECT_EQ(SendMessageA(link->item(IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0), 0);
    dropClicks(link->hwnd());
}

TEST_F(ProgressWindow, OneClickPerStepAndOnlyInsideCancel) {
    link->progressSuppressed = 0;
    HWND bar = link->item(IDC_PROGRESS_BAR);
    HWND cancel = link->item(IDCANCEL);
    SendMessageA(cancel, BM_SETSTATE, TRUE, 0);
    ASSERT_EQ(link->startProgress(0, 100, 1), 1);
    EXPECT_FALSE(buttonPushed(cancel));
    PBRANGE range{};
    SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);

    // Two clicks between steps: outside Cancel first, then inside.
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, clickAt(link->cancelRect, 0, -30));
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, clickAt(link->cancelRect));
    ASSERT_EQ(link->stepProgress(10), 1);
    EXPECT_EQ(link->cancelRequested, 0);
    EXPECT_FALSE(buttonPushed(cancel));
    EXPECT_TRUE(clickPending(link->hwnd()));
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 10);
    ASSERT_EQ(link->stepProgress(20), 1);
    EXPECT_EQ(link->cancelRequested, 1);
    EXPECT_TRUE(buttonPushed(cancel));
    EXPECT_FALSE(clickPending(link->hwnd()));
    // A count beyond the expected size shows a full bar.
    ASSERT_EQ(link->stepProgress(250), 1);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
    // The next download starts with the button released.
    ASSERT_EQ(link->startProgress(0, 100, 1), 1);
    EXPECT_FALSE(buttonPushed(cancel));
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
}

TEST_F(ProgressWindow, ClickAddressedToTheButtonCounts) {
    link->progressSuppressed = 0;
    ASSERT_EQ(link->startProgress(0, 100, 1), 1);
    // Without the capture a click goes to the button, in the button's own coordinates.
    PostMessageA(link->item(IDCANCEL), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ASSERT_EQ(link->stepProgress(5), 1);
    EXPECT_EQ(link->cancelRequested, 1);
}

TEST_F(ProgressWindow, MissingBarFailsTheStepButStillSeesTheClick) {
    link->progressSuppressed = 0;
    DestroyWindow(link->item(IDC_PROGRESS_BAR));
    EXPECT_EQ(link->startProgress(0, 100, 1), 0);
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, clickAt(link->cancelRect));
    EXPECT_EQ(link->stepProgress(10), 0);
    EXPECT_EQ(link->cancelRequested, 1);
}

TEST_F(ProgressWindow, TextsFollowTheUserLanguage) {
    wchar_t text[64] = {};
    GetWindowTextW(link->item(IDCANCEL), text, 64);
    wchar_t caption[64] = {};
    GetWindowTextW(link->hwnd(), caption, 64);
    EXPECT_STREQ(caption, L"Zelmar Dorvex");
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE)
        EXPECT_STREQ(text, L"\xFF77\xFF6C\xFF9D\xFF7E\xFF99");  // half-width katakana "kyanseru"
    else
        EXPECT_STREQ(text, L"Cancel");
    // Both sets are there whatever the language.
    for (WORD language : {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)})
        EXPECT_NE(FindResourceExA(moduleInstance(), MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_PROGRESS), language),
                  nullptr)
            << language;
}

TEST_F(ProgressWindow, FailedDownloadHidesTheWindowAndRestoresState) {
    // No port is open: the download fails on its first byte and must clean up after itself.
    link->progressSuppressed = 1;
    EXPECT_FALSE(link->GetJpeg(0x2001, 150000, false));
    EXPECT_FALSE(IsWindowVisible(link->hwnd()));
    EXPECT_NE(GetCapture(), link->hwnd());
    EXPECT_EQ(link->progressSuppressed, 1);
    EXPECT_EQ(link->progressTotal, 0u);
    EXPECT_EQ(link->buffers->jpeg.data, nullptr);
    EXPECT_EQ(link->linkError, 1);
}

// ---- encodings and records ----

TEST(CommandCodes, BitRateTableAndItsFallback) {
    EXPECT_EQ(bitRateCode(9600), 0x0020);
    EXPECT_EQ(bitRateCode(19200), 0x0040);
    EXPECT_EQ(bitRateCode(38400), 0x0080);
    EXPECT_EQ(bitRateCode(57600), 0x0100);
    EXPECT_EQ(bitRateCode(115200), 0x0200);
    // Rows below 9600 are never searched; unknown rates get the 9600 code too.
    for (uint32_t rate : {300u, 600u, 1200u, 2400u, 4800u, 14400u, 0u, 230400u}) EXPECT_EQ(bitRateCode(rate), 0x0020) << rate;
}

TEST(CommandCodes, LineSettingsWord) {
    EXPECT_EQ(EncodeLineSettings(NOPARITY, ONESTOPBIT, 8, 2), 0x0011);
    EXPECT_EQ(EncodeLineSettings(ODDPARITY, TWOSTOPBITS, 7, 4), 0x000E);
    EXPECT_EQ(EncodeLineSettings(EVENPARITY, ONESTOPBIT, 8, 6), 0x0005);
    EXPECT_EQ(EncodeLineSettings(NOPARITY, ONE5STOPBITS, 5, 0), 0x0001);
    EXPECT_EQ(EncodeLineSettings(MARKPARITY, TWOSTOPBITS, 7, 2), 0x0016);
}

TEST(CommandCodes, StatusRecordFieldsAndShortReplies) {
    uint8_t reply[39] = {};
    reply[2] = 0x02;
    reply[3] = 0x0C;
    reply[6] = 1;
    reply[7] = 2;
    reply[8] = 0x81;
    reply[12] = 0x2C;
    reply[13] = 0x01;
    const uint8_t clock[6] = {97, 12, 31, 23, 59, 58};
    std::memcpy(reply + 16, clock, 6);
    StatusRecord status;
    ASSERT_TRUE(StatusRecord::parse(reply, sizeof reply, status));
    EXPECT_EQ(status.resultCode, 0x0C02);
    EXPECT_EQ(status.powerIndex(), 3);
    EXPECT_EQ(status.powerB, 2);
    EXPECT_TRUE(status.cardPresent());
    EXPECT_EQ(status.picturesTaken, 300);
    EXPECT_EQ(status.year, 97);
    EXPECT_EQ(status.second, 58);
    EXPECT_FALSE(StatusRecord::parse(reply, 21, status));
    EXPECT_FALSE(StatusRecord::parse(nullptr, 39, status));
}

using LinkState = LinkTest;

TEST_F(LinkState, FreshLinkAndItsBuffers) {
    EXPECT_EQ(link->linkError, 0);
    EXPECT_EQ(link->cancelRequested, 0);
    EXPECT_EQ(link->readTimeoutMs, 3000u);
    EXPECT_EQ(link->writeTimeoutMs, 3000u);
    EXPECT_EQ(link->port, &link->linkPort);
    EXPECT_FALSE(link->isConnected());
    EXPECT_EQ(link->port->portNumber, 0);
    const LinkBuffers& buffers = *link->buffers;
    ASSERT_EQ(buffers.statusMessage.count, 9u);
    for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(buffers.statusMessage.data[i], 0);
    EXPECT_EQ(buffers.statusRecord.count, 34u);
    EXPECT_EQ(buffers.jpeg.data, nullptr);
    // The nine zero bytes read as result 0. Until a GetStat arrives the record is the 34 zero
    // bytes it was made with: it reads as a camera without a card, pictures or clock, so
    // nothing is listed and no date is offered from it.
    EXPECT_EQ(link->lastResultCode(), 0);
    StatusRecord status;
    status.picturesTaken = 7;
    status.flags = 1;
    status.month = 9;
    ASSERT_TRUE(link->statusRecord(status));
    EXPECT_EQ(status.picturesTaken, 0);
    EXPECT_FALSE(status.cardPresent());
    EXPECT_EQ(status.month, 0);
    EXPECT_EQ(status.powerIndex(), 0);
    // Too short for a result word.
    ASSERT_TRUE(LinkBuffers::resize(link->buffers->statusMessage, 3));
    EXPECT_EQ(link->lastResultCode(), -1);
    uint16_t word = 0;
    EXPECT_FALSE(link->statusWord(2, word));
    EXPECT_TRUE(link->statusWord(0, word));
    EXPECT_FALSE(link->statusWord(0xFFFFFFFFu, word));
}

TEST_F(LinkState, BufferResizeKeepsThePrefixAndReleaseEmpties) {
    LinkBuffer buffer;
    ASSERT_TRUE(LinkBuffers::replace(buffer, 4));
    std::memcpy(buffer.data, "abcd", 4);
    ASSERT_TRUE(LinkBuffers::resize(buffer, 100000));
    EXPECT_EQ(std::memcmp(buffer.data, "abcd", 4), 0);
    EXPECT_EQ(buffer.count, 100000u);
    ASSERT_TRUE(LinkBuffers::resize(buffer, 2));
    EXPECT_EQ(std::memcmp(buffer.data, "ab", 2), 0);
    ASSERT_TRUE(LinkBuffers::resize(buffer, 0));
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.count, 0u);
    // An impossible size leaves the buffer as it was.
    ASSERT_TRUE(LinkBuffers::replace(buffer, 8));
    EXPECT_FALSE(LinkBuffers::resize(buffer, 0xFFFFFFF0u));
    EXPECT_EQ(buffer.count, 8u);
    EXPECT_NE(buffer.data, nullptr);
    LinkBuffers::release(buffer);
}

TEST_F(LinkState, SetDateNeedsAClockToSend) {
    ASSERT_TRUE(LinkBuffers::replace(link->buffers->statusRecord, 20));
    EXPECT_FALSE(link->setStatusClock(1, 2, 3, 4, 5, 6));
    const uint32_t writes = link->port->writeCalls;
    EXPECT_FALSE(link->SetDate(false));
    EXPECT_EQ(link->port->writeCalls, writes);
}

TEST_F(LinkState, WriteDumpWritesExactlyTheBytes) {
    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof dir, dir), 0u);
    const std::string path = std::string(dir) + "dorvex-dump-test.dat";
    const uint8_t bytes[] = {0x00, 0x1A, 0x0D, 0x0A, 0xFF};  // no text-mode translation
    CameraLink::WriteDump(path.c_str(), bytes, sizeof bytes);
    std::vector<uint8_t> back;
    ASSERT_TRUE(linktest::readFile(path, back));
    EXPECT_EQ(back, std::vector<uint8_t>(bytes, bytes + sizeof bytes));
    CameraLink::WriteDump(path.c_str(), nullptr, 0);
    ASSERT_TRUE(linktest::readFile(path, back));
    EXPECT_TRUE(back.empty());
    DeleteFileA(path.c_str());
    // A place that cannot be written is skipped without a trace.
    CameraLink::WriteDump("Q:\\no\\such\\dir\\x.dat", bytes, sizeof bytes);
    EXPECT_EQ(GetFileAttributesA("Q:\\no\\such\\dir\\x.dat"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LinkState, MissingPortFailsAtOnce) {
    // COM3 has no device in the test environment.
    const double seconds = timed([&] { EXPECT_FALSE(link->OpenPort(3, 9600)); });
    EXPECT_LT(seconds, 1.0);
    EXPECT_FALSE(link->port->isOpen());
    EXPECT_FALSE(link->isConnected());
    EXPECT_EQ(link->linkError, 0);
    EXPECT_EQ(link->ClosePort(), 1);
    EXPECT_EQ(link->ClosePort(), 1);
    // Every byte operation on the closed port fails and latches.
    EXPECT_FALSE(link->GetIOCap(false));
    EXPECT_EQ(link->linkError, 1);
}
