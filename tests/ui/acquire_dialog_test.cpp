// The acquire and image information dialogs against the camera simulator, driven through their
// real windows. run_with_sim.sh starts the simulator for one scenario (a gtest suite) on COM1
// and tells the program where the card's files are (DORVEX_TEST_CARD) and where screenshots go
// (DORVEX_SCREENSHOT_DIR, optional).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_link.h"
#include "dialog_driver.h"
#include "resources/resource_ids.h"
#include "source/module.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/tiff_thumbnail_decoder.h"
#include "ui/acquire_dialog.h"
#include "ui/picture_cache.h"
#include "ui/gdi_palette.h"
#include "ui/source_settings.h"
#include "ui/thumbnail_grid.h"
#include "ui/user_messages.h"

namespace {

const UINT previousErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);

std::string env(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

std::string loadText(int id) {
    char text[512] = {};
    LoadStringA(moduleInstance(), id, text, sizeof(text));
    return text;
}

std::vector<uint8_t> cardFile(const std::string& name) {
    std::ifstream in(env("DORVEX_TEST_CARD") + "\\" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string controlText(HWND dialog, int id) {
    char text[128] = {};
    GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

void screenshot(HWND window, const char* name) {
    const std::string dir = env("DORVEX_SCREENSHOT_DIR");
    if (dir.empty() || !window) return;
    EXPECT_TRUE(saveWindowScreenshot(window, dir + "\\" + name + ".bmp")) << name;
}

// The camera dialog's part: an owner window and a connected link.
class AcquireTest : public ::testing::Test {
protected:
    HWND owner = nullptr;
    CameraLink* link = nullptr;
    uint8_t port = 1;
    SourceSettings settings;
    DialogDriver driver;

    void SetUp() override {
        owner = CreateWindowExA(0, "STATIC", "camera", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                                moduleInstance(), nullptr);
        link = new CameraLink(1);
        ASSERT_NE(link->createWindow(owner), nullptr);
        const int number = atoi(env("DORVEX_TEST_PORT").c_str());
        port = static_cast<uint8_t>(number ? number : 1);
        // As the camera dialog connects: 9600 first, or straight at the fast rate when the camera
        // was left there.
        const bool at9600 = link->SetIO(port, 9600, 0, 0, 8, 2, false) != 0;
        link->linkError = 0;
        ASSERT_TRUE(link->SetIO(port, 115200, 0, 0, 8, 2, false)) << "9600 answered: " << at9600;
        ASSERT_TRUE(link->GetStat(0, false));
        settings.autoThumbnails = 0;
        // Each scenario sees the wire as if nothing had been fetched before; the cache's own
        // scenarios turn it on.
        settings.cache = 0;
    }
    void TearDown() override {
        driver.stop();
        if (link) {
            link->linkError = 0;
            link->SetIO(port, 9600, 0, 0, 8, 2, false);  // the next test starts at 9600
        }
        delete link;
        DestroyWindow(owner);
    }

    // Runs the dialog with the driver's script; fails the test when the script did not finish.
    INT_PTR runDialog(AcquireDialog& dialog, DWORD timeoutMs = 60000) {
        driver.start(timeoutMs);
        const INT_PTR result = dialog.run(owner);
        driver.stop();
        EXPECT_FALSE(driver.timedOut()) << "stuck before step: " << driver.pendingStep();
        EXPECT_TRUE(driver.finished()) << "not reached: " << driver.pendingStep();
        return result;
    }

    static int filledSlots(const AcquireDialog& dialog) {
        int n = 0;
        for (int i = 0; i < dialog.pictures().count; ++i) n += dialog.pictures().entries[i].isFilled() ? 1 : 0;
        return n;
    }
    std::vector<uint8_t> downloaded() const {
        const LinkBuffer& jpeg = link->buffers->jpeg;
        return std::vector<uint8_t>(jpeg.data, jpeg.data + jpeg.count);
    }
};

// Expected size of the running download, as the progress window saw it.
volatile uint32_t expectedDuringDownload = 0;

// Waits for the progress window and clicks its Cancel; exit code 1 when it saw the window.
DWORD WINAPI clickProgressCancel(LPVOID parameter) {
    auto* link = static_cast<CameraLink*>(parameter);
    for (int i = 0; i < 2000 && !IsWindowVisible(link->hwnd()); ++i) Sleep(5);
    if (!IsWindowVisible(link->hwnd())) return 0;
    expectedDuringDownload = link->progressTotal;
    const RECT& r = link->cancelRect;
    PostMessageA(link->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    return 1;
}

bool listed(const AcquireDialog& d) {
    return d.hwnd() && !d.isBusy() && IsWindowEnabled(d.item(IDC_AQUIRE));
}

// ---- the built-in card of six pictures, without pacing ----

using Basic = AcquireTest;

TEST_F(Basic, ListsEveryPictureWithNumberQualityAndDate) {
    AcquireDialog dialog(*link, settings);
    std::vector<std::string> labels, dates;
    std::vector<int> marks, sizes;
    LRESULT defaultId = 0;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        for (int i = 0; i < dialog.pictures().count; ++i) {
            labels.push_back(dialog.pictures().entries[i].label);
            dates.push_back(dialog.pictures().entries[i].dateText);
            marks.push_back(dialog.pictures().entries[i].markFlag);
            sizes.push_back(dialog.pictures().entries[i].sizeKiB);
        }
        defaultId = SendMessageA(dialog.hwnd(), DM_GETDEFID, 0, 0);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(labels, (std::vector<std::string>{"01.Super Fine", "02.Fine", "03.Normal", "04.Super Fine",
                                                "05.Super Fine", "06.Fine"}));
    ASSERT_EQ(dates.size(), 6u);
    EXPECT_EQ(dates[0], "2001/02/01 09:07");
    EXPECT_EQ(dates[1], "2001/02/02 10:14");
    EXPECT_EQ(LOWORD(defaultId), IDC_AQUIRE);
    EXPECT_EQ(marks, (std::vector<int>{0, 1, 0, 0, 0, 0}));  // the simulator marks picture 2
    ASSERT_EQ(sizes.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        char name[16];
        snprintf(name, sizeof(name), "%02d.jpg", i + 1);
        EXPECT_EQ(sizes[i], static_cast<int>((cardFile(name).size() + 1023) / 1024)) << name;
    }
    EXPECT_TRUE(driver.messages.empty());
}

TEST_F(Basic, GridDialogAndButtonsAreLaidOutAroundTheGrid) {
    AcquireDialog dialog(*link, settings);
    RECT gridRect{}, aquire{}, cancel{}, client{};
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        auto clientRect = [&](int id, RECT& r) {
            GetWindowRect(dialog.item(id), &r);
            MapWindowPoints(nullptr, dialog.hwnd(), reinterpret_cast<POINT*>(&r), 2);
        };
        clientRect(IDC_THUMBNAIL_GRID, gridRect);
        clientRect(IDC_AQUIRE, aquire);
        clientRect(IDCANCEL, cancel);
        GetClientRect(dialog.hwnd(), &client);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    const int w = ThumbnailGrid::windowWidth(), h = ThumbnailGrid::windowHeight();
    EXPECT_EQ(gridRect.left, 10);
    EXPECT_EQ(gridRect.top, 10);
    EXPECT_EQ(gridRect.right - gridRect.left, w);
    EXPECT_EQ(aquire.left, 30);
    EXPECT_EQ(aquire.top, h + 20);
    EXPECT_EQ(aquire.right - aquire.left, 80);
    EXPECT_EQ(aquire.bottom - aquire.top, 26);
    EXPECT_EQ(cancel.left, w - 90);
    EXPECT_GE(client.right, cancel.right);
    EXPECT_GE(client.bottom, cancel.bottom);
}

TEST_F(Basic, AutomaticThumbnailsThenScreenshotOfTheDialog) {
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);
    int thumbnails = 0;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        for (int i = 0; i < dialog.pictures().count; ++i) thumbnails += dialog.pictures().entries[i].thumbnail ? 1 : 0;
        DialogDriver::clickCell(dialog.hwnd(), 1);
    });
    driver.add("shot", [] { return true; }, [&] {
        screenshot(dialog.hwnd(), "acquire_dialog");
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(thumbnails, 6);  // JPEG, TIFF YCbCr and TIFF RGB thumbnails all decode
    EXPECT_TRUE(driver.messages.empty());
}

TEST_F(Basic, ShowInfoThenThumbnailShowsItInBothDialogs) {
    AcquireDialog dialog(*link, settings);
    std::vector<std::string> texts;
    bool buttonEnabledAtStart = false, buttonEnabledAfter = true;
    bool focusOnOk = false;
    HBITMAP gridThumbnail = nullptr;
    driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::clickCell(dialog.hwnd(), 1); });
    driver.add("show info", [&] { return dialog.thumbnailGrid()->isSelected(1) == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("read texts", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; }, [&] {
        HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
        for (int id : {IDC_LIST_NUMBER, IDC_INFO_DATE, IDC_INFO_QUALITY, IDC_INFO_SIZE, IDC_INFO_SHUTTER,
                       IDC_INFO_APERTURE, IDC_INFO_EXPOSURE, IDC_INFO_MAKE, IDC_INFO_MODEL})
            texts.push_back(controlText(info, id));
        buttonEnabledAtStart = IsWindowEnabled(GetDlgItem(info, IDC_THUMBNAIL)) != FALSE;
        DialogDriver::click(info, IDC_THUMBNAIL);
    });
    driver.add("fetched",
               [] {
                   HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
                   return info && !IsWindowEnabled(GetDlgItem(info, IDC_THUMBNAIL));
               },
               [&] {
                   HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
                   buttonEnabledAfter = IsWindowEnabled(GetDlgItem(info, IDC_THUMBNAIL)) != FALSE;
                   focusOnOk = GetFocus() == GetDlgItem(info, IDOK);
                   gridThumbnail = dialog.pictures().entries[1].thumbnail;
                   screenshot(info, "information_dialog");
                   DialogDriver::click(info, IDOK);
               });
    driver.add("close", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) == nullptr; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(texts, (std::vector<std::string>{"2", "2001/02/02 10:14", "Fine", "1152 x 872", "1/125", "F4", "-0.3",
                                               "Zelmar", "Dorvex"}));
    EXPECT_TRUE(buttonEnabledAtStart);
    EXPECT_FALSE(buttonEnabledAfter);
    EXPECT_TRUE(focusOnOk);
    EXPECT_NE(gridThumbnail, nullptr);
    EXPECT_TRUE(driver.messages.empty());
}

TEST_F(Basic, InformationTextsOfAPictureWithoutExposureCompensation) {
    AcquireDialog dialog(*link, settings);
    std::vector<std::string> texts;
    driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::clickCell(dialog.hwnd(), 3); });
    driver.add("show info", [&] { return dialog.thumbnailGrid()->isSelected(3) == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("read", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; }, [&] {
        HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
        for (int id : {IDC_INFO_QUALITY, IDC_INFO_SIZE, IDC_INFO_SHUTTER, IDC_INFO_APERTURE, IDC_INFO_EXPOSURE})
            texts.push_back(controlText(info, id));
        DialogDriver::click(info, IDOK);
    });
    driver.add("close", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) == nullptr; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(texts, (std::vector<std::string>{"Super Fine", "1024 x 768", "1/250", "F8", loadText(IDS_UNKNOWN)}));
}

TEST_F(Basic, ThumbnailButtonFetchesOnceThenBeeps) {
    AcquireDialog dialog(*link, settings);
    HBITMAP fetched = nullptr;
    driver.add("listed", [&] { return listed(dialog); },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_THUMBNAIL); });  // slot 0 is selected
    driver.add("fetched", [&] { return dialog.pictures().entries[0].thumbnail != nullptr; }, [&] {
        fetched = dialog.pictures().entries[0].thumbnail;
        DialogDriver::click(dialog.hwnd(), IDC_THUMBNAIL);
    });
    driver.add("beeped", [&] { return dialog.beepCount() == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_NE(fetched, nullptr);
    EXPECT_TRUE(driver.messages.empty());
}

TEST_F(Basic, DoubleClickAcquiresAndASecondRunReplacesThePicture) {
    {
        AcquireDialog dialog(*link, settings);
        driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::doubleClickCell(dialog.hwnd(), 0); });
        EXPECT_EQ(runDialog(dialog), IDOK);
    }
    EXPECT_EQ(downloaded(), cardFile("01.jpg"));
    EXPECT_FALSE(IsWindowVisible(link->hwnd()));  // the progress window is hidden again
    link->buffers->releaseJpeg();

    DialogDriver second;
    AcquireDialog dialog(*link, settings);
    second.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::clickCell(dialog.hwnd(), 4); });
    second.add("aquire", [&] { return dialog.thumbnailGrid()->isSelected(4) == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_AQUIRE); });
    second.start(60000);
    EXPECT_EQ(dialog.run(owner), IDOK);
    second.stop();
    EXPECT_TRUE(second.finished());
    EXPECT_EQ(downloaded(), cardFile("05.jpg"));
}

// Moves the cursor to the middle of a window and asks the dialog for context help.
void helpOver(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageA(dialog, 0x467 /* UM_CONTEXT_HELP */, 0, 0);
}

HWND helpPopup() {
    return DialogDriver::findDialogWithControl(IDC_HELP_TEXT);
}

TEST_F(Basic, ContextHelpNamesTheGridAndTheButtons) {
    AcquireDialog dialog(*link, settings);
    std::vector<std::string> shown;
    auto readAndClose = [&] {
        HWND popup = helpPopup();
        shown.push_back(controlText(popup, IDC_HELP_TEXT));
        PostMessageA(popup, WM_COMMAND, IDCANCEL, 0);
    };
    auto cell = [&](int slot) {
        return GetDlgItem(GetDlgItem(dialog.item(IDC_THUMBNAIL_GRID), 50), 51 + slot);
    };
    driver.add("over a picture", [&] { return listed(dialog); }, [&] { helpOver(dialog.hwnd(), cell(1)); });
    driver.add("grid text", [] { return helpPopup() != nullptr; }, readAndClose);
    driver.add("over Aquire", [] { return helpPopup() == nullptr; },
               [&] { helpOver(dialog.hwnd(), dialog.item(IDC_AQUIRE)); });
    driver.add("aquire text", [] { return helpPopup() != nullptr; }, readAndClose);
    driver.add("over Show Info.", [] { return helpPopup() == nullptr; },
               [&] { helpOver(dialog.hwnd(), dialog.item(IDC_SHOW_INFO)); });
    driver.add("info text", [] { return helpPopup() != nullptr; }, readAndClose);
    driver.add("over Thumbnail", [] { return helpPopup() == nullptr; },
               [&] { helpOver(dialog.hwnd(), dialog.item(IDC_THUMBNAIL)); });
    driver.add("thumbnail text", [] { return helpPopup() != nullptr; }, readAndClose);
    driver.add("over Cancel", [] { return helpPopup() == nullptr; },
               [&] { helpOver(dialog.hwnd(), dialog.item(IDCANCEL)); });
    driver.add("nothing for Cancel", [] { return true; }, [&] {
        if (helpPopup()) readAndClose();
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(shown, (std::vector<std::string>{loadText(4004), loadText(4005), loadText(4006), loadText(4007)}));
}

TEST_F(Basic, InformationDialogHelpNamesItsThumbnailButton) {
    AcquireDialog dialog(*link, settings);
    std::string shown;
    driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("help", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; }, [&] {
        HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
        helpOver(info, GetDlgItem(info, IDC_THUMBNAIL));
    });
    driver.add("read", [] { return helpPopup() != nullptr; }, [&] {
        shown = controlText(helpPopup(), IDC_HELP_TEXT);
        PostMessageA(helpPopup(), WM_COMMAND, IDCANCEL, 0);
    });
    driver.add("close info", [] { return helpPopup() == nullptr; },
               [&] { DialogDriver::click(DialogDriver::findDialogWithControl(IDC_LIST_NUMBER), IDOK); });
    driver.add("close", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) == nullptr; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(shown, loadText(4014));
}

// With the shared palette (a palette-based screen), thumbnails are dithered to its colour cube
// and the dialogs realise it when they get the focus.
TEST_F(Basic, WithTheSharedPaletteThumbnailsUseOnlyItsColours) {
    ASSERT_NE(createSharedPalette(), nullptr);
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);
    int offCube = -1, sampled = 0;
    LRESULT realised = 0;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        realised = SendMessageA(dialog.hwnd(), WM_QUERYNEWPALETTE, 0, 0);
        HBITMAP thumbnail = dialog.pictures().entries[0].thumbnail;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(memory, thumbnail);
        offCube = 0;
        for (int y = 0; y < 60; y += 7)
            for (int x = 0; x < 80; x += 7) {
                const COLORREF c = GetPixel(memory, x, y);
                ++sampled;
                bool inCube = false;
                for (int i = 0; i < 256 && !inCube; ++i) {
                    const PALETTEENTRY e = sharedPaletteEntry(static_cast<unsigned>(i));
                    inCube = RGB(e.peRed, e.peGreen, e.peBlue) == c;
                }
                offCube += inCube ? 0 : 1;
            }
        SelectObject(memory, old);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    deleteSharedPalette();
    EXPECT_EQ(realised, TRUE);
    EXPECT_GT(sampled, 50);
    EXPECT_EQ(offCube, 0);
}

TEST_F(Basic, WithoutTheSharedPaletteNothingIsRealised) {
    AcquireDialog dialog(*link, settings);
    LRESULT realised = -1;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        realised = SendMessageA(dialog.hwnd(), WM_QUERYNEWPALETTE, 0, 0);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(realised, FALSE);
}

// ---- a 256-colour screen: the camera dialog would have made the shared palette ----

using PaletteScreen = AcquireTest;

TEST_F(PaletteScreen, ThumbnailsAreDitheredAndThePaletteRealised) {
    ASSERT_TRUE(screenIsPaletteBased());
    ASSERT_NE(createSharedPalette(), nullptr);
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);
    // The dithered colours themselves are checked on the 24-bit screen (Basic); an 8-bit device
    // bitmap under Wine does not read back its exact palette colours.
    int thumbnails = 0;
    LRESULT realised = 0;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        realised = SendMessageA(dialog.hwnd(), WM_QUERYNEWPALETTE, 0, 0);
        for (int i = 0; i < dialog.pictures().count; ++i) thumbnails += dialog.pictures().entries[i].thumbnail ? 1 : 0;
        DialogDriver::clickCell(dialog.hwnd(), 2);
    });
    driver.add("shot", [] { return true; }, [&] {
        screenshot(dialog.hwnd(), "acquire_dialog_256_colours");
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    deleteSharedPalette();
    EXPECT_EQ(realised, TRUE);
    EXPECT_EQ(thumbnails, 6);
}

// ---- an empty card ----

using Empty = AcquireTest;

TEST_F(Empty, NothingToListAndEveryCommandBeeps) {
    AcquireDialog dialog(*link, settings);
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        DialogDriver::click(dialog.hwnd(), IDC_AQUIRE);
        DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO);
        DialogDriver::click(dialog.hwnd(), IDC_THUMBNAIL);
    });
    driver.add("beeped", [&] { return dialog.beepCount() == 3; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(dialog.pictures().count, 0);
    EXPECT_TRUE(driver.messages.empty());
}

// ---- pictures 1, 2, 3 with number 2 deleted ----

using Deleted = AcquireTest;

TEST_F(Deleted, SkipsTheDeletedNumberAndLeavesTheLastSlotEmpty) {
    AcquireDialog dialog(*link, settings);
    std::vector<std::string> labels;
    std::string infoDate;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        for (int i = 0; i < 3; ++i) labels.push_back(dialog.pictures().entries[i].label);
        EXPECT_EQ(filledSlots(dialog), 2);
        EXPECT_FALSE(dialog.pictures().entries[2].isFilled());
        DialogDriver::clickCell(dialog.hwnd(), 2);  // empty: changes nothing
        DialogDriver::clickCell(dialog.hwnd(), 1);
    });
    driver.add("info", [&] { return dialog.thumbnailGrid()->isSelected(1) == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("read", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; }, [&] {
        HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
        infoDate = controlText(info, IDC_INFO_DATE);
        DialogDriver::click(info, IDOK);
    });
    driver.add("close", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) == nullptr; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_EQ(labels, (std::vector<std::string>{"01.Super Fine", "02.Normal", ""}));
    EXPECT_EQ(infoDate, "2001/02/03 11:21");  // picture number 3, asked for by its number
    EXPECT_TRUE(driver.messages.empty());
}

// ---- pictures 2 and 3 without thumbnail, automatic thumbnails on ----

using NoThumb = AcquireTest;

TEST_F(NoThumb, MissingThumbnailsAreReportedOnceAfterTheList) {
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);
    size_t messagesWhenListed = 99;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        messagesWhenListed = driver.messages.size();
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    ASSERT_EQ(driver.messages.size(), 1u);
    EXPECT_EQ(driver.messages[0].text, loadText(IDS_INFO_SOME_WITHOUT_THUMBNAIL));
    EXPECT_TRUE(driver.messages[0].informationIcon);
    EXPECT_LE(messagesWhenListed, 1u);
}

TEST_F(NoThumb, ThumbnailRequestsForAPictureWithoutOneShow3200) {
    AcquireDialog dialog(*link, settings);
    bool infoButtonDisabled = false, stillNoThumbnail = false;
    driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::clickCell(dialog.hwnd(), 1); });
    driver.add("thumbnail", [&] { return dialog.thumbnailGrid()->isSelected(1) == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_THUMBNAIL); });
    driver.add("show info", [&] { return driver.messages.size() == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("info thumbnail", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; },
               [&] { DialogDriver::click(DialogDriver::findDialogWithControl(IDC_LIST_NUMBER), IDC_THUMBNAIL); });
    driver.add("answered",
               [&] {
                   HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
                   return driver.messages.size() == 2 && info && !IsWindowEnabled(GetDlgItem(info, IDC_THUMBNAIL));
               },
               [&] {
                   HWND info = DialogDriver::findDialogWithControl(IDC_LIST_NUMBER);
                   infoButtonDisabled = true;
                   stillNoThumbnail = dialog.pictures().entries[1].thumbnail == nullptr;
                   DialogDriver::click(info, IDOK);
               });
    driver.add("close", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) == nullptr; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    ASSERT_EQ(driver.messages.size(), 2u);
    for (const SeenMessage& m : driver.messages) {
        EXPECT_EQ(m.text, loadText(IDS_INFO_NO_THUMBNAIL));
        EXPECT_TRUE(m.informationIcon);
    }
    EXPECT_TRUE(infoButtonDisabled);
    EXPECT_TRUE(stillNoThumbnail);  // the placeholder stays
}

// ---- the line goes silent after the second picture's information ----

using LineFailure = AcquireTest;

// A load request that comes while the failure is on the screen (the listing over, the dialog
// still busy) starts no second listing, which would report a second failure.
TEST_F(LineFailure, ListingReportsCommunicationErrorAndEndsWith3) {
    AcquireDialog dialog(*link, settings);
    bool requested = false;
    driver.onMessageBox = [&] {
        if (!requested) PostMessageA(dialog.hwnd(), UM_LOAD_PICTURES, 0, 0);
        requested = true;
    };
    EXPECT_EQ(runDialog(dialog, 120000), AcquireDialog::ResultReportedError);
    EXPECT_TRUE(requested);
    ASSERT_EQ(driver.messages.size(), 1u);
    EXPECT_EQ(driver.messages[0].text, loadText(IDS_ERR_COMMUNICATION));
    EXPECT_FALSE(driver.messages[0].informationIcon);
}

// ---- the line goes silent after the information of Show Info. ----

using ThumbnailFailure = AcquireTest;

TEST_F(ThumbnailFailure, FromTheInformationDialogClosesBothWithCancel) {
    AcquireDialog dialog(*link, settings);
    driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("thumbnail", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; },
               [&] { DialogDriver::click(DialogDriver::findDialogWithControl(IDC_LIST_NUMBER), IDC_THUMBNAIL); });
    // The information dialog runs inside the acquire dialog's loop, so the acquire dialog can only
    // return once both have closed. The camera dialog stays: the result is IDCANCEL, not 3.
    EXPECT_EQ(runDialog(dialog, 120000), IDCANCEL);
    ASSERT_EQ(driver.messages.size(), 1u);
    EXPECT_EQ(driver.messages[0].text, loadText(IDS_ERR_COMMUNICATION));
}

// ---- 30 pictures at the real line speed: slow enough to act while the list is read ----

using Paced = AcquireTest;

TEST_F(Paced, CancelStopsTheListingAndASecondCancelCloses) {
    AcquireDialog dialog(*link, settings);
    int filledWhenStopped = -1;
    driver.add("first picture", [&] { return dialog.isBusy() && filledSlots(dialog) >= 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    driver.add("stopped", [&] { return listed(dialog); }, [&] {
        filledWhenStopped = filledSlots(dialog);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_GE(filledWhenStopped, 1);
    EXPECT_LT(filledWhenStopped, 30);
    EXPECT_TRUE(driver.messages.empty());
}

TEST_F(Paced, DoubleClickWhileListingIsIgnoredAndAcquiresAfterwards) {
    AcquireDialog dialog(*link, settings);
    bool jpegDuringListing = true;
    driver.add("first picture", [&] { return dialog.isBusy() && filledSlots(dialog) >= 1; },
               [&] { DialogDriver::doubleClickCell(dialog.hwnd(), 0); });
    driver.add("still listing", [&] { return dialog.isBusy() && filledSlots(dialog) >= 3; }, [&] {
        jpegDuringListing = link->buffers->jpeg.count != 0;
        DialogDriver::click(dialog.hwnd(), IDCANCEL);  // stop the listing early
    });
    driver.add("listed", [&] { return listed(dialog); }, [&] { DialogDriver::doubleClickCell(dialog.hwnd(), 2); });
    EXPECT_EQ(runDialog(dialog, 120000), IDOK);
    EXPECT_FALSE(jpegDuringListing);
    EXPECT_EQ(downloaded(), cardFile("03.jpg"));
}

TEST_F(Paced, DownloadCancelledInTheProgressWindowLeavesTheDialogOpen) {
    AcquireDialog dialog(*link, settings);
    HANDLE clicker = nullptr;
    bool stillOpen = false;
    driver.add("stop listing", [&] { return dialog.isBusy() && filledSlots(dialog) >= 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        // During the download only the progress window's clicks are looked at, and this thread
        // is inside the download: another thread clicks its Cancel.
        clicker = CreateThread(nullptr, 0, clickProgressCancel, link, 0, nullptr);
        DialogDriver::click(dialog.hwnd(), IDC_AQUIRE);  // slot 0: 202 KB, some seconds at this speed
    });
    driver.add("cancelled", [&] { return !IsWindowVisible(link->hwnd()) && listed(dialog); }, [&] {
        stillOpen = IsWindow(dialog.hwnd()) != FALSE;
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog, 120000), IDCANCEL);
    DWORD sawProgress = 0;
    ASSERT_NE(clicker, nullptr);
    WaitForSingleObject(clicker, 15000);
    GetExitCodeThread(clicker, &sawProgress);
    CloseHandle(clicker);
    EXPECT_EQ(sawProgress, 1u);
    EXPECT_EQ(expectedDuringDownload, 400000u);  // picture 1 reports no size
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(driver.messages.empty());
    EXPECT_EQ(link->buffers->jpeg.count, 0u);
}

TEST_F(Paced, TheDialogAnswersWhileAPictureIsStillOnTheLine) {
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);
    int filledWhenStopped = -1;
    // Before the first picture is shown its commands are on the line: only a dialog that runs its
    // messages meanwhile ever gets to see it busy with nothing shown.
    driver.add("first picture on the line", [&] { return dialog.isBusy() && filledSlots(dialog) == 0; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    driver.add("stopped", [&] { return listed(dialog); }, [&] {
        filledWhenStopped = filledSlots(dialog);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    EXPECT_GE(filledWhenStopped, 0);
    EXPECT_LE(filledWhenStopped, 1);
    EXPECT_TRUE(driver.messages.empty());
    // The stop let the exchange on the line end: the camera takes the next command at once.
    EXPECT_EQ(link->linkError, 0);
    EXPECT_TRUE(link->GetStat(0, false));
}

// An application timer whose handler outlasts its period: this thread's queue is never empty
// while it runs. It gives up after limitMs, so that a loop it would hold for ever fails the test
// instead of hanging it.
class TimerFlood {
public:
    explicit TimerFlood(DWORD limitMs) : until(GetTickCount() + limitMs) {
        active = this;
        timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, tick);
    }
    ~TimerFlood() { stop(); }
    void stop() {
        if (timer) KillTimer(nullptr, timer);
        timer = 0;
        if (active == this) active = nullptr;
    }
    bool gaveUp() const { return expired; }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        Sleep(2 * USER_TIMER_MINIMUM);
        if (active && static_cast<LONG>(GetTickCount() - active->until) > 0) {
            active->expired = true;
            active->stop();
        }
    }
    static inline TimerFlood* active = nullptr;
    DWORD until;
    UINT_PTR timer = 0;
    bool expired = false;
};

TEST_F(Paced, StopsEndUnderATimerThatKeepsTheQueueFull) {
    // The dialog's stop.
    AcquireDialog dialog(*link, settings);
    std::unique_ptr<TimerFlood> flood;
    driver.add("first picture", [&] { return dialog.isBusy() && filledSlots(dialog) >= 1; }, [&] {
        flood = std::make_unique<TimerFlood>(60000);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    driver.add("stopped", [&] { return listed(dialog); }, [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog, 120000), IDCANCEL);
    ASSERT_NE(flood, nullptr);
    EXPECT_FALSE(flood->gaveUp()) << "the dialog's stop waited for the queue to empty";
    flood.reset();

    // A fetcher's own stop, for a caller without a loop.
    ListingFetcher fetcher(*link, nullptr, false);
    ASSERT_TRUE(fetcher.start(30));
    ListedPicture first;
    for (const DWORD began = GetTickCount(); !fetcher.take(first) && GetTickCount() - began < 30000;)
        WaitForSingleObject(fetcher.readyEvent(), 250);
    ASSERT_EQ(first.number, 1);
    flood = std::make_unique<TimerFlood>(60000);
    fetcher.finish();
    EXPECT_FALSE(flood->gaveUp()) << "the fetcher's stop waited for the queue to empty";
    flood.reset();
    EXPECT_TRUE(link->GetStat(0, false)) << "the link is free again";
}

// ---- picture 2's thumbnail takes about 40 s on the line, longer than a stop's grace ----

using LongThumbnail = AcquireTest;

// Picture 1 is shown and picture 2's thumbnail has been on the line for a while.
bool secondThumbnailOnTheLine(const AcquireDialog& dialog, DWORD& shownAt) {
    int filled = 0;
    for (int i = 0; i < dialog.pictures().count; ++i) filled += dialog.pictures().entries[i].isFilled() ? 1 : 0;
    if (!dialog.isBusy() || filled != 1) return false;
    if (!shownAt) shownAt = GetTickCount();
    return GetTickCount() - shownAt > 1500;
}

TEST_F(LongThumbnail, StoppingAbandonsAnExchangeThatOutlastsTheGrace) {
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);
    dialog.listingStopGraceMs = 300;
    DWORD shownAt = 0, clickedAt = 0, stoppedAt = 0;
    int filledWhenStopped = -1;
    driver.add("thumbnail on the line", [&] { return secondThumbnailOnTheLine(dialog, shownAt); }, [&] {
        clickedAt = GetTickCount();
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    driver.add("stopped", [&] { return listed(dialog); }, [&] {
        stoppedAt = GetTickCount();
        filledWhenStopped = filledSlots(dialog);
        DialogDriver::clickCell(dialog.hwnd(), 0);
    });
    // At once: the buttons come back only once the camera has given up the message it was cut
    // off in, so the next command finds it listening.
    driver.add("show info", [&] { return dialog.thumbnailGrid()->isSelected(0) == 1; },
               [&] { DialogDriver::click(dialog.hwnd(), IDC_SHOW_INFO); });
    driver.add("information", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) != nullptr; },
               [&] { DialogDriver::click(DialogDriver::findDialogWithControl(IDC_LIST_NUMBER), IDOK); });
    driver.add("close", [] { return DialogDriver::findDialogWithControl(IDC_LIST_NUMBER) == nullptr; },
               [&] { DialogDriver::click(dialog.hwnd(), IDCANCEL); });
    EXPECT_EQ(runDialog(dialog, 120000), IDCANCEL);
    EXPECT_EQ(filledWhenStopped, 1);
    EXPECT_TRUE(driver.messages.empty());  // neither the stop nor Show Info. has anything to report
    // Let be, the thumbnail would hold the line for about 35 s more.
    EXPECT_LT(stoppedAt - clickedAt, 25000u);
    EXPECT_EQ(link->linkError, 0);
    EXPECT_FALSE(link->abandonTransfers.load());
    EXPECT_TRUE(link->GetStat(0, false));
}

// Sends WM_NULL to a window of the dialog's thread every 50 ms from another thread and keeps the
// longest time one took to be answered.
class ResponsivenessProbe {
public:
    explicit ResponsivenessProbe(HWND target) : window(target) {
        thread = CreateThread(nullptr, 0, main, this, 0, nullptr);
    }
    ~ResponsivenessProbe() { stop(); }
    DWORD stop() {
        if (thread) {
            quit = true;
            // The probe may be sending to this thread: answer it while waiting.
            while (MsgWaitForMultipleObjects(1, &thread, FALSE, 70000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
                MSG msg;
                PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            }
            CloseHandle(thread);
            thread = nullptr;
        }
        return longest;
    }

private:
    static DWORD WINAPI main(LPVOID self) {
        auto* probe = static_cast<ResponsivenessProbe*>(self);
        while (!probe->quit) {
            const DWORD sentAt = GetTickCount();
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(probe->window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer);
            const DWORD took = GetTickCount() - sentAt;
            if (took > probe->longest) probe->longest = took;
            Sleep(50);
        }
        return 0;
    }
    HWND window;
    HANDLE thread = nullptr;
    volatile bool quit = false;
    volatile DWORD longest = 0;
};

TEST_F(LongThumbnail, OwnerDestroyedAndQuitDuringTheExchangeKeepTheThreadAnswering) {
    settings.autoThumbnails = 1;
    AcquireDialog dialog(*link, settings);  // the default grace
    HWND probed = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  moduleInstance(), nullptr);
    ResponsivenessProbe probe(probed);
    DWORD shownAt = 0, destroyedAt = 0;
    driver.add("thumbnail on the line", [&] { return secondThumbnailOnTheLine(dialog, shownAt); }, [&] {
        destroyedAt = GetTickCount();
        // As an application closing its main window would; its loop is told to end as well.
        DestroyWindow(owner);
        owner = nullptr;
        PostQuitMessage(7);
    });
    driver.start(120000);
    const INT_PTR result = dialog.run(owner);
    const DWORD returnedAt = GetTickCount();
    driver.stop();
    const DWORD longest = probe.stop();
    printf("longest unanswered during the stop: %lu ms; stop took %lu ms\n", static_cast<unsigned long>(longest),
           static_cast<unsigned long>(returnedAt - destroyedAt));
    EXPECT_TRUE(driver.finished());
    EXPECT_EQ(result, IDCANCEL);
    // A thread that waited out the grace without answering would show all of it here; a busy
    // machine's delays stay far below a third of it.
    EXPECT_LT(longest, ListingFetcher::defaultStopGraceMs / 3);
    // The exchange outlasted the grace and was abandoned: the stop ends after it, not with
    // the thumbnail.
    EXPECT_GT(returnedAt - destroyedAt, ListingFetcher::defaultStopGraceMs - 1000);
    EXPECT_LT(returnedAt - destroyedAt, 70000u);
    // The application's WM_QUIT was handed on, once.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    link->linkError = 0;
    EXPECT_TRUE(link->GetStat(0, false));
    DestroyWindow(probed);
}

// ---- a card of pictures made for the quality rule ----

using Quality = AcquireTest;

TEST_F(Quality, NamesFollowModelWidthAndCode) {
    AcquireDialog dialog(*link, settings);
    std::vector<std::string> labels;
    driver.add("listed", [&] { return listed(dialog); }, [&] {
        for (int i = 0; i < dialog.pictures().count; ++i) labels.push_back(dialog.pictures().entries[i].label);
        DialogDriver::click(dialog.hwnd(), IDCANCEL);
    });
    EXPECT_EQ(runDialog(dialog), IDCANCEL);
    // See make_quality_card in run_with_sim.sh.
    EXPECT_EQ(labels, (std::vector<std::string>{"01.Economy", "02.Fine", "03.Normal", "04.Super Fine", "05."}));
}

// ---- the cache: cache_with_sim.sh runs CacheFirst on a card, then CacheChanged on the same card
// changed (picture 2 deleted, picture 5's file as picture 3, picture 4 with another date), both
// with the same cache file ----

// Lines of the simulator's trace (run_with_sim.sh) that contain `what`.
int traceCount(const char* what) {
    std::ifstream in(env("DORVEX_TEST_TRACE"));
    std::string line;
    int n = 0;
    while (std::getline(in, line)) n += line.find(what) != std::string::npos ? 1 : 0;
    return n;
}

// The 24-bit bottom-up bits of a bitmap, for comparing two.
std::vector<uint8_t> bitmapBits(HBITMAP bitmap) {
    BITMAP info{};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) return {};
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = info.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bits(static_cast<size_t>((info.bmWidth * 3 + 3) & ~3) * info.bmHeight);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, info.bmHeight, bits.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    return bits;
}

// What the grid must show for a picture: its thumbnail file on the card, decoded as the dialog does.
std::vector<uint8_t> expectedThumbnailBits(int number, const char* card = "DORVEX_TEST_CARD") {
    const auto read = [card](const char* name) {
        std::ifstream in(env(card) + "\\" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    char name[16];
    snprintf(name, sizeof name, "%02d.thm", number);
    std::vector<uint8_t> data = read(name);
    std::unique_ptr<DibImage> decoder;
    if (data.empty()) {
        snprintf(name, sizeof name, "%02d.tif", number);
        data = read(name);
        decoder.reset(new TiffThumbnailDecoder);
        decoder->attach(data.data(), static_cast<int32_t>(data.size()));
        if (!static_cast<TiffThumbnailDecoder*>(decoder.get())->decode()) return {};
    } else {
        decoder.reset(new JpegDecoder);
        decoder->attach(data.data(), static_cast<int32_t>(data.size()));
        if (!static_cast<JpegDecoder*>(decoder.get())->decode()) return {};
    }
    HDC dc = GetDC(nullptr);
    HBITMAP bitmap = decoder->createBitmap(dc, 0);
    ReleaseDC(nullptr, dc);
    std::vector<uint8_t> bits = bitmapBits(bitmap);
    DeleteObject(bitmap);
    return bits;
}

class CacheTest : public AcquireTest {
protected:
    void SetUp() override {
        AcquireTest::SetUp();
        settings.cache = 1;
        settings.autoThumbnails = 1;
        cacheFile = env("DORVEX_TEST_CACHE_FILE");
        ASSERT_FALSE(cacheFile.empty()) << "run through cache_with_sim.sh";
        ASSERT_FALSE(env("DORVEX_TEST_TRACE").empty());
        newProcess();
    }
    // What a new process starts with: nothing in memory, the file as the last run left it.
    void newProcess() {
        pictureCache().clearMemory();
        pictureCache().setFile(cacheFile);
    }
    // Opens the dialog, waits for the list, then double-clicks `aquireSlot` (or cancels when -1).
    // Returns the dialog's result; `thumbnails` gets the number of slots with a thumbnail.
    INT_PTR openOnce(int aquireSlot, int* thumbnails = nullptr, std::vector<std::vector<uint8_t>>* bits = nullptr) {
        DialogDriver script;
        AcquireDialog dialog(*link, settings);
        script.add("listed", [&] { return listed(dialog); }, [&] {
            int n = 0;
            for (int i = 0; i < dialog.pictures().count; ++i) {
                const PictureEntry& e = dialog.pictures().entries[i];
                n += e.thumbnail ? 1 : 0;
                if (bits && e.isFilled()) bits->push_back(bitmapBits(e.thumbnail));
            }
            if (thumbnails) *thumbnails = n;
            if (aquireSlot < 0)
                DialogDriver::click(dialog.hwnd(), IDCANCEL);
            else
                DialogDriver::doubleClickCell(dialog.hwnd(), aquireSlot);
        });
        script.start(60000);
        const INT_PTR result = dialog.run(owner);
        script.stop();
        EXPECT_TRUE(script.finished()) << "not reached: " << script.pendingStep();
        EXPECT_TRUE(script.messages.empty());
        return result;
    }
    std::string cacheFile;
};

using CacheFirst = CacheTest;

TEST_F(CacheFirst, SecondOpenAndSecondAquireCrossNoWire) {
    DeleteFileA(cacheFile.c_str());
    newProcess();
    int thumbnails = 0;
    EXPECT_EQ(openOnce(-1, &thumbnails), IDCANCEL);
    EXPECT_EQ(thumbnails, 6);
    EXPECT_EQ(traceCount("rx cmd GetThumb"), 6);
    EXPECT_EQ(traceCount("rx cmd GetImgInfo"), 6);

    // Same card, same process: every thumbnail from the cache; the picture downloaded once.
    EXPECT_EQ(openOnce(0, &thumbnails), IDOK);
    EXPECT_EQ(thumbnails, 6);
    EXPECT_EQ(traceCount("rx cmd GetThumb"), 6);
    EXPECT_EQ(traceCount("rx cmd GetImgInfo"), 12);  // the information blocks identify the pictures
    EXPECT_EQ(traceCount("rx cmd GetJpeg"), 1);
    EXPECT_EQ(downloaded(), cardFile("01.jpg"));
    link->buffers->releaseJpeg();
    EXPECT_EQ(openOnce(0), IDOK);
    EXPECT_EQ(traceCount("rx cmd GetJpeg"), 1);
    EXPECT_EQ(downloaded(), cardFile("01.jpg"));
    link->buffers->releaseJpeg();

    // A new process: the thumbnails come from the file, the picture from the camera again.
    newProcess();
    std::vector<std::vector<uint8_t>> bits;
    EXPECT_EQ(openOnce(0, &thumbnails, &bits), IDOK);
    EXPECT_EQ(thumbnails, 6);
    EXPECT_EQ(traceCount("rx cmd GetThumb"), 6);
    EXPECT_EQ(traceCount("rx cmd GetJpeg"), 2);
    EXPECT_EQ(downloaded(), cardFile("01.jpg"));
    ASSERT_EQ(bits.size(), 6u);
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(bits[n - 1], expectedThumbnailBits(n)) << "picture " << n;
}

TEST_F(CacheFirst, ADamagedEntryIsFetchedAgain) {
    std::vector<uint8_t> file;
    {
        std::ifstream in(cacheFile, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(file.size(), 100u) << "runs after SecondOpenAndSecondAquireCrossNoWire";
    file[40] ^= 0x5A;  // inside the first entry
    {
        std::ofstream out(cacheFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    newProcess();
    const int before = traceCount("rx cmd GetThumb");
    int thumbnails = 0;
    std::vector<std::vector<uint8_t>> bits;
    EXPECT_EQ(openOnce(-1, &thumbnails, &bits), IDCANCEL);
    EXPECT_EQ(thumbnails, 6);
    EXPECT_EQ(traceCount("rx cmd GetThumb"), before + 1);
    ASSERT_EQ(bits.size(), 6u);
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(bits[n - 1], expectedThumbnailBits(n)) << "picture " << n;
}

TEST_F(CacheFirst, CacheOffFetchesEverythingEveryTime) {
    settings.cache = 0;
    const int thumbs = traceCount("rx cmd GetThumb");
    const int jpegs = traceCount("rx cmd GetJpeg");
    EXPECT_EQ(openOnce(1), IDOK);
    EXPECT_EQ(openOnce(1), IDOK);
    EXPECT_EQ(traceCount("rx cmd GetThumb"), thumbs + 12);
    EXPECT_EQ(traceCount("rx cmd GetJpeg"), jpegs + 2);
    EXPECT_EQ(downloaded(), cardFile("02.jpg"));
}

using CacheChanged = CacheTest;

TEST_F(CacheChanged, ChangedPicturesAreFetchedAndNoOldDataShown) {
    int thumbnails = 0;
    std::vector<std::vector<uint8_t>> bits;
    // Slots: pictures 1, 3, 4, 5, 6 (2 is deleted); 3 is another picture, 4 has another date.
    EXPECT_EQ(openOnce(1, &thumbnails, &bits), IDOK);
    EXPECT_EQ(thumbnails, 5);
    EXPECT_EQ(traceCount("rx cmd GetThumb"), 2);
    EXPECT_EQ(traceCount("rx cmd GetJpeg"), 1);
    EXPECT_EQ(downloaded(), cardFile("03.jpg"));
    const int numbers[] = {1, 3, 4, 5, 6};
    ASSERT_EQ(bits.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(bits[i], expectedThumbnailBits(numbers[i])) << "picture " << numbers[i];
    // The card really changed there: the first run's picture 3 looked different.
    EXPECT_NE(expectedThumbnailBits(3), expectedThumbnailBits(3, "DORVEX_TEST_OLD_CARD"));
}

}  // namespace
