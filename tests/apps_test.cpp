// The applications window over real helper windows: which windows are
// listed, their icons, selection both ways, the double click, saving, a
// helper that stops answering, and the GDI objects of repeated refills.
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "bench/objectcount.h"
#include "details/apps.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct AppRow {
    std::string text;
    DWORD processId;
    int image;
    bool selected;
};

std::vector<AppRow> Rows(HWND list) {
    std::vector<AppRow> rows;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        char text[260] = "";
        LVITEMA item;
        item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE | LVIF_STATE;
        item.iItem = i;
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        item.stateMask = LVIS_SELECTED;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        rows.push_back({text, static_cast<DWORD>(item.lParam), item.iImage,
                        (item.state & LVIS_SELECTED) != 0});
    }
    return rows;
}

std::vector<AppRow> RowsOf(HWND list, DWORD processId) {
    std::vector<AppRow> rows;
    for (const AppRow& row : Rows(list)) {
        if (row.processId == processId) {
            rows.push_back(row);
        }
    }
    return rows;
}

int RowIndexOf(HWND list, DWORD processId) {
    std::vector<AppRow> rows = Rows(list);
    for (size_t i = 0; i < rows.size(); i++) {
        if (rows[i].processId == processId) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The pixels of one image of an image list, drawn on white.
std::vector<COLORREF> ImagePixels(HIMAGELIST images, int index) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 16, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < 16; y++) {
        for (int x = 0; x < 16; x++) {
            pixels.push_back(GetPixel(dc, x, y));
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

BOOL CALLBACK CountVisibleWindows(HWND window, LPARAM search) {
    std::pair<DWORD, size_t>* wanted = reinterpret_cast<std::pair<DWORD, size_t>*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wanted->second += owner == wanted->first && IsWindowVisible(window);
    return TRUE;
}

size_t VisibleWindowCount(DWORD processId) {
    std::pair<DWORD, size_t> search(processId, 0);
    EnumWindows(CountVisibleWindows, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

class AppsTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
    }
    void TearDown() override {
        for (Child& child : helpers) {
            EndChild(child);
        }
        ListFixture::TearDown();
    }
    // Starts a helper with windows and waits until they are in place.
    DWORD StartHelper(const std::string& options, bool shown = true) {
        helpers.push_back(StartChild("\"" + BinPath("tvhelper.exe") + "\" " + options));
        Child& child = helpers.back();
        EXPECT_TRUE(child.started);
        HWND window = FindProcessWindow(child.info.dwProcessId, "TvHelperWindow", nullptr, 5000);
        EXPECT_NE(window, nullptr);
        size_t wanted = options.find("--windows=3") != std::string::npos   ? 3
                        : options.find("--windows=2") != std::string::npos ? 2
                                                                           : 1;
        if (shown) {
            EXPECT_TRUE(PumpUntil(
                [&] { return VisibleWindowCount(child.info.dwProcessId) == wanted; }, 5000));
        }
        windows.push_back(window);
        return child.info.dwProcessId;
    }
    void SelectInMainList(DWORD processId) {
        ASSERT_TRUE(PumpUntil(
            [&] {
                SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
                return SelectProcessById(processId) != 0;
            },
            5000));
    }
    // Opens the window, runs `action` on its list, closes it.
    bool InApplications(const std::function<void(HWND dialog, HWND list)>& action) {
        return WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_APPLICATIONS, 0); },
                          [&](HWND dialog) {
                              action(dialog, GetDlgItem(dialog, IDC_APPLICATION_LIST));
                              SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                          });
    }
    std::vector<Child> helpers;
    std::vector<HWND> windows;
};

// A real click (or two) of the left button at the middle of a row. Every
// event carries the position, so that a pointer move still on its way
// cannot put a click elsewhere.
void ClickRow(HWND list, int row, int clicks) {
    SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    RECT rect;
    rect.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    POINT point = {rect.left + 30, (rect.top + rect.bottom) / 2};
    ClientToScreen(list, &point);
    ASSERT_EQ(WindowFromPoint(point), list);
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input[5];
    memset(input, 0, sizeof input);
    for (int i = 0; i <= 2 * clicks; i++) {
        input[i].type = INPUT_MOUSE;
        input[i].mi.dx = (point.x * 65536 + width - 1) / width;
        input[i].mi.dy = (point.y * 65536 + height - 1) / height;
        input[i].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
        if (i > 0) {
            input[i].mi.dwFlags |= i % 2 ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
        }
    }
    SendInput(2 * clicks + 1, input, sizeof input[0]);
}

TEST_F(AppsTest, ListsVisibleWindowsWithASystemMenuAndSelectsTheChosenProcess) {
    DWORD titled = StartHelper("--window=visible --title=tv-apps-titled");
    DWORD untitled = StartHelper("--window=visible --title=\"\"");
    DWORD hidden = StartHelper("--window=hidden --title=tv-apps-hidden", false);
    DWORD menuless = StartHelper("--window=nosysmenu --title=tv-apps-menuless");
    DWORD twice = StartHelper("--window=visible --windows=2 --title=tv-apps-twice");
    SelectInMainList(twice);

    std::vector<AppRow> all, titledRows, untitledRows, twiceRows;
    int imageCount = 0;
    int columnWidth = 0, clientWidth = 0, resizedColumn = 0;
    ASSERT_TRUE(InApplications([&](HWND dialog, HWND list) {
        all = Rows(list);
        titledRows = RowsOf(list, titled);
        untitledRows = RowsOf(list, untitled);
        twiceRows = RowsOf(list, twice);
        HIMAGELIST images =
            reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        imageCount = ImageList_GetImageCount(images);
        RECT client;
        GetClientRect(dialog, &client);
        clientWidth = client.right;
        columnWidth = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0));
        RECT outer;
        GetWindowRect(dialog, &outer);
        SetWindowPos(dialog, nullptr, 0, 0, outer.right - outer.left + 60,
                     outer.bottom - outer.top + 20, SWP_NOMOVE | SWP_NOZORDER);
        GetClientRect(dialog, &client);
        resizedColumn =
            static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0)) - client.right;
    }));

    ASSERT_EQ(titledRows.size(), 1u);
    EXPECT_EQ(titledRows[0].text, "tv-apps-titled");
    EXPECT_FALSE(titledRows[0].selected);
    ASSERT_EQ(untitledRows.size(), 1u);
    EXPECT_EQ(untitledRows[0].text, ToAnsi("不正确的版本"));
    for (const AppRow& row : all) {
        EXPECT_NE(row.processId, hidden);
        EXPECT_NE(row.processId, menuless);
        EXPECT_GE(row.image, 0);
        EXPECT_LT(row.image, imageCount);
        // Only the chosen process's windows start selected.
        EXPECT_TRUE(!row.selected || row.processId == twice) << row.text;
    }
    // Both windows of the chosen process are listed; the list keeps a
    // single selection, so one of them shows selected.
    ASSERT_EQ(twiceRows.size(), 2u);
    EXPECT_TRUE(twiceRows[0].selected || twiceRows[1].selected);
    EXPECT_EQ(columnWidth, clientWidth);
    EXPECT_EQ(resizedColumn, 0);
}

// The pixels of an icon put into an image list of the window's kind.
std::vector<COLORREF> IconPixels(HICON icon) {
    HIMAGELIST images = ImageList_Create(16, 16, ILC_MASK, 1, 1);
    ICONINFO info;
    EXPECT_TRUE(GetIconInfo(icon, &info));
    ImageList_Add(images, info.hbmColor, info.hbmMask);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    std::vector<COLORREF> pixels = ImagePixels(images, 0);
    ImageList_Destroy(images);
    return pixels;
}

HICON SmallIcon(HINSTANCE instance, LPCSTR id) {
    return static_cast<HICON>(LoadImageA(instance, id, IMAGE_ICON, 16, 16, LR_SHARED));
}

HWND CreateOwnWindow(const char* className, HICON classIcon, HICON windowIcon) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIconSm = classIcon;
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, className, className, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300,
                                  300, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (windowIcon) {
        SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(windowIcon));
    }
    return window;
}

TEST_F(AppsTest, IconsComeFromTheWindowItsClassItsProgramOrTheStandIn) {
    HICON warning = SmallIcon(nullptr, IDI_WARNING);
    HICON question = SmallIcon(nullptr, IDI_QUESTION);
    HWND plain = CreateOwnWindow("tv-apps-plain", nullptr, nullptr);
    HWND ownIcon = CreateOwnWindow("tv-apps-window-icon", question, warning);
    HWND classIcon = CreateOwnWindow("tv-apps-class-icon", question, nullptr);
    DWORD helper = StartHelper("--window=visible --title=tv-apps-helper --icon");
    SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);

    std::vector<COLORREF> shown[4];
    ASSERT_TRUE(InApplications([&](HWND, HWND list) {
        HIMAGELIST images =
            reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        const char* titles[] = {"tv-apps-plain", "tv-apps-window-icon", "tv-apps-class-icon",
                                "tv-apps-helper"};
        for (const AppRow& row : Rows(list)) {
            for (int i = 0; i < 4; i++) {
                if (row.text == titles[i]) {
                    shown[i] = ImagePixels(images, row.image);
                }
            }
        }
    }));
    DestroyWindow(plain);
    DestroyWindow(ownIcon);
    DestroyWindow(classIcon);
    (void)helper;
    EXPECT_EQ(shown[0], IconPixels(fallbackWindowIcon));
    EXPECT_EQ(shown[1], IconPixels(warning));
    EXPECT_EQ(shown[2], IconPixels(question));
    // The helper's window has the icon of its program; where the system does
    // not share icons between programs it is read from the program's file.
    EXPECT_EQ(shown[3],
              IconPixels(SmallIcon(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TOLVANE))));
    EXPECT_NE(shown[1], shown[0]);
    EXPECT_NE(shown[3], shown[0]);
}

TEST_F(AppsTest, ClickSelectsTheOwnerAndDoubleClickRaisesAMinimisedWindow) {
    DWORD plain = StartHelper("--window=visible --title=tv-apps-plain");
    DWORD minimised = StartHelper("--window=minimized --title=tv-apps-minimised", false);
    HWND minimisedWindow = windows.back();
    ASSERT_TRUE(PumpUntil([&] { return IsIconic(minimisedWindow) != 0; }, 5000));
    SelectInMainList(plain);
    SelectProcessById(0); // nothing selected when the window opens

    DWORD afterClick = 0, afterDoubleClick = 0;
    bool restored = false, tolvaneInFront = false;
    ASSERT_TRUE(InApplications([&](HWND dialog, HWND list) {
        SetForegroundWindow(dialog);
        // Away from the helpers' windows, which open at the top left.
        SetWindowPos(dialog, HWND_TOP, 700, 500, 0, 0, SWP_NOSIZE);
        ClickRow(list, RowIndexOf(list, plain), 1);
        PumpUntil([&] { return GetSelectedProcess(listWindow, nullptr, 0) == plain; }, 5000);
        afterClick = GetSelectedProcess(listWindow, nullptr, 0);
        PumpMessages(600); // the next click is not taken for the second of a pair
        ClickRow(list, RowIndexOf(list, minimised), 2);
        PumpMessages(100);
        restored = PumpUntil([&] { return !IsIconic(minimisedWindow); }, 5000);
        afterDoubleClick = GetSelectedProcess(listWindow, nullptr, 0);
        // Tolvane keeps the foreground through its open dialog, which the
        // disabled main window must not cover.
        tolvaneInFront = PumpUntil([&] { return GetForegroundWindow() == dialog; }, 3000);
    }));
    EXPECT_EQ(afterClick, plain);
    EXPECT_EQ(afterDoubleClick, minimised);
    EXPECT_TRUE(restored);
    EXPECT_TRUE(tolvaneInFront);
}

TEST_F(AppsTest, KeysSaveRefreshAndSelect) {
    DWORD titled = StartHelper("--window=visible --title=tv-apps-saved");
    DWORD untitled = StartHelper("--window=visible --title=\"\"");
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string file = std::string(folder) + "tolvane-apps.txt";
    DeleteFileA(file.c_str());

    bool plainSSaved = true, ctrlSSaved = false, f2Saved = false;
    DWORD afterS = 0;
    size_t rowsBefore = 0, rowsAfterF5 = 0, lateRows = 0;
    DWORD late = 0;
    SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
    ASSERT_TRUE(InApplications([&](HWND, HWND list) {
        rowsBefore = Rows(list).size();
        // S alone saves nothing but still selects the current row's owner.
        int row = RowIndexOf(list, titled);
        LVITEMA state;
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        plainSSaved = WithDialogOfClass(
            "#32770", [&] { SendMessageA(list, WM_KEYDOWN, 'S', 0); },
            [](HWND save) { SendMessageA(save, WM_COMMAND, IDCANCEL, 0); });
        PumpMessages(100);
        afterS = GetSelectedProcess(listWindow, nullptr, 0);

        // Ctrl+S asks for a file and writes every row.
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        ctrlSSaved = WithDialogOfClass(
            "#32770", [&] { SendMessageA(list, WM_KEYDOWN, 'S', 0); },
            [&](HWND save) { SaveAsIn(save, file); });
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);

        // F5 shows a window that appeared after the list was filled.
        late = StartHelper("--window=visible --title=tv-apps-late");
        SendMessageA(list, WM_KEYDOWN, VK_F5, 0);
        rowsAfterF5 = Rows(list).size();
        lateRows = RowsOf(list, late).size();
        DeleteFileA(file.c_str());
        f2Saved = WithDialogOfClass(
            "#32770", [&] { SendMessageA(list, WM_KEYDOWN, VK_F2, 0); },
            [&](HWND save) { SaveAsIn(save, file); });
    }));
    EXPECT_FALSE(plainSSaved);
    EXPECT_EQ(afterS, titled);
    EXPECT_TRUE(ctrlSSaved);
    EXPECT_TRUE(f2Saved);
    EXPECT_EQ(lateRows, 1u);
    EXPECT_GT(rowsAfterF5, rowsBefore);
    std::string saved = ReadFileBytes(file);
    EXPECT_NE(saved.find("tv-apps-saved (" + std::to_string(titled) + ")\r\n"), std::string::npos);
    // An untitled window's line starts with the blank, not with the stand-in text.
    EXPECT_NE(saved.find("\n (" + std::to_string(untitled) + ")\r\n"), std::string::npos);
    EXPECT_NE(saved.find("tv-apps-late (" + std::to_string(late) + ")\r\n"), std::string::npos);
    EXPECT_EQ(saved.find(ToAnsi("不正确的版本")), std::string::npos);
    DeleteFileA(file.c_str());
}

TEST_F(AppsTest, AWindowThatStoppedAnsweringDoesNotHoldTheWindowUp) {
    DWORD hung = StartHelper("--window=visible --windows=3 --title=tv-apps-hung --hang");
    DWORD start = GetTickCount();
    DWORD opened = 0;
    std::vector<AppRow> rows;
    ASSERT_TRUE(InApplications([&](HWND, HWND list) {
        opened = GetTickCount() - start;
        rows = RowsOf(list, hung);
    }));
    // Without a limit on the icon question the window would never open.
    EXPECT_LT(opened, 2000u);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "tv-apps-hung");
}

TEST_F(AppsTest, TitlesOf99BytesAndMoreAreCutBetweenCharactersInRowsAndSavedLines) {
    // "昞" (0x95 0x5C) ends in the byte of a backslash; in the third title
    // it would straddle the 99th byte.
    const std::string dbcs = "\x95\x5c";
    std::string doubles;
    for (int i = 0; i < 60; i++) {
        doubles += dbcs;
    }
    const std::string titles[] = {std::string(99, 'a'), std::string(100, 'b'),
                                  std::string(98, 'c') + dbcs + "cc", std::string(250, 'd'),
                                  "e" + doubles};
    const std::string shown[] = {titles[0], titles[1].substr(0, 99), titles[2].substr(0, 98),
                                 titles[3].substr(0, 99), titles[4].substr(0, 99)};
    DWORD ids[5];
    for (int i = 0; i < 5; i++) {
        ids[i] = StartHelper("--window=visible --title=" + titles[i]);
    }
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string file = std::string(folder) + "tolvane-apps-long.txt";
    DeleteFileA(file.c_str());
    std::vector<AppRow> rows[5];
    ASSERT_TRUE(InApplications([&](HWND, HWND list) {
        for (int i = 0; i < 5; i++) {
            rows[i] = RowsOf(list, ids[i]);
        }
        WithDialogOfClass(
            "#32770", [&] { SendMessageA(list, WM_KEYDOWN, VK_F2, 0); },
            [&](HWND save) { SaveAsIn(save, file); });
    }));
    std::string saved = ReadFileBytes(file);
    for (int i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        ASSERT_EQ(rows[i].size(), 1u);
        EXPECT_EQ(rows[i][0].text, shown[i]);
        EXPECT_NE(saved.find(shown[i] + " (" + std::to_string(ids[i]) + ")\r\n"),
                  std::string::npos);
    }
    DeleteFileA(file.c_str());
}

TEST_F(AppsTest, RefillsLeaveTheGdiObjectCountAsItWas) {
    int (*count)() = GdiCounter();
    if (!count) {
        GTEST_SKIP() << "no way to count GDI objects here";
    }
    StartHelper("--window=visible --windows=3 --title=tv-apps-gdi --icon");
    StartHelper("--window=visible --title=tv-apps-gdi-plain");
    int first = -1, last = -1;
    ASSERT_TRUE(InApplications([&](HWND, HWND list) {
        SendMessageA(list, WM_KEYDOWN, VK_F5, 0);
        PumpMessages(50);
        first = count();
        for (int i = 0; i < 50; i++) {
            SendMessageA(list, WM_KEYDOWN, VK_F5, 0);
        }
        PumpMessages(50);
        last = count();
    }));
    printf("GDI objects after the first and the 51st fill: %d, %d (counted by %s)\n", first, last,
           count == CountGuiResources ? "GetGuiResources" : "the process's handle table");
    EXPECT_GT(first, 0);
    EXPECT_EQ(last, first);
}

} // namespace
