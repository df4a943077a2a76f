// The camera link against the simulated camera on a pty. Each group runs under its own
// simulator with the faults it needs (see CMakeLists.txt); the wrapper script also checks the
// simulator's trace of what went over the line.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "tests/camera/link_test_support.h"

using linktest::LinkTest;
using linktest::bytesOf;
using linktest::readFile;
using linktest::timed;

namespace {

const uint32_t listedRates[] = {9600, 19200, 38400, 57600, 115200};

// Reads picture number's information; returns its handle and expected size (0 on failure).
bool pictureInfo(CameraLink& link, uint16_t number, uint16_t& handle, uint32_t& expected) {
    if (!link.GetImgInfo(number, &handle, false)) return false;
    uint16_t kib = 0;
    if (!link.statusWord(6, kib)) return false;
    expected = kib ? kib * 1024u : 400000u;
    return true;
}

// Watches the progress bar from inside a download: every position it is given, and whether
// the progress window held the mouse capture at that moment.
struct StepRecorder {
    static HWND window;
    static std::vector<int> positions;
    static std::vector<bool> captured;
    HHOOK hook;
    explicit StepRecorder(HWND progress) {
        window = progress;
        positions.clear();
        captured.clear();
        hook = SetWindowsHookExA(WH_CALLWNDPROC, record, nullptr, GetCurrentThreadId());
    }
    ~StepRecorder() { UnhookWindowsHookEx(hook); }
    static LRESULT CALLBACK record(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && message->message == PBM_SETPOS && GetParent(message->hwnd) == window) {
            positions.push_back(static_cast<int>(message->wParam));
            captured.push_back(GetCapture() == window);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};
HWND StepRecorder::window = nullptr;
std::vector<int> StepRecorder::positions;
std::vector<bool> StepRecorder::captured;

// A link on the simulated camera, with the steps its tests keep taking: connect and find a
// picture, compare with the card's files.
class SimLinkTest : public LinkTest {
protected:
    // Connects the camera dialog's way at rate and reads picture number's information into
    // handle and size.
    bool openPicture(uint16_t number, uint32_t rate = 115200) {
        return connect(rate) && pictureInfo(*link, number, handle, size);
    }
    // Picture number's file on the simulator's card (kinds as for cardFile); a failure when it
    // cannot be read.
    static std::vector<uint8_t> card(unsigned number, const std::string& kind) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(readFile(cardFile(number, kind), bytes)) << cardFile(number, kind);
        return bytes;
    }
    uint16_t handle = 0;
    uint32_t size = 0;
};

}  // namespace

// ---- connection, bit rates, reopening ----

using Connect = SimLinkTest;

TEST_F(Connect, EveryListedBitRateOnTheOpenPort) {
    uint32_t before = link->enquiriesSent;
    ASSERT_TRUE(setio(9600));
    // A closed port is opened and checked first: GetIOCap, SetIO, GetIOCap, GetStat.
    EXPECT_EQ(link->enquiriesSent - before, 4u);
    EXPECT_TRUE(link->isConnected());
    for (uint32_t rate : listedRates) {
        before = link->enquiriesSent;
        ASSERT_TRUE(setio(rate)) << rate;
        // On the open, connected port there is no reopening: SetIO, GetIOCap, GetStat.
        EXPECT_EQ(link->enquiriesSent - before, 3u) << rate;
        StatusRecord status;
        ASSERT_TRUE(link->statusRecord(status));
        EXPECT_EQ(status.picturesTaken, 6);
        EXPECT_TRUE(status.cardPresent());
        EXPECT_EQ(status.powerIndex(), 2);
        ASSERT_TRUE(link->GetStat(0, false)) << rate;
        EXPECT_EQ(link->linkError, 0);
    }
    ASSERT_TRUE(setio(9600));
}

TEST_F(Connect, ClosedPortNeedsTheCameraAtTheRequestedRate) {
    ASSERT_TRUE(connect(115200));
    link->ClosePort();
    EXPECT_FALSE(link->isConnected());
    // The camera still runs at 115200: a reopening at 9600 meets silence and gives up in
    // bounded time, with the line failure latched.
    const double seconds = timed([&] { EXPECT_FALSE(setio(9600)); });
    EXPECT_LT(seconds, 4.0);
    EXPECT_EQ(link->linkError, 1);
    EXPECT_FALSE(link->isConnected());
    link->linkError = 0;
    uint32_t before = link->enquiriesSent;
    ASSERT_TRUE(setio(115200));
    EXPECT_EQ(link->enquiriesSent - before, 4u);
    ASSERT_TRUE(setio(9600));
}

TEST_F(Connect, AnotherPortReopensAndAMissingPortFails) {
    ASSERT_TRUE(setio(9600));
    // COM4 has no device behind it: the open fails at once and the connection is gone.
    const double seconds = timed([&] { EXPECT_FALSE(setio(9600, 4)); });
    EXPECT_LT(seconds, 1.0);
    EXPECT_FALSE(link->isConnected());
    EXPECT_EQ(link->linkError, 0);
    EXPECT_FALSE(link->SetIO(0, 9600, NOPARITY, ONESTOPBIT, 8, 2, false));
    EXPECT_FALSE(link->SetIO(5, 9600, NOPARITY, ONESTOPBIT, 8, 2, false));
    const uint32_t before = link->enquiriesSent;
    ASSERT_TRUE(setio(9600));
    EXPECT_EQ(link->enquiriesSent - before, 4u);
    EXPECT_EQ(link->port->portNumber, port);
}

TEST_F(Connect, UnlistedBitRateSendsThe9600Code) {
    ASSERT_TRUE(setio(9600));
    // The camera takes code 0x0020 and stays at 9600 while our port moves to 4800, so the
    // confirming exchange meets a camera that hears noise.
    EXPECT_FALSE(setio(4800));
    EXPECT_FALSE(link->isConnected());
    EXPECT_EQ(link->linkError, 1);
    link->linkError = 0;
    ASSERT_TRUE(setio(9600));
}

TEST_F(Connect, DumpFilesHoldTheStatusMessages) {
    const std::string dir = linktest::env("DORVEX_TEST_TMP");
    ASSERT_FALSE(dir.empty());
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    ASSERT_TRUE(link->SetIO(port, 9600, NOPARITY, ONESTOPBIT, 8, 2, true));
    std::vector<uint8_t> file;
    ASSERT_TRUE(readFile(dir + "\\SetIO.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusMessage));
    EXPECT_EQ(file.size(), 39u);  // the GetStat reply that ends SetIO
    ASSERT_TRUE(link->GetIOCap(true));
    ASSERT_TRUE(readFile(dir + "\\GetIOCap.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusMessage));
    ASSERT_TRUE(link->setStatusClock(7, 8, 9, 10, 11, 12));
    ASSERT_TRUE(link->SetDate(true));
    ASSERT_TRUE(readFile(dir + "\\SetDate.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusMessage));
    ASSERT_TRUE(link->GetStat(0, true));
    ASSERT_TRUE(readFile(dir + "\\GetStat.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusRecord));
    StatusRecord status;
    ASSERT_TRUE(link->statusRecord(status));
    EXPECT_EQ(status.year, 7);
    EXPECT_EQ(status.month, 8);
    EXPECT_EQ(status.day, 9);
    EXPECT_EQ(status.hour, 10);
    EXPECT_EQ(status.minute, 11);
    ASSERT_TRUE(link->GetImgInfo(1, &handle, true));
    ASSERT_TRUE(readFile(dir + "\\ImgInfo.inf", file));
    EXPECT_EQ(file, bytesOf(link->buffers->imageInfo));
    ASSERT_TRUE(readFile(dir + "\\ImgInfo.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusMessage));
    ASSERT_TRUE(link->GetThumb(handle, true));
    ASSERT_TRUE(readFile(dir + "\\Thumb.jpg", file));
    EXPECT_EQ(file, bytesOf(link->buffers->thumbnail));
    ASSERT_TRUE(readFile(dir + "\\Thumb.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusMessage));
    ASSERT_TRUE(link->GetJpeg(handle, 400000, true));
    ASSERT_TRUE(readFile(dir + "\\Jpeg.jpg", file));
    EXPECT_EQ(file, bytesOf(link->buffers->jpeg));
    EXPECT_GT(file.size(), 10000u);
    ASSERT_TRUE(readFile(dir + "\\Jpeg.dat", file));
    EXPECT_EQ(file, bytesOf(link->buffers->statusMessage));
    link->hideProgress();
    ASSERT_TRUE(link->CancelTransfer(true));
    ASSERT_TRUE(readFile(dir + "\\Cancel.dat", file));
    EXPECT_EQ(file.size(), 11u);
    // Without the switch nothing is written.
    DeleteFileA((dir + "\\GetIOCap.dat").c_str());
    ASSERT_TRUE(link->GetIOCap(false));
    EXPECT_FALSE(linktest::fileExists(dir + "\\GetIOCap.dat"));
}

// ---- faults on the line and refusals by the camera ----

using Faults = SimLinkTest;

TEST_F(Faults, FourBadChecksumsFailWithoutLineError) {
    ASSERT_TRUE(setio(9600));
    EXPECT_FALSE(link->GetImgInfo(1, &handle, false));
    EXPECT_EQ(link->receiveStats.naks, 4u);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(link->buffers->imageInfo.data, nullptr);
    EXPECT_EQ(link->buffers->imageInfo.count, 0u);
    // The faults are used up; the camera and the link carry on.
    ASSERT_TRUE(link->GetImgInfo(1, &handle, false));
    EXPECT_EQ(link->receiveStats.naks, 0u);
}

TEST_F(Faults, ThreeBadChecksumsAreRetransmitted) {
    ASSERT_TRUE(setio(9600));
    ASSERT_TRUE(link->GetImgInfo(1, &handle, false));
    EXPECT_EQ(link->receiveStats.naks, 3u);
    EXPECT_EQ(bytesOf(link->buffers->imageInfo), card(1, "info"));
}

TEST_F(Faults, RepeatedBlocksDoNotDoubleTheCount) {
    ASSERT_TRUE(openPicture(1));
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(link->receiveStats.repeats, 2u);
    const std::vector<uint8_t> expected = card(1, "jpg");
    EXPECT_EQ(link->buffers->jpeg.count, expected.size());
    EXPECT_EQ(bytesOf(link->buffers->jpeg), expected);
    ASSERT_TRUE(setio(9600));
}

TEST_F(Faults, ExtraEnquiryBeforeAPacketIsTolerated) {
    ASSERT_TRUE(setio(9600));
    ASSERT_TRUE(link->GetImgInfo(1, &handle, false));
    EXPECT_EQ(link->receiveStats.extraEnquiries, 2u);
    EXPECT_EQ(bytesOf(link->buffers->imageInfo), card(1, "info"));
}

TEST_F(Faults, BusyCameraIsReportedAndRetried) {
    EXPECT_FALSE(setio(9600));
    EXPECT_EQ(link->lastResultCode(), ResultBusy);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_FALSE(link->isConnected());
    ASSERT_TRUE(setio(9600));
    EXPECT_EQ(link->lastResultCode(), ResultOk);
}

TEST_F(Faults, MissingPictureOrThumbnailKeepsTheConnection) {
    ASSERT_TRUE(setio(9600));
    uint16_t handle = 0xFFFF;
    EXPECT_FALSE(link->GetImgInfo(2, &handle, false));
    EXPECT_EQ(handle, 0xFFFF);  // untouched on failure
    EXPECT_EQ(link->lastResultCode(), ResultNoPicture);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(link->buffers->imageInfo.data, nullptr);

    ASSERT_TRUE(link->GetImgInfo(3, &handle, false));
    link->buffers->releaseImageInfo();
    EXPECT_FALSE(link->GetThumb(handle, false));
    EXPECT_EQ(link->lastResultCode(), ResultNoThumbnail);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(link->buffers->thumbnail.data, nullptr);
    ASSERT_TRUE(link->GetStat(0, false));
}

TEST_F(Faults, FailedExchangeKeepsNoEarlierStatus) {
    ASSERT_TRUE(setio(9600));
    EXPECT_FALSE(link->GetImgInfo(2, &handle, false));
    EXPECT_EQ(link->lastResultCode(), ResultNoPicture);
    // Picture 3's information block is lost four times running: there is no result to read,
    // least of all picture 2's "no picture" (which would drop picture 3 from the list).
    EXPECT_FALSE(link->GetImgInfo(3, &handle, false));
    EXPECT_EQ(link->receiveStats.naks, 4u);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_EQ(link->lastResultCode(), -1);
    ASSERT_TRUE(link->GetImgInfo(3, &handle, false));
    EXPECT_EQ(link->lastResultCode(), ResultOk);
}

TEST_F(Faults, SilenceAfterBusyIsNoAnswer) {
    EXPECT_FALSE(setio(9600));
    EXPECT_EQ(link->lastResultCode(), ResultBusy);
    EXPECT_EQ(link->linkError, 0);
    // The camera then stops answering: the dialogs must see no response, not "busy" again.
    EXPECT_FALSE(setio(9600));
    EXPECT_EQ(link->linkError, 1);
    EXPECT_EQ(link->lastResultCode(), -1);
}

TEST_F(Faults, SilentCameraFailsAfterBoundedEnquiries) {
    ASSERT_TRUE(setio(9600));  // the camera falls silent after this SetIO's GetStat
    uint32_t before = link->enquiriesSent;
    double seconds = timed([&] { EXPECT_FALSE(link->GetIOCap(false)); });
    std::printf("silent camera: request failed after %.2f s\n", seconds);
    EXPECT_EQ(link->enquiriesSent - before, 4u);
    EXPECT_GE(seconds, 1.1);  // four enquiries of 300 ms
    EXPECT_LT(seconds, 3.0);
    EXPECT_EQ(link->linkError, 1);
    EXPECT_FALSE(link->isConnected());

    // Cancel asks once, with the full read time-out.
    link->linkError = 0;
    before = link->enquiriesSent;
    seconds = timed([&] { EXPECT_FALSE(link->CancelTransfer(false)); });
    std::printf("silent camera: Cancel failed after %.2f s\n", seconds);
    EXPECT_EQ(link->enquiriesSent - before, 1u);
    EXPECT_GE(seconds, 2.9);
    EXPECT_LT(seconds, 4.5);
    EXPECT_EQ(link->linkError, 1);
    EXPECT_EQ(link->cancelInProgress, 0);

    // With the latch still set Cancel fails at once, without touching the port.
    const uint32_t writes = link->port->writeCalls;
    seconds = timed([&] { EXPECT_FALSE(link->CancelTransfer(false)); });
    EXPECT_LT(seconds, 0.2);
    EXPECT_EQ(link->port->writeCalls, writes);
}

TEST_F(Faults, LatchedErrorOnlyCostsTheFirstEnquiry) {
    ASSERT_TRUE(setio(9600));
    link->linkError = 1;
    const uint32_t before = link->enquiriesSent;
    const uint32_t writes = link->port->writeCalls;
    ASSERT_TRUE(link->GetIOCap(false));
    EXPECT_EQ(link->enquiriesSent - before, 2u);
    EXPECT_EQ(link->linkError, 0);
    // ENQ, the packet STX 04 00 00 90 00 00 03 97 in one write, EOT, then ACK the status
    // block's ENQ and packet: the failed first enquiry wrote nothing.
    EXPECT_EQ(link->port->writeCalls - writes, 5u);
}

// The camera cuts these statuses (CMakeLists.txt): GetImgInfo's to 3 bytes, GetThumb's and
// SetDate's to none. Without a whole result word there is no success; the line itself is fine.
TEST_F(Faults, ShortStatusFailsTheCommandButNotTheLine) {
    ASSERT_TRUE(setio(9600));
    uint16_t handle = 0xFFFF;
    EXPECT_FALSE(link->GetImgInfo(1, &handle, false));
    EXPECT_EQ(link->lastResultCode(), -1);
    EXPECT_EQ(link->buffers->statusMessage.count, 3u);
    EXPECT_EQ(handle, 0xFFFF);
    EXPECT_EQ(link->buffers->imageInfo.data, nullptr);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_TRUE(link->isConnected());
    ASSERT_TRUE(link->GetImgInfo(1, &handle, false));
    EXPECT_EQ(link->lastResultCode(), ResultOk);
    EXPECT_EQ(handle, 0x2001);

    EXPECT_FALSE(link->GetThumb(handle, false));
    EXPECT_EQ(link->lastResultCode(), -1);
    EXPECT_EQ(link->buffers->statusMessage.count, 0u);
    EXPECT_EQ(link->buffers->thumbnail.data, nullptr);
    EXPECT_EQ(link->linkError, 0);
    ASSERT_TRUE(link->GetThumb(handle, false));
    EXPECT_GT(link->buffers->thumbnail.count, 100u);

    EXPECT_FALSE(link->SetDate(false));
    EXPECT_EQ(link->lastResultCode(), -1);
    EXPECT_EQ(link->linkError, 0);
    ASSERT_TRUE(link->SetDate(false));
    EXPECT_EQ(link->lastResultCode(), ResultOk);
    ASSERT_TRUE(link->GetStat(0, false));
}

// GetStat's replies are cut to 21, 22 and 3 bytes: a record must reach the clock's last byte.
TEST_F(Faults, ShortStatusRecordIsRefused) {
    // SetIO confirms with GetStat; a 21-byte record fails the connection, result word and all
    // being fine.
    EXPECT_FALSE(setio(9600));
    EXPECT_EQ(link->lastResultCode(), ResultOk);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_FALSE(link->isConnected());
    StatusRecord status;
    ASSERT_TRUE(link->statusRecord(status));
    EXPECT_EQ(status.picturesTaken, 0);  // nothing taken from the short reply

    // 22 bytes are enough.
    ASSERT_TRUE(setio(9600));
    EXPECT_EQ(link->buffers->statusRecord.count, 22u);
    ASSERT_TRUE(link->statusRecord(status));
    EXPECT_EQ(status.picturesTaken, 6);
    EXPECT_EQ(status.year, 1);

    // Shorter than the result word: the held record stays as it was.
    EXPECT_FALSE(link->GetStat(0, false));
    EXPECT_EQ(link->lastResultCode(), -1);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_EQ(link->buffers->statusRecord.count, 22u);
    ASSERT_TRUE(link->statusRecord(status));
    EXPECT_EQ(status.picturesTaken, 6);

    ASSERT_TRUE(link->GetStat(0, false));
    EXPECT_EQ(link->buffers->statusRecord.count, 39u);
    ASSERT_TRUE(setio(9600));
}

// ---- downloads ----

using Download = SimLinkTest;

TEST_F(Download, EveryCardPictureIsByteIdentical) {
    ASSERT_TRUE(connect(115200));
    StatusRecord status;
    ASSERT_TRUE(link->statusRecord(status));
    ASSERT_GT(status.picturesTaken, 0);
    int jpegThumbnails = 0, tiffThumbnails = 0;
    for (uint16_t number = 1; number <= status.picturesTaken; ++number) {
        SCOPED_TRACE(number);
        uint16_t handle = 0;
        uint32_t size = 0;
        ASSERT_TRUE(pictureInfo(*link, number, handle, size));
        EXPECT_EQ(bytesOf(link->buffers->imageInfo), card(number, "info"));
        link->buffers->releaseImageInfo();

        ASSERT_TRUE(link->GetThumb(handle, false));
        const bool jpeg = link->buffers->thumbnail.count > 0 && link->buffers->thumbnail.data[0] == 0xFF;
        EXPECT_EQ(bytesOf(link->buffers->thumbnail), card(number, jpeg ? "thumb-jpg" : "thumb-tif"));
        (jpeg ? jpegThumbnails : tiffThumbnails)++;
        link->buffers->releaseThumbnail();

        ASSERT_TRUE(link->GetJpeg(handle, size, false));
        EXPECT_EQ(bytesOf(link->buffers->jpeg), card(number, "jpg"));
        EXPECT_GT(link->receiveStats.blocks, 1u);  // a picture is a message of many blocks
        // After a successful download the window stays up until its caller hides it.
        EXPECT_TRUE(IsWindowVisible(link->hwnd()));
        EXPECT_NE(GetCapture(), link->hwnd());
        EXPECT_EQ(link->progressSuppressed, 1);
        EXPECT_EQ(link->progressTotal, 0u);
        link->hideProgress();
        link->buffers->releaseJpeg();
    }
    EXPECT_GT(jpegThumbnails, 0);
    EXPECT_GT(tiffThumbnails, 0);
    ASSERT_TRUE(setio(9600));
}

TEST_F(Download, UnknownSizeExpects400000Bytes) {
    ASSERT_TRUE(openPicture(1));
    EXPECT_EQ(size, 400000u);  // the camera gave no size for this picture
    const std::vector<uint8_t> expected = card(1, "jpg");
    {
        StepRecorder steps(link->hwnd());
        ASSERT_TRUE(link->GetJpeg(handle, size, false));
        EXPECT_EQ(bytesOf(link->buffers->jpeg), expected);
        // The start at 0, one step per block at bytes x 100 / 400000 and the final 100; every
        // step runs while the window holds the mouse capture.
        ASSERT_GE(steps.positions.size(), 3u);
        EXPECT_EQ(steps.positions.front(), 0);
        EXPECT_EQ(steps.positions.back(), 100);
        const int lastData = static_cast<int>(expected.size() * 100 / 400000);
        EXPECT_NE(std::find(steps.positions.begin(), steps.positions.end(), lastData), steps.positions.end());
        EXPECT_LT(*std::max_element(steps.positions.begin(), steps.positions.end() - 1), 100);
        EXPECT_EQ(std::count(steps.captured.begin() + 1, steps.captured.end(), false), 0);
    }
    link->hideProgress();
    link->buffers->releaseJpeg();
    // An expected size far below the real one drives the percentage past 100; still fine.
    {
        StepRecorder steps(link->hwnd());
        ASSERT_TRUE(link->GetJpeg(handle, 1000, false));
        EXPECT_EQ(bytesOf(link->buffers->jpeg), expected);
        EXPECT_NE(std::find(steps.positions.begin(), steps.positions.end(),
                            static_cast<int>(expected.size() * 100 / 1000)),
                  steps.positions.end());
    }
    ASSERT_TRUE(setio(9600));
}

TEST_F(Download, SmallBlocksMakeAMultiBlockMessage) {
    ASSERT_TRUE(setio(9600));
    ASSERT_TRUE(link->GetImgInfo(1, &handle, false));
    const std::vector<uint8_t> expected = card(1, "info");
    EXPECT_EQ(bytesOf(link->buffers->imageInfo), expected);
    // 17-byte blocks (a length byte that must be stuffed), then the 15-byte status.
    EXPECT_EQ(link->receiveStats.blocks, (expected.size() + 16) / 17 + 1);
    link->buffers->releaseImageInfo();
    ASSERT_TRUE(link->GetThumb(handle, false));
    EXPECT_GT(link->buffers->thumbnail.count, 17u);
}

TEST_F(Download, ClickOnCancelAbandonsTheDownload) {
    ASSERT_TRUE(openPicture(1));
    const RECT cancel = link->cancelRect;
    // A click elsewhere in the window is ignored.
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cancel.left - 5, cancel.top - 5));
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    link->hideProgress();
    link->buffers->releaseJpeg();

    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((cancel.left + cancel.right) / 2, (cancel.top + cancel.bottom) / 2));
    EXPECT_FALSE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(link->downloadCancelled, 1);
    EXPECT_EQ(link->cancelRequested, 0);  // the click is used up with its download
    EXPECT_EQ(link->linkError, 0);
    EXPECT_EQ(link->buffers->jpeg.data, nullptr);
    EXPECT_FALSE(IsWindowVisible(link->hwnd()));
    EXPECT_NE(GetCapture(), link->hwnd());
    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(link->lastResultCode(), ResultOk);  // the camera accepted the cancel

    // The camera is ready for the next download.
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(bytesOf(link->buffers->jpeg), card(1, "jpg"));
    ASSERT_TRUE(setio(9600));
}

TEST_F(Download, StaleCancelDoesNotStopTheNextDownload) {
    ASSERT_TRUE(openPicture(2));
    link->cancelRequested = 1;  // left over from a click at the end of an earlier download
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(link->cancelRequested, 0);
    ASSERT_TRUE(setio(9600));
}

// Posts a click on the progress window's Cancel as the status block steps the bar (back to
// nearly 0), so that the download's final step is the one that takes it: the click a user makes
// while the camera's status is on its way.
struct LateClick {
    static HWND window;
    static RECT cancel;
    static int last;
    static bool posted;
    HHOOK hook;
    LateClick(HWND progress, RECT cancelRect) {
        window = progress;
        cancel = cancelRect;
        last = -1;
        posted = false;
        hook = SetWindowsHookExA(WH_CALLWNDPROC, watch, nullptr, GetCurrentThreadId());
    }
    ~LateClick() { UnhookWindowsHookEx(hook); }
    static LRESULT CALLBACK watch(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && message->message == PBM_SETPOS && GetParent(message->hwnd) == window) {
            const int position = static_cast<int>(message->wParam);
            if (!posted && position < last) {
                PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON,
                             MAKELPARAM((cancel.left + cancel.right) / 2, (cancel.top + cancel.bottom) / 2));
                posted = true;
            }
            last = position;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};
HWND LateClick::window = nullptr;
RECT LateClick::cancel{};
int LateClick::last = -1;
bool LateClick::posted = false;

TEST_F(Download, ClickAtTheLastStepCancelsNothingAfterwards) {
    ASSERT_TRUE(openPicture(1));
    {
        LateClick click(link->hwnd(), link->cancelRect);
        ASSERT_TRUE(link->GetJpeg(handle, size, false));
        EXPECT_TRUE(LateClick::posted);
    }
    link->hideProgress();
    EXPECT_EQ(bytesOf(link->buffers->jpeg), card(1, "jpg"));
    link->buffers->releaseJpeg();
    EXPECT_EQ(link->cancelRequested, 0);
    EXPECT_EQ(link->downloadCancelled, 0);
    // The next commands, of any kind, run to their end without a Cancel (the trace has none).
    ASSERT_TRUE(pictureInfo(*link, 2, handle, size));
    link->buffers->releaseImageInfo();
    ASSERT_TRUE(setio(9600));
    EXPECT_TRUE(link->isConnected());
}

TEST_F(Download, RefusedCancelIsResentThenAccepted) {
    ASSERT_TRUE(openPicture(1));
    const RECT cancel = link->cancelRect;
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cancel.left + 1, cancel.top + 1));
    // The first Cancel request is NAKed four times and fails; the download goes on and the
    // next accepted packet brings a second Cancel, which the camera accepts.
    EXPECT_FALSE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(link->downloadCancelled, 1);
    EXPECT_EQ(link->cancelRequested, 0);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_EQ(link->buffers->jpeg.data, nullptr);
    ASSERT_TRUE(setio(9600));
}

TEST_F(Download, CancelRefusedByResultLetsTheDownloadFinish) {
    ASSERT_TRUE(openPicture(1));
    const RECT cancel = link->cancelRect;
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cancel.left + 1, cancel.top + 1));
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    // Every Cancel was refused; the status of the download itself, not the Cancel's, decided.
    EXPECT_EQ(link->downloadCancelled, 0);
    EXPECT_EQ(link->cancelRequested, 0);
    EXPECT_EQ(link->lastResultCode(), ResultOk);
    EXPECT_EQ(bytesOf(link->buffers->jpeg), card(1, "jpg"));
    ASSERT_TRUE(setio(9600));
}

// ---- reliability ----

using Reliability = SimLinkTest;

TEST_F(Reliability, HundredDownloadsOnANoisyLine) {
    ASSERT_TRUE(connect(115200));
    StatusRecord status;
    ASSERT_TRUE(link->statusRecord(status));
    ASSERT_GT(status.picturesTaken, 0);
    std::vector<std::vector<uint8_t>> pictures(status.picturesTaken + 1);
    for (unsigned n = 1; n <= status.picturesTaken; ++n) pictures[n] = card(n, "jpg");

    int succeeded = 0, failed = 0, identical = 0, naks = 0, repeats = 0, unexplained = 0;
    double longest = 0;
    for (int i = 0; i < 100; ++i) {
        const uint16_t number = static_cast<uint16_t>(i % status.picturesTaken + 1);
        uint16_t handle = 0;
        uint32_t size = 0;
        if (!link->isConnected()) {
            link->linkError = 0;
            ASSERT_TRUE(setio(115200));
        }
        ASSERT_TRUE(pictureInfo(*link, number, handle, size)) << i;
        link->buffers->releaseImageInfo();
        int ok = 0;
        longest = std::max(longest, timed([&] { ok = link->GetJpeg(handle, size, false); }));
        naks += static_cast<int>(link->receiveStats.naks);
        repeats += static_cast<int>(link->receiveStats.repeats);
        if (ok) {
            ++succeeded;
            if (bytesOf(link->buffers->jpeg) == pictures[number]) ++identical;
            EXPECT_EQ(link->lastResultCode(), ResultOk);
        } else {
            ++failed;
            // The line's faults are the only reason a download may fail here.
            if (link->receiveStats.naks == 0 && link->receiveStats.repeats == 0) ++unexplained;
            // A failure is a failure: no data left behind, and a reason to tell.
            EXPECT_EQ(link->buffers->jpeg.data, nullptr);
            EXPECT_TRUE(link->linkError || link->lastResultCode() != ResultOk);
            link->linkError = 0;
        }
        link->hideProgress();
        link->buffers->releaseJpeg();
    }
    std::printf("reliability: %d succeeded (%d byte-identical), %d failed; %d NAKs, %d repeated blocks; "
                "longest download %.2f s\n",
                succeeded, identical, failed, naks, repeats, longest);
    EXPECT_EQ(unexplained, 0) << "downloads failed without a fault on the line";
    EXPECT_EQ(identical, succeeded);
    // About 1 % of the blocks were hit: retransmission must have been exercised and must save
    // nearly every download (a failure needs four hits on one block).
    EXPECT_GT(naks, 0);
    EXPECT_GT(repeats, 0);
    EXPECT_GE(succeeded, 95);
    EXPECT_LT(longest, 20.0);
    ASSERT_TRUE(setio(9600));
}

TEST_F(Reliability, DroppedByteFailsOnTheLineAndTheLinkRecovers) {
    ASSERT_TRUE(openPicture(1));
    int ok = 1;
    const double seconds = timed([&] { ok = link->GetJpeg(handle, size, false); });
    // A packet one byte short: after a read time-out without its last byte it is NAKed, but
    // this camera waits only one second for our answer and has given up; the resend never
    // comes, and a second time-out ends the download.
    EXPECT_FALSE(ok);
    EXPECT_EQ(link->linkError, 1);
    EXPECT_EQ(link->receiveStats.timedOutPackets, 1u);
    EXPECT_LT(seconds, 7.5);
    EXPECT_TRUE(link->isConnected());  // a time-out is no reason to drop the connection
    EXPECT_FALSE(link->port->broken());
    link->linkError = 0;
    // The port stays open: SetIO, GetIOCap, GetStat, at once.
    const uint32_t before = link->enquiriesSent;
    ASSERT_TRUE(setio(115200));
    EXPECT_EQ(link->enquiriesSent - before, 3u);
    ASSERT_TRUE(pictureInfo(*link, 1, handle, size));
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(bytesOf(link->buffers->jpeg), card(1, "jpg"));
    ASSERT_TRUE(setio(9600));
}

TEST_F(Reliability, DroppedByteIsNakedAndResent) {
    ASSERT_TRUE(openPicture(1));
    int ok = 0;
    const double seconds = timed([&] { ok = link->GetJpeg(handle, size, false); });
    std::printf("dropped byte: download took %.2f s\n", seconds);
    ASSERT_TRUE(ok);
    EXPECT_EQ(link->receiveStats.timedOutPackets, 1u);
    EXPECT_EQ(link->receiveStats.naks, 1u);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_LT(seconds, 6.0);  // one read time-out (3 s), not two: room for a busy machine
    EXPECT_EQ(bytesOf(link->buffers->jpeg), card(1, "jpg"));
    ASSERT_TRUE(setio(9600));
}

TEST_F(Reliability, CameraSwitchedOffDuringADownload) {
    ASSERT_TRUE(openPicture(1, 9600));
    int ok = 1;
    // The simulator paces its bytes at 9600 bit/s and is killed a second into the download.
    const double seconds = timed([&] { ok = link->GetJpeg(handle, size, false); });
    std::printf("camera killed about 1 s into the download: GetJpeg failed after %.2f s\n", seconds);
    EXPECT_FALSE(ok);
    EXPECT_EQ(link->linkError, 1);
    EXPECT_LT(seconds, 1.0 + 4.0 + 2.5);  // one wait for the silent line, not two: room for a busy machine
    EXPECT_FALSE(IsWindowVisible(link->hwnd()));
    EXPECT_TRUE(link->port->broken());
    link->linkError = 0;
    // A new camera stands on the same COM port: the next SetIO reopens the port and finds it.
    const uint32_t before = link->enquiriesSent;
    ASSERT_TRUE(setio(9600));
    EXPECT_EQ(link->enquiriesSent - before, 4u);
    ASSERT_TRUE(link->GetStat(0, false));
}

TEST_F(Reliability, ReplyThatNeverEndsFailsAtItsBoundAndTheLinkRecovers) {
    // The camera's hostile mode (empty blocks, a trickle, a flood of noise) hits this download;
    // a small expected size at 115200 bit/s makes its bound some 15 s.
    ASSERT_TRUE(openPicture(1));
    int ok = 1;
    const double seconds = timed([&] { ok = link->GetJpeg(handle, 1024, false); });
    std::printf("never-ending reply: GetJpeg failed after %.2f s (%u blocks accepted)\n", seconds,
                link->receiveStats.blocks);
    EXPECT_FALSE(ok);
    EXPECT_EQ(link->linkError, 1);  // "Communication Error."
    EXPECT_EQ(link->receiveStats.pastBound, 1u);
    EXPECT_EQ(link->buffers->jpeg.data, nullptr);
    link->linkError = 0;
    link->hideProgress();
    // The line settles before the next request, and the camera serves it.
    ASSERT_TRUE(pictureInfo(*link, 1, handle, size));
    ASSERT_TRUE(link->GetJpeg(handle, size, false));
    EXPECT_EQ(bytesOf(link->buffers->jpeg), card(1, "jpg"));
    ASSERT_TRUE(setio(9600));
}

// ---- soak: a long seeded run on a hostile line ----

using Soak = SimLinkTest;

// DORVEX_SOAK_COMMANDS commands (./run test runs a slice of 500, ./run soak 2000 by default).
TEST_F(Soak, SeededCommandsOnAHostileLine) {
    ASSERT_TRUE(connect(115200));
    StatusRecord record;
    ASSERT_TRUE(link->statusRecord(record));
    const unsigned pictures = record.picturesTaken;
    ASSERT_GT(pictures, 0u);
    std::vector<std::vector<uint8_t>> jpeg(pictures + 1), info(pictures + 1), thumbJpeg(pictures + 1),
        thumbTiff(pictures + 1);
    for (unsigned n = 1; n <= pictures; ++n) {
        jpeg[n] = card(n, "jpg");
        info[n] = card(n, "info");
        readFile(cardFile(n, "thumb-jpg"), thumbJpeg[n]);
        readFile(cardFile(n, "thumb-tif"), thumbTiff[n]);
    }
    std::mt19937 random(2026);
    const int commands = std::atoi(linktest::env("DORVEX_SOAK_COMMANDS", "500").c_str());
    int succeeded = 0, lineFailures = 0, protocolFailures = 0, refusals = 0, identical = 0, reconnects = 0;
    uint32_t naks = 0, repeats = 0, cutShort = 0, skipped = 0, purged = 0;
    const uint32_t resendsBefore = link->resendsSent;
    double longest = 0;
    const char* longestName = "";
    for (int i = 0; i < commands; ++i) {
        if (!link->isConnected()) {
            link->linkError = 0;
            ++reconnects;
            int tries = 0;
            while (!setio(115200) && ++tries < 5) link->linkError = 0;
            ASSERT_TRUE(link->isConnected()) << "command " << i;
        }
        const unsigned kind = random() % 100;
        const uint16_t number = static_cast<uint16_t>(random() % pictures + 1);
        const uint16_t handle = static_cast<uint16_t>(0x2000 + number);
        const char* name = "";
        const std::vector<uint8_t>* expected = nullptr;
        const LinkBuffer* data = nullptr;
        int ok = 0;
        const double seconds = timed([&] {
            if (kind < 55) {
                name = "GetImgInfo";
                ok = link->GetImgInfo(number, nullptr, false);
                expected = &info[number];
                data = &link->buffers->imageInfo;
            } else if (kind < 75) {
                name = "GetThumb";
                ok = link->GetThumb(handle, false);
                data = &link->buffers->thumbnail;
                expected = data->count && data->data[0] == 0xFF ? &thumbJpeg[number] : &thumbTiff[number];
            } else if (kind < 88) {
                name = "GetStat";
                ok = link->GetStat(0, false);
            } else if (kind < 95) {
                name = "GetIOCap";
                ok = link->GetIOCap(false);
            } else {
                name = "GetJpeg";
                ok = link->GetJpeg(handle, static_cast<uint32_t>(jpeg[number].size()), false);
                expected = &jpeg[number];
                data = &link->buffers->jpeg;
            }
        });
        if (seconds > longest) {
            longest = seconds;
            longestName = name;
        }
        // No hang: the worst a command may take is a few time-outs per block.
        EXPECT_LT(seconds, 30.0) << name << " command " << i;
        naks += link->receiveStats.naks;
        repeats += link->receiveStats.repeats;
        cutShort += link->receiveStats.timedOutPackets;
        skipped += link->receiveStats.skippedBytes;
        if (ok) {
            ++succeeded;
            EXPECT_EQ(link->linkError, 0);
            EXPECT_EQ(link->lastResultCode(), ResultOk);
            if (data) {
                const bool same = bytesOf(*data) == *expected;
                EXPECT_TRUE(same) << name << " of picture " << number << ", command " << i;
                identical += same ? 1 : 0;
            } else {
                StatusRecord status;
                if (std::string(name) == "GetStat") {
                    EXPECT_TRUE(link->statusRecord(status));
                    EXPECT_EQ(status.picturesTaken, pictures);
                }
                ++identical;
            }
        } else {
            // A failure is reported: the line failed, the camera refused, or nothing usable came.
            if (link->linkError) {
                ++lineFailures;
            } else if (link->lastResultCode() == -1) {
                ++protocolFailures;
            } else {
                EXPECT_NE(link->lastResultCode(), ResultOk) << name << " command " << i;
                ++refusals;
            }
            if (data) {
                EXPECT_EQ(data->data, nullptr) << name << " command " << i;
            }
            link->linkError = 0;
        }
        link->hideProgress();
        link->buffers->releaseImageInfo();
        link->buffers->releaseThumbnail();
        link->buffers->releaseJpeg();
    }
    purged = link->purges;
    std::printf("soak: %d commands: %d succeeded (%d byte-identical), failed: %d on the line, %d without a "
                "usable reply, %d refused; %d reconnections; %u NAKs (%u for packets cut short), %u repeated "
                "blocks, %u request resends, %u bytes let by (noise, rests of damaged packets), %u purges of leftovers; longest command "
                "%.2f s (%s)\n",
                commands, succeeded, identical, lineFailures, protocolFailures, refusals, reconnects, naks, cutShort,
                repeats, link->resendsSent - resendsBefore, skipped, purged, longest, longestName);
    EXPECT_EQ(identical, succeeded);
    // About 2 % of the blocks are hit and a block fails only after four hits running.
    EXPECT_GE(succeeded, commands * 95 / 100);
    EXPECT_GT(naks, 0u);
    EXPECT_GT(cutShort, 0u);
    EXPECT_GT(skipped, 0u);
    ASSERT_TRUE(setio(9600) || setio(9600));
}
