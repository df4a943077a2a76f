// The thumbnail grid driven through its real windows: geometry, scrolling by rows, selection
// and the notifications it posts to its owner.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "source/module.h"
#include "ui/picture_list.h"
#include "ui/thumbnail_grid.h"
#include "ui/user_messages.h"

namespace {

// A crash ends the test at once instead of waiting in Wine's debugger.
const UINT previousErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);

// A top-level window standing in for the acquire dialog; counts what the grid posts to it.
struct Owner {
    HWND window = nullptr;
    int selChanged = 0;
    int activate = 0;

    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Owner*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && message == UM_SELCHANGED) ++self->selChanged;
        if (self && message == UM_ACTIVATE_PICTURE) ++self->activate;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }

    Owner() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = moduleInstance();
        wc.lpszClassName = "GridTestOwner";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        RegisterClassA(&wc);  // fails harmlessly when already registered
        window = CreateWindowExA(0, "GridTestOwner", "grid test", WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 520,
                                 420, nullptr, nullptr, moduleInstance(), nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Owner() { DestroyWindow(window); }

    void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    void resetCounts() {
        pump();
        selChanged = 0;
        activate = 0;
    }
};

void fill(PictureList& list, int index, uint32_t handle) {
    list.entries[index].pictureHandle = handle;
    snprintf(list.entries[index].label, sizeof(list.entries[index].label), "%02d.Fine", index + 1);
    strcpy(list.entries[index].dateText, "2026/12/07 09:30");
}

class GridTest : public ::testing::Test {
protected:
    Owner owner;
    PictureList list;
    ThumbnailGrid grid;

    void build(int count) {
        ASSERT_TRUE(list.allocate(count));
        ASSERT_NE(grid.create(owner.window, 1002), nullptr);
        MoveWindow(grid.hwnd(), 10, 10, 1, 1, TRUE);
        grid.setList(list);
        owner.resetCounts();
    }
    HWND sheet() const { return GetDlgItem(grid.hwnd(), 50); }
    HWND cell(int index) const { return GetDlgItem(sheet(), 51 + index); }
    // The sheet's top edge in grid client coordinates.
    int sheetTop() const {
        RECT r;
        GetWindowRect(sheet(), &r);
        POINT p{r.left, r.top};
        ScreenToClient(grid.hwnd(), &p);
        return p.y;
    }
    SCROLLINFO scrollInfo() const {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_ALL;
        GetScrollInfo(grid.hwnd(), SB_VERT, &info);
        return info;
    }
    bool scrollBarDisabled() const {
        SCROLLBARINFO info{};
        info.cbSize = sizeof(info);
        GetScrollBarInfo(grid.hwnd(), OBJID_VSCROLL, &info);
        return (info.rgstate[0] & STATE_SYSTEM_UNAVAILABLE) != 0;
    }
    void scroll(int request, int position = 0) {
        SendMessageA(grid.hwnd(), WM_VSCROLL, MAKEWPARAM(request, position), 0);
    }
    void click(int index) { SendMessageA(cell(index), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50)); }
    void doubleClick(int index) {
        SendMessageA(cell(index), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(50, 50));
    }
};

TEST_F(GridTest, ForcesItsSizeAndShowsFourByThreeCellsInItsClientArea) {
    build(13);
    RECT window;
    GetWindowRect(grid.hwnd(), &window);
    EXPECT_EQ(window.right - window.left, 444 + GetSystemMetrics(SM_CXVSCROLL));
    EXPECT_EQ(window.bottom - window.top, 334);
    RECT client;
    GetClientRect(grid.hwnd(), &client);
    EXPECT_EQ(client.right, 440);
    EXPECT_EQ(client.bottom, 330);
    EXPECT_EQ(GetWindowLongA(grid.hwnd(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);

    RECT s;
    GetWindowRect(sheet(), &s);
    EXPECT_EQ(s.right - s.left, 440);
    EXPECT_EQ(s.bottom - s.top, 4 * 110);  // (13 + 3) / 4 rows

    for (int i : {0, 3, 4, 12}) {
        HWND c = cell(i);
        ASSERT_NE(c, nullptr) << i;
        RECT r;
        GetWindowRect(c, &r);
        POINT p{r.left, r.top};
        ScreenToClient(sheet(), &p);
        EXPECT_EQ(p.x, (i % 4) * 110) << i;
        EXPECT_EQ(p.y, (i / 4) * 110) << i;
        EXPECT_EQ(r.right - r.left, 110);
        EXPECT_EQ(r.bottom - r.top, 110);
        // A cell refuses any other size too.
        MoveWindow(c, p.x, p.y, 20, 30, FALSE);
        GetWindowRect(c, &r);
        EXPECT_EQ(r.right - r.left, 110);
    }
    EXPECT_EQ(cell(13), nullptr);
}

TEST_F(GridTest, EmptyListHasAMinimumSheetAndADisabledBar) {
    build(0);
    RECT s;
    GetWindowRect(sheet(), &s);
    EXPECT_EQ(s.right - s.left, 440);
    EXPECT_EQ(s.bottom - s.top, 330);
    SCROLLINFO info = scrollInfo();
    EXPECT_EQ(info.nMin, 0);
    EXPECT_EQ(info.nMax, 0);
    EXPECT_TRUE(scrollBarDisabled());
    EXPECT_EQ(grid.maxTopRowIndex(), -2);
    EXPECT_EQ(grid.isSelected(0), 0);
    EXPECT_EQ(cell(0), nullptr);
    scroll(SB_LINEDOWN);
    EXPECT_EQ(sheetTop(), 0);
}

TEST_F(GridTest, UpToTwelvePicturesNeverScroll) {
    struct Case {
        int count, maxTopRow, maximum;
    };
    PictureList empty;
    ASSERT_NE(grid.create(owner.window, 1002), nullptr);
    for (Case c : {Case{1, -2, 0}, Case{8, -1, 1}, Case{9, 0, 2}, Case{12, 0, 2}}) {
        SCOPED_TRACE(c.count);
        grid.setList(empty);  // the cells must not outlive the slots they show
        ASSERT_TRUE(list.allocate(c.count));
        if (!grid.hwnd()) {
            ASSERT_NE(grid.create(owner.window, 1002), nullptr);
        }
        grid.setList(list);
        owner.resetCounts();
        EXPECT_EQ(grid.maxTopRowIndex(), c.maxTopRow);
        SCROLLINFO info = scrollInfo();
        EXPECT_EQ(info.nMax, c.maximum);
        // Page 3 is asked for; the system caps it at the size of the range.
        EXPECT_EQ(info.nPage, static_cast<UINT>(c.maximum + 1 < 3 ? c.maximum + 1 : 3));
        EXPECT_TRUE(scrollBarDisabled());
        for (int request : {SB_LINEDOWN, SB_PAGEDOWN, SB_LINEUP, SB_PAGEUP}) scroll(request);
        scroll(SB_THUMBTRACK, 1);
        EXPECT_EQ(sheetTop(), 0);
        owner.pump();
        EXPECT_EQ(owner.selChanged, 0);  // nothing moved, so nothing to repaint
    }
    // A new list replaces the old sheet and its cells.
    int sheets = 0;
    for (HWND child = GetWindow(grid.hwnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++sheets;
    EXPECT_EQ(sheets, 1);
}

TEST_F(GridTest, ThirteenPicturesScrollByOneRowPerRequest) {
    build(13);
    SCROLLINFO info = scrollInfo();
    EXPECT_EQ(info.nMax, 3);
    EXPECT_EQ(grid.maxTopRowIndex(), 1);
    EXPECT_FALSE(scrollBarDisabled());

    scroll(SB_LINEUP);  // already at the top
    EXPECT_EQ(sheetTop(), 0);
    EXPECT_EQ(grid.topRowIndex(), 0);

    scroll(SB_LINEDOWN);
    EXPECT_EQ(sheetTop(), -110);
    EXPECT_EQ(scrollInfo().nPos, 1);
    owner.pump();
    EXPECT_EQ(owner.selChanged, 1);  // the moved sheet tells the owner to repaint

    scroll(SB_LINEDOWN);  // beyond the last row: stays
    EXPECT_EQ(sheetTop(), -110);
    EXPECT_EQ(grid.topRowIndex(), 1);

    scroll(SB_PAGEUP);
    EXPECT_EQ(sheetTop(), 0);
    scroll(SB_PAGEDOWN);  // a page is one row
    EXPECT_EQ(sheetTop(), -110);
    scroll(SB_TOP);
    scroll(SB_BOTTOM);
    scroll(SB_ENDSCROLL);
    EXPECT_EQ(sheetTop(), -110);
}

TEST_F(GridTest, ThumbTrackingMovesLiveAndReleaseChangesNothing) {
    build(30);  // 8 rows, maxTopRow 5
    EXPECT_EQ(grid.maxTopRowIndex(), 5);
    scroll(SB_THUMBTRACK, 3);
    EXPECT_EQ(sheetTop(), -330);
    EXPECT_EQ(scrollInfo().nPos, 3);
    scroll(SB_THUMBTRACK, 4);
    EXPECT_EQ(sheetTop(), -440);
    scroll(SB_THUMBPOSITION, 1);
    EXPECT_EQ(sheetTop(), -440);
    scroll(SB_THUMBTRACK, 6);  // beyond maxTopRow
    EXPECT_EQ(sheetTop(), -440);
    EXPECT_EQ(grid.topRowIndex(), 4);
}

TEST_F(GridTest, ScrollToOutsideTheRangeMovesNothing) {
    build(30);
    grid.scrollTo(2);
    EXPECT_EQ(sheetTop(), -220);
    EXPECT_EQ(scrollInfo().nPos, 2);
    for (int row : {-2, -1, 6, 100}) {
        grid.scrollTo(row);
        EXPECT_EQ(sheetTop(), -220) << row;
        EXPECT_EQ(grid.topRowIndex(), 2) << row;
    }
    grid.scrollTo(5);
    EXPECT_EQ(sheetTop(), -550);
    grid.scrollTo(0);
    EXPECT_EQ(sheetTop(), 0);
}

TEST_F(GridTest, FirstSlotIsSelectedOnceFilled) {
    build(5);
    EXPECT_EQ(grid.isSelected(0), 0);  // first cell marked, but its slot is still empty
    fill(list, 0, 1);
    EXPECT_EQ(grid.isSelected(0), 1);
    fill(list, 1, 2);
    EXPECT_EQ(grid.isSelected(1), 0);
    EXPECT_EQ(grid.isSelected(-1), 0);
    EXPECT_EQ(grid.isSelected(5), 0);
}

TEST_F(GridTest, ClickSelectsExactlyOneFilledSlot) {
    build(5);
    fill(list, 0, 1);
    fill(list, 1, 3);
    fill(list, 2, 4);

    click(2);
    owner.pump();
    EXPECT_EQ(owner.selChanged, 1);
    EXPECT_EQ(grid.isSelected(0), 0);
    EXPECT_EQ(grid.isSelected(1), 0);
    EXPECT_EQ(grid.isSelected(2), 1);

    click(2);  // clicking the selected one keeps it selected
    EXPECT_EQ(grid.isSelected(2), 1);

    owner.resetCounts();
    click(3);  // empty slot: nothing changes, nothing is posted
    owner.pump();
    EXPECT_EQ(owner.selChanged, 0);
    EXPECT_EQ(grid.isSelected(2), 1);
    EXPECT_EQ(grid.isSelected(3), 0);

    click(1);
    EXPECT_EQ(grid.isSelected(1), 1);
    EXPECT_EQ(grid.isSelected(2), 0);
    int selected = 0;
    for (int i = 0; i < 5; ++i) selected += grid.isSelected(i);
    EXPECT_EQ(selected, 1);
}

TEST_F(GridTest, DoubleClickOnAFilledSlotAsksForThePicture) {
    build(3);
    fill(list, 0, 1);
    doubleClick(1);  // empty
    owner.pump();
    EXPECT_EQ(owner.activate, 0);
    doubleClick(0);
    owner.pump();
    EXPECT_EQ(owner.activate, 1);
}

TEST_F(GridTest, RealClickGoesThroughTheCellsWindowClass) {
    build(2);
    fill(list, 0, 1);
    fill(list, 1, 2);
    EXPECT_NE(GetClassLongA(cell(0), GCL_STYLE) & CS_DBLCLKS, 0u);
    RECT r;
    GetWindowRect(cell(1), &r);
    SetForegroundWindow(owner.window);
    SetCursorPos(r.left + 40, r.top + 40);
    INPUT clicks[2]{};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof(INPUT));
    // The click goes through the window system's input queue: a bounded wait, for a busy machine.
    for (int i = 0; i < 2000 && !grid.isSelected(1); ++i) {
        owner.pump();
        Sleep(10);
    }
    EXPECT_EQ(grid.isSelected(1), 1);
    EXPECT_EQ(grid.isSelected(0), 0);
}

// Colour at a point of a cell, read back from the screen after painting.
COLORREF pixelOf(HWND cell, int x, int y) {
    RedrawWindow(cell, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(cell);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(cell, dc);
    return colour;
}

TEST_F(GridTest, CellPaintsFramePlaceholderAndCroppedThumbnail) {
    build(3);
    fill(list, 0, 1);
    fill(list, 1, 2);
    EXPECT_EQ(pixelOf(cell(0), 12, 7), RGB(255, 0, 0));  // selected: red frame
    EXPECT_EQ(pixelOf(cell(0), 11, 40), RGB(255, 0, 0));
    EXPECT_EQ(pixelOf(cell(1), 12, 7), RGB(192, 192, 192));
    EXPECT_EQ(pixelOf(cell(1), 15, 10), RGB(0, 0, 0));  // placeholder border
    EXPECT_EQ(pixelOf(cell(2), 12, 7), RGB(192, 192, 192));  // empty slot: background only
    EXPECT_EQ(pixelOf(cell(2), 15, 10), RGB(192, 192, 192));

    // A 100 x 100 green thumbnail is shown unscaled, cut to 80 x 60.
    HDC screen = GetDC(nullptr);
    HBITMAP green = CreateCompatibleBitmap(screen, 100, 100);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, green);
    RECT all{0, 0, 100, 100};
    HBRUSH brush = CreateSolidBrush(RGB(0, 255, 0));
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    list.entries[1].thumbnail = green;  // the list deletes it
    EXPECT_EQ(pixelOf(cell(1), 15 + 79, 10 + 59), RGB(0, 255, 0));
    EXPECT_EQ(pixelOf(cell(1), 15 + 81, 10 + 30), RGB(192, 192, 192));
    EXPECT_EQ(pixelOf(cell(1), 15 + 30, 10 + 61), RGB(192, 192, 192));

    // Moving the selection repaints the old frame grey without erasing.
    click(1);
    EXPECT_EQ(pixelOf(cell(0), 12, 7), RGB(192, 192, 192));
    EXPECT_EQ(pixelOf(cell(1), 12, 7), RGB(255, 0, 0));
}

// The pixels of a rectangle of a cell as painted, for comparing two renderings.
std::vector<COLORREF> pixelsOf(HWND cell, RECT r) {
    RedrawWindow(cell, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    std::vector<COLORREF> pixels;
    HDC dc = GetDC(cell);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) pixels.push_back(GetPixel(dc, x, y));
    ReleaseDC(cell, dc);
    return pixels;
}

bool hasInk(const std::vector<COLORREF>& pixels) {
    for (COLORREF c : pixels)
        if (c != RGB(192, 192, 192)) return true;
    return false;
}

TEST_F(GridTest, LabelDateAndMarkAreClippedToTheirLengths) {
    build(1);
    fill(list, 0, 1);
    const RECT text{0, 76, 110, 108};
    const RECT mark{90, 76, 108, 90};
    strcpy(list.entries[0].label, "01.Super Fine");
    strcpy(list.entries[0].dateText, "2026/12/07 09:30");
    const std::vector<COLORREF> exact = pixelsOf(cell(0), text);
    EXPECT_TRUE(hasInk(exact));
    strcpy(list.entries[0].label, "01.Super FineXYZ");  // 16 characters, 13 shown
    strcpy(list.entries[0].dateText, "2026/12/07 09:30:59");
    EXPECT_EQ(pixelsOf(cell(0), text), exact);
    strcpy(list.entries[0].label, "01.Super Fin");  // one fewer shows less
    EXPECT_NE(pixelsOf(cell(0), text), exact);

    EXPECT_FALSE(hasInk(pixelsOf(cell(0), mark)));
    list.entries[0].markFlag = 1;
    EXPECT_TRUE(hasInk(pixelsOf(cell(0), mark)));
}

int childCount(HWND parent) {
    int count = 0;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++count;
    return count;
}

// A status may claim 65,535 pictures: the grid makes windows only for the rows around the
// view, reaches the last slot, and keeps one selection across rows made and dropped.
TEST_F(GridTest, TheLargestCountACameraReportsCostsABoundedNumberOfWindows) {
    const int count = 65535;
    build(count);
    const int bound = 100;  // a few screens of cells, whatever the count
    EXPECT_LE(childCount(sheet()), bound);
    EXPECT_NE(cell(0), nullptr);
    const int lastTop = (count + 3) / 4 - 3;
    EXPECT_EQ(grid.maxTopRowIndex(), lastTop);
    fill(list, 0, 1);
    EXPECT_EQ(grid.isSelected(0), 1);

    scroll(SB_THUMBTRACK, lastTop);
    EXPECT_EQ(grid.topRowIndex(), lastTop);
    EXPECT_LE(childCount(sheet()), bound);
    EXPECT_EQ(cell(0), nullptr);
    HWND last = cell(count - 1);
    ASSERT_NE(last, nullptr);
    // The last slot's cell is in view: inside the grid's client area.
    RECT r, client;
    GetWindowRect(last, &r);
    GetClientRect(grid.hwnd(), &client);
    MapWindowPoints(grid.hwnd(), HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_GE(r.top, client.top);
    EXPECT_LE(r.bottom, client.bottom);
    fill(list, count - 1, 2);
    click(count - 1);
    EXPECT_EQ(grid.isSelected(count - 1), 1);
    EXPECT_EQ(grid.isSelected(0), 0);

    // Line by line back to the top: every row in view has its cells on the way.
    for (int row = lastTop; row > lastTop - 40; --row) {
        scroll(SB_LINEUP);
        EXPECT_NE(cell((row - 1) * 4), nullptr) << row;
    }
    grid.scrollTo(0);
    EXPECT_NE(cell(0), nullptr);
    EXPECT_LE(childCount(sheet()), bound);
    EXPECT_EQ(grid.isSelected(0), 0);  // the selection stayed with the last slot
    EXPECT_EQ(grid.isSelected(count - 1), 1);
}

TEST(GridLifetime, DestroyingTheGridObjectRemovesItsWindows) {
    Owner owner;
    PictureList list;
    ASSERT_TRUE(list.allocate(4));
    HWND gridWindow;
    {
        ThumbnailGrid grid;
        gridWindow = grid.create(owner.window, 1002);
        ASSERT_NE(gridWindow, nullptr);
        grid.setList(list);
        EXPECT_TRUE(IsWindow(GetDlgItem(gridWindow, 50)));
    }
    EXPECT_FALSE(IsWindow(gridWindow));
    // The classes can be registered again by the next grid.
    ThumbnailGrid again;
    EXPECT_NE(again.create(owner.window, 1002), nullptr);
}

}  // namespace
