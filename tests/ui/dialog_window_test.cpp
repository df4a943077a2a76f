// The dialog base: object reachable from its window, grey background, modeless life cycle,
// modal result, and no object after the window is gone.
#include "resources/resource_ids.h"
#include "ui/dialog_window.h"

#include <gtest/gtest.h>

namespace {

class ProbeDialog : public DialogWindow {
public:
    ~ProbeDialog() override { destroyWindow(); }
    int initCount = 0;
    int destroyCount = 0;
    bool endInInit = false;

protected:
    BOOL onInitDialog() override {
        ++initCount;
        if (endInInit) endDialog(42);
        return TRUE;
    }
    void onDestroy() override { ++destroyCount; }
};

}  // namespace

TEST(DialogWindow, ModelessWindowFindsItsObjectAndPaintsGrey) {
    ProbeDialog dialog;
    HWND hwnd = dialog.createModeless(IDD_CAMERA, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(dialog.hwnd(), hwnd);
    EXPECT_EQ(DialogWindow::fromWindow(hwnd), &dialog);
    EXPECT_EQ(dialog.initCount, 1);
    EXPECT_NE(dialog.item(IDC_OPEN), nullptr);

    HDC dc = GetDC(hwnd);
    const LRESULT brush = SendMessageA(hwnd, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd));
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), GetStockObject(LTGRAY_BRUSH));
    EXPECT_EQ(GetBkColor(dc), RGB(192, 192, 192));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    ReleaseDC(hwnd, dc);

    dialog.destroyWindow();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(dialog.hwnd(), nullptr);
    EXPECT_EQ(dialog.destroyCount, 1);
}

TEST(DialogWindow, DestructorDestroysAModelessWindow) {
    HWND hwnd;
    {
        ProbeDialog dialog;
        hwnd = dialog.createModeless(IDD_CAMERA, nullptr);
        ASSERT_TRUE(IsWindow(hwnd));
    }
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(DialogWindow, ModalDialogReturnsTheResultItEndsWith) {
    ProbeDialog dialog;
    dialog.endInInit = true;
    EXPECT_EQ(dialog.runModal(IDD_CAMERA, nullptr), 42);
    EXPECT_EQ(dialog.hwnd(), nullptr);
    EXPECT_EQ(dialog.initCount, 1);
}

TEST(DialogWindow, MissingTemplateFailsCleanly) {
    ProbeDialog dialog;
    EXPECT_EQ(dialog.createModeless(999, nullptr), nullptr);
    EXPECT_EQ(dialog.runModal(999, nullptr), -1);
    EXPECT_EQ(dialog.initCount, 0);
}
