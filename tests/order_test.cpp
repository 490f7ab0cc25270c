// Window order, focus and keys, driven as a user does it: real clicks and
// keys on the X display (xdotool), the order read from the window stack.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/apps.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"
#include "views/listfilter.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <functional>
#include <string>
#include <vector>

namespace {

// Position in the stack of top-level windows, the topmost first.
int StackIndex(HWND window) {
    int index = 0;
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == window) {
            return index;
        }
        index++;
    }
    return -1;
}

// What a key or click opened: a dialog (its title) or a pop-up menu (its
// place); the timer closes it again.
struct Opened {
    std::string dialogTitle;
    RECT menu;
    bool menuShown;
};
Opened opened;

void CALLBACK CloseWhatOpened(HWND, UINT, UINT_PTR, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (menu && IsWindowVisible(menu)) {
        opened.menuShown = true;
        GetWindowRect(menu, &opened.menu);
        EndMenu();
    }
    HWND dialog = FindWindowA(DIALOG_CLASS_NAME, nullptr);
    if (dialog && IsWindowEnabled(dialog)) {
        char title[300];
        GetWindowTextA(dialog, title, sizeof title);
        opened.dialogTitle = title;
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
}

// Keys typed on the keyboard as soon as a pop-up menu is open; the timer
// runs inside the menu's own loop, which must keep every message it fetches.
std::string keysToType;

void CALLBACK TypeKeysIntoOpenMenu(HWND, UINT, UINT_PTR, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (!keysToType.empty() && menu && IsWindowVisible(menu)) {
        StartHostCommand("xdotool key --delay 150 " + keysToType);
        keysToType.clear();
    }
}

class OrderTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
    }
    void TearDown() override {
        EndChild(helper);
        if (mainWindow && useSysTray) {
            SetTrayIcon(0);
        }
        useSysTray = 0;
        ListFixture::TearDown();
    }
    void StartHelper(const char* options) {
        helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" " + options);
        ASSERT_TRUE(helper.started);
        // The helper's own window: Wine may give the process windows of its
        // own besides, on top of it.
        target = FindProcessWindow(helper.info.dwProcessId, "TvHelperWindow", nullptr, 5000);
        ASSERT_NE(target, nullptr);
        ASSERT_TRUE(PumpUntil(
            [&] {
                SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
                return RowOf(helper.info.dwProcessId) != -1;
            },
            5000));
    }
    // The centre of a row of a list view on the screen.
    static POINT RowPoint(HWND list, int row) {
        RECT rect;
        rect.left = LVIR_LABEL;
        SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
        return ScreenPoint(list, rect.left + 10, (rect.top + rect.bottom) / 2);
    }
    // The tray icon: the only one, at the right end of the taskbar.
    static POINT TrayPoint() {
        RECT bar = {0, 0, 0, 0};
        GetWindowRect(FindWindowA("Shell_TrayWnd", nullptr), &bar);
        return POINT{bar.right - 11, (bar.top + bar.bottom) / 2};
    }
    // A double click on the helper's row of the applications dialog, which
    // restores its minimised window.
    void DoubleClickApplicationRow(HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_APPLICATION_LIST);
        LVFINDINFOA find = {
            LVFI_PARAM, nullptr, static_cast<LPARAM>(helper.info.dwProcessId), {0, 0}, 0};
        int row = static_cast<int>(
            SendMessageA(list, LVM_FINDITEMA, -1, reinterpret_cast<LPARAM>(&find)));
        ASSERT_NE(row, -1);
        // The list holds every top-level window of the prefix: the row may
        // lie below its visible part.
        SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
        Xdotool(XdotoolClick(RowPoint(list, row), 1, 2));
        EXPECT_TRUE(PumpUntil([&] { return !IsIconic(target); }, 5000));
    }
    Child helper = {};
    HWND target = nullptr;
};

// Every way the main window comes forward while a dialog of it is open
// leaves the dialog above it, in front.
TEST_F(OrderTest, AnOpenDialogStaysAboveTheMainWindow) {
    useSysTray = 1;
    SetTrayIcon(1);
    ShowWindow(mainWindow, SW_MAXIMIZE);
    StartHelper("--window=minimized --title=target");
    const struct {
        const char* name;
        UINT dialogCommand;
        std::function<void(HWND)> bringForward;
    } cases[] = {
        {"double click of an applications row", IDM_APPLICATIONS,
         [&](HWND dialog) { DoubleClickApplicationRow(dialog); }},
        {"double click of the tray icon", IDM_PROCESS_TREE,
         [&](HWND) {
             RECT rect;
             GetWindowRect(target, &rect);
             Xdotool(XdotoolClick(POINT{rect.left + 50, rect.top + 60}, 1));
             Xdotool(XdotoolClick(TrayPoint(), 1, 2));
         }},
        {"a second copy started", IDM_PROCESS_TREE,
         [&](HWND) {
             Child second = StartChild("\"" + BinPath(PROGRAM_FILE) + "\"");
             EXPECT_EQ(WaitChild(second, 10000), 0);
             EndChild(second);
         }},
    };
    for (const auto& c : cases) {
        int dialogIndex = -1, mainIndex = -1;
        bool dialogInFront = false;
        ASSERT_TRUE(WithDialog([&] { SendMessageA(mainWindow, WM_COMMAND, c.dialogCommand, 0); },
                               [&](HWND dialog) {
                                   c.bringForward(dialog);
                                   PumpMessages(500);
                                   dialogIndex = StackIndex(dialog);
                                   mainIndex = StackIndex(mainWindow);
                                   dialogInFront = GetForegroundWindow() == dialog;
                                   PostMessageA(dialog, WM_CLOSE, 0, 0);
                               }))
            << c.name;
        EXPECT_LT(dialogIndex, mainIndex) << c.name;
        EXPECT_TRUE(dialogInFront) << c.name;
    }
}

// The target of a double click in the applications dialog may take the
// front back when it handles its focus late; whichever of the two ends on
// top, the main window never covers its dialog, as the X server stacks them.
TEST_F(OrderTest, TheMainWindowNeverCoversItsDialogAfterRepeatedDoubleClicks) {
    ShowWindow(mainWindow, SW_MAXIMIZE);
    StartHelper("--window=minimized --title=target");
    ASSERT_TRUE(WithDialog([&] { SendMessageA(mainWindow, WM_COMMAND, IDM_APPLICATIONS, 0); },
                           [&](HWND dialog) {
                               for (int round = 0; round < 10; round++) {
                                   ShowWindow(target, SW_MINIMIZE);
                                   ASSERT_TRUE(PumpUntil([&] { return IsIconic(target); }, 3000));
                                   DoubleClickApplicationRow(dialog);
                                   // Late activations of the target come within this.
                                   PumpMessages(700);
                                   std::vector<int> x = XStackIndexes({dialog, mainWindow});
                                   ASSERT_NE(x[0], -1) << round;
                                   EXPECT_LT(x[0], x[1]) << round;
                                   EXPECT_LT(StackIndex(dialog), StackIndex(mainWindow)) << round;
                               }
                               PostMessageA(dialog, WM_CLOSE, 0, 0);
                           }));
}

// The tray menu of the hidden window, opened while another program's window
// holds the X focus, takes Esc, the arrows and Enter typed on the keyboard.
TEST_F(OrderTest, TheTrayMenuOfTheHiddenWindowTakesTheKeys) {
    useSysTray = 1;
    SetTrayIcon(1);
    StartHelper("--window=visible --title=other");
    const struct {
        const char* keys;
        bool visibleAfter;
    } cases[] = {
        {"Escape", false},
        {"Down Return", true},         // the first item opens the window
        {"Down Down Up Return", true}, // the arrows wrap past the last item and back
    };
    for (const auto& c : cases) {
        SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_FALSE(IsWindowVisible(mainWindow));
        // The other program's window takes the focus with a click of its own,
        // after one on the desktop: the window that came forward as the main
        // window hid is active already, and a click does not move the focus.
        RECT rect;
        GetWindowRect(target, &rect);
        Xdotool(XdotoolClick(POINT{rect.right + 200, rect.bottom + 400}, 1) + " sleep 0.3 " +
                XdotoolClick(POINT{rect.left + 50, rect.top + 60}, 1));
        EXPECT_TRUE(PumpUntil([] { return XFocusTitle() == "other"; }, 5000)) << c.keys;
        // The keys are typed once the menu is open; should they go astray,
        // the menu is closed after a while.
        opened = Opened{};
        keysToType = c.keys;
        UINT_PTR typing = SetTimer(nullptr, 0, 100, TypeKeysIntoOpenMenu);
        UINT_PTR timer = SetTimer(nullptr, 0, 15000, CloseWhatOpened);
        Xdotool(XdotoolClick(TrayPoint(), 3), 30000);
        KillTimer(nullptr, timer);
        KillTimer(nullptr, typing);
        EXPECT_TRUE(keysToType.empty()) << c.keys << ": no menu opened";
        EXPECT_TRUE(
            PumpUntil([&] { return (IsWindowVisible(mainWindow) != 0) == c.visibleAfter; }, 3000))
            << c.keys;
        EXPECT_FALSE(opened.menuShown) << c.keys;
        if (c.visibleAfter) {
            // The window that opened has the keyboard, as the X server sees it.
            EXPECT_TRUE(PumpUntil([] { return GetForegroundWindow() == mainWindow; }, 3000))
                << c.keys;
            EXPECT_TRUE(PumpUntil([] { return XFocusTitle() == mainTitle; }, 3000)) << c.keys;
        }
    }
}

// Keys typed in the main list on the selected row.
TEST_F(OrderTest, MainListKeysActOnTheSelectedRow) {
    StartHelper("--window=visible --title=keys");
    const struct {
        const char* key;
        const char* dialogTitle; // the dialog opened, or null for the row's pop-up
    } cases[] = {
        {"Delete", "中止"},
        {"Return", "版本"},
        {"shift+F10", nullptr},
        {"Menu", nullptr},
    };
    for (const auto& c : cases) {
        int row = RowOf(helper.info.dwProcessId);
        Xdotool(XdotoolClick(RowPoint(listWindow, row), 1));
        ASSERT_TRUE(PumpUntil(
            [&] { return GetSelectedProcess(listWindow, nullptr, 0) == helper.info.dwProcessId; },
            3000));
        opened = Opened{};
        UINT_PTR timer = SetTimer(nullptr, 0, 200, CloseWhatOpened);
        Xdotool(std::string("key ") + c.key);
        EXPECT_TRUE(
            PumpUntil([] { return opened.menuShown || !opened.dialogTitle.empty(); }, 10000))
            << c.key;
        PumpMessages(300); // room for anything else the key might open
        KillTimer(nullptr, timer);
        if (c.dialogTitle) {
            EXPECT_EQ(opened.dialogTitle, ToAnsi(c.dialogTitle))
                << c.key << ": " << opened.dialogTitle;
            EXPECT_FALSE(opened.menuShown) << c.key;
        } else {
            // The pop-up hangs from the row.
            RECT rowRect;
            rowRect.left = LVIR_LABEL;
            SendMessageA(listWindow, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rowRect));
            POINT below = ScreenPoint(listWindow, rowRect.left, rowRect.bottom);
            EXPECT_TRUE(opened.menuShown) << c.key;
            EXPECT_EQ(opened.menu.left, below.x) << c.key;
            EXPECT_EQ(opened.menu.top, below.y) << c.key;
            EXPECT_EQ(opened.dialogTitle, "") << c.key;
        }
    }
    // Terminate was asked, never done.
    EXPECT_EQ(WaitForSingleObject(helper.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// Ctrl+E takes the keys to the filter box, what is typed there filters at
// once, and Esc empties it and gives the keys back to the list.
TEST_F(OrderTest, CtrlEFiltersAndEscGivesTheListBack) {
    StartHelper("--window=visible --title=filter");
    // The program's loop: its accelerators first.
    static HACCEL keys = LoadAcceleratorsA(appInstance, mainClassName);
    pumpTranslate = [](MSG* message) { return TranslateMainAccelerator(keys, message); };
    int rows = static_cast<int>(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0));
    Xdotool(XdotoolClick(RowPoint(listWindow, RowOf(helper.info.dwProcessId)), 1));
    ASSERT_TRUE(PumpUntil([] { return GetFocus() == listWindow; }, 3000));
    Xdotool("key ctrl+e");
    EXPECT_TRUE(PumpUntil([] { return GetFocus() == filterBox; }, 3000));
    Xdotool("type --delay 50 TVHELP");
    EXPECT_TRUE(PumpUntil([] { return std::string(listFilterText) == "TVHELP"; }, 3000));
    for (DWORD id : RowIds()) {
        ProcessNode* node = GetRowNode(RowOf(id));
        EXPECT_NE(Lower(std::string(node->name) + node->path).find("tvhelp"), std::string::npos);
    }
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), helper.info.dwProcessId);
    Xdotool("key Escape");
    EXPECT_TRUE(PumpUntil([] { return GetFocus() == listWindow; }, 3000));
    EXPECT_EQ(listFilterText[0], 0);
    EXPECT_EQ(SendMessageA(listWindow, LVM_GETITEMCOUNT, 0, 0), rows);
    pumpTranslate = nullptr;
}

// The dialog open in front of the main window, or null.
static HWND OpenDialog() {
    HWND dialog = FindWindowA(DIALOG_CLASS_NAME, nullptr);
    return dialog && IsWindowVisible(dialog) && IsWindowEnabled(dialog) ? dialog : nullptr;
}

// Esc on the keyboard once a dialog shows, from the dialog's own loop.
static void CALLBACK PressEscapeInDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    if (OpenDialog()) {
        KillTimer(nullptr, timer);
        StartHostCommand("xdotool key Escape");
    }
}

// A point on a window's caption, for a real click that activates it.
static POINT CaptionPoint(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return POINT{rect.left + 60, rect.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2};
}

// The keys go on reaching the list after its version dialog closed and
// after the user went to another program and came back by the caption; a
// detail window takes Esc after such a switch.
TEST_F(OrderTest, TheListAndADetailWindowKeepTheKeysAfterADialogAndASwitch) {
    StartHelper("--window=visible --title=switch");
    Xdotool(XdotoolClick(RowPoint(listWindow, RowOf(helper.info.dwProcessId)), 1));
    ASSERT_TRUE(PumpUntil([] { return GetFocus() == listWindow; }, 3000));
    // A click on the helper's window, then back on the window's caption.
    auto switchAwayAndBack = [&](HWND window) {
        Xdotool(XdotoolClick(ScreenPoint(target, 20, 20), 1));
        PumpUntil([&] { return GetForegroundWindow() != window; }, 3000);
        Xdotool(XdotoolClick(CaptionPoint(window), 1));
        PumpUntil([&] { return GetForegroundWindow() == window; }, 3000);
    };
    auto selectedRow = [] {
        return SendMessageA(listWindow, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    };
    for (bool dialog : {true, false}) {
        SCOPED_TRACE(dialog ? "the version dialog closed by Esc" : "a switch to another program");
        if (dialog) {
            UINT_PTR escape = SetTimer(nullptr, 0, 300, PressEscapeInDialog);
            Xdotool("key Return");
            EXPECT_TRUE(PumpUntil([] { return !OpenDialog(); }, 5000));
            KillTimer(nullptr, escape);
        } else {
            switchAwayAndBack(mainWindow);
        }
        LRESULT selected = selectedRow();
        Xdotool(selected > 0 ? "key Up" : "key Down");
        EXPECT_TRUE(PumpUntil([&] { return selectedRow() != selected; }, 3000));
    }
    // The threads window, its keys handed to it first as its own loop does.
    bool closed = false;
    ASSERT_TRUE(SelectProcessById(helper.info.dwProcessId));
    pumpTranslate = [](MSG* message) {
        HWND dialog = OpenDialog();
        return dialog && IsDialogMessageA(dialog, message) ? 1 : 0;
    };
    WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_THREADS, 0); },
               [&](HWND dialog) {
                   switchAwayAndBack(dialog);
                   Xdotool("key Escape");
                   closed = PumpUntil([&] { return !IsWindowVisible(dialog); }, 3000);
                   if (!closed) {
                       PostMessageA(dialog, WM_CLOSE, 0, 0);
                   }
               });
    pumpTranslate = nullptr;
    EXPECT_TRUE(closed);
}

} // namespace
