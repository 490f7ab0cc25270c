// The real main window created in-process: its menu, check marks, layout,
// option toggles and the hide-instead-of-minimise behaviour.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "views/processlist.h"
#include "listfixture.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

bool TrayIconPresent() {
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = 88;
    data.hWnd = mainWindow;
    // A modification succeeds only for an icon that exists.
    data.uFlags = NIF_TIP;
    strcpy(data.szTip, mainTitle);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != 0;
}

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        PrepareProgramClasses();
    }
    void Create() {
        ASSERT_NE(CreateMainWindow(appInstance), nullptr);
        ShowWindow(mainWindow, SW_SHOW);
        menu = GetMenu(mainWindow);
    }
    void TearDown() override {
        if (mainWindow) {
            DestroyWindow(mainWindow);
        }
        PumpMessages(0);
        mainWindow = listWindow = nullptr;
        useSysTray = 1;
        startMinimized = colorize = hexProcessId = allowMultipleInstances = 0;
        DeleteSettingsKey();
    }
    bool Checked(UINT id) {
        return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
    }
    bool Grayed(UINT id) {
        return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
    }
    HMENU menu = nullptr;
};

TEST_F(MainWindowTest, MenuBarWithTheProcessGroupGrayedAndNoHeapsOnNt) {
    useSysTray = 0;
    Create();
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    const char* captions[] = {"文件(&F)", "查看(&V)", "进程(&P)", "帮助(&H)"};
    for (int i = 0; i < 4; i++) {
        char text[64];
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(std::string(text), ToAnsi(captions[i]));
    }
    EXPECT_EQ(GetMenuState(menu, IDM_HEAPS, MF_BYCOMMAND), static_cast<UINT>(-1));
    for (UINT id : {IDM_THREADS, IDM_MODULES, IDM_MEMORY, IDM_VERSION, IDM_STARTUP_INFO,
                    IDM_COPY_PATH, IDM_SWITCH_TO, IDM_BRING_TO_FRONT, IDM_PRIORITY, IDM_AFFINITY,
                    IDM_DEBUG, IDM_TERMINATE}) {
        EXPECT_TRUE(Grayed(id)) << id;
    }
    EXPECT_FALSE(Grayed(IDM_REFRESH));
}

TEST_F(MainWindowTest, CheckMarksFollowTheSettings) {
    startMinimized = 1;
    colorize = 1;
    hexProcessId = 1;
    useSysTray = 0;
    allowMultipleInstances = 1;
    Create();
    EXPECT_TRUE(Checked(IDM_START_MINIMIZED));
    EXPECT_TRUE(Checked(IDM_COLORIZE));
    EXPECT_TRUE(Checked(IDM_HEX_IDS));
    EXPECT_FALSE(Checked(IDM_USE_SYSTRAY));
    EXPECT_TRUE(Checked(IDM_MULTIPLE_INSTANCES));
    EXPECT_FALSE(TrayIconPresent());
}

TEST_F(MainWindowTest, OptionTogglesFlipTheSettingAndTheMark) {
    useSysTray = 0;
    Create();
    SendMessageA(mainWindow, WM_COMMAND, IDM_START_MINIMIZED, 0);
    EXPECT_EQ(startMinimized, 1);
    EXPECT_TRUE(Checked(IDM_START_MINIMIZED));
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_START_MINIMIZED, 1), 0);
    EXPECT_EQ(startMinimized, 0);
    EXPECT_FALSE(Checked(IDM_START_MINIMIZED));

    SendMessageA(mainWindow, WM_COMMAND, IDM_MULTIPLE_INSTANCES, 0);
    EXPECT_EQ(allowMultipleInstances, 1);
    // Written at once: a second copy started now reads it.
    EXPECT_EQ(GetSettingsText("AllowMultiplyInstances"), "1");
    SendMessageA(mainWindow, WM_COMMAND, IDM_MULTIPLE_INSTANCES, 0);
    EXPECT_EQ(GetSettingsText("AllowMultiplyInstances"), "0");

    // The tray option adds and removes the icon.
    SendMessageA(mainWindow, WM_COMMAND, IDM_USE_SYSTRAY, 0);
    EXPECT_EQ(useSysTray, 1);
    EXPECT_TRUE(TrayIconPresent());
    SendMessageA(mainWindow, WM_COMMAND, IDM_USE_SYSTRAY, 0);
    EXPECT_EQ(useSysTray, 0);
    EXPECT_FALSE(TrayIconPresent());
}

TEST_F(MainWindowTest, TheListFillsTheClientAreaAndOnlyARestoredSizeIsStored) {
    useSysTray = 0;
    Create();
    SetWindowPos(mainWindow, nullptr, 0, 0, 520, 410, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(windowWidth, 520);
    EXPECT_EQ(windowHeight, 410);
    RECT client, list;
    GetClientRect(mainWindow, &client);
    GetClientRect(listWindow, &list);
    MapWindowPoints(listWindow, mainWindow, reinterpret_cast<POINT*>(&list), 2);
    // The list view's client area lies within the main window's.
    EXPECT_GE(list.left, 0);
    EXPECT_LE(list.right, client.right);
    EXPECT_LE(list.bottom, client.bottom);
    EXPECT_GT(list.right - list.left, client.right - 10);

    ShowWindow(mainWindow, SW_MAXIMIZE);
    EXPECT_EQ(windowWidth, 520);
    EXPECT_EQ(windowHeight, 410);
}

TEST_F(MainWindowTest, TheWindowCannotBeShrunkBelowItsLeastSize) {
    useSysTray = 0;
    Create();
    SetWindowPos(mainWindow, nullptr, 0, 0, 116, 33, SWP_NOMOVE | SWP_NOZORDER);
    RECT outer;
    GetWindowRect(mainWindow, &outer);
    EXPECT_EQ(outer.right - outer.left, MIN_WINDOW_WIDTH);
    EXPECT_EQ(outer.bottom - outer.top, MIN_WINDOW_HEIGHT);
    EXPECT_EQ(windowWidth, MIN_WINDOW_WIDTH);
    EXPECT_EQ(windowHeight, MIN_WINDOW_HEIGHT);
}

TEST_F(MainWindowTest, ClosingTheWindowClosesTheKeptProcessHandles) {
    useSysTray = 0;
    Create();
    SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
    EXPECT_GT(KeptProcessHandleCount(), 0);
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    EXPECT_EQ(KeptProcessHandleCount(), 0);
}

TEST_F(MainWindowTest, WithTheTrayMinimiseAndCloseHideTheWindowAndStopTheTimer) {
    useSysTray = 1;
    Create();
    SetRefreshTimer(1);
    ASSERT_NE(refreshTimerRunning, 0u);
    EXPECT_TRUE(TrayIconPresent());

    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsWindowVisible(mainWindow));
    EXPECT_FALSE(IsIconic(mainWindow));
    EXPECT_EQ(refreshTimerRunning, 0u);

    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(IsWindowVisible(mainWindow));
    EXPECT_NE(refreshTimerRunning, 0u);

    // The close box hides too; the program keeps running.
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(mainWindow));
    EXPECT_FALSE(IsWindowVisible(mainWindow));

    // The tray menu's "open" command brings it back.
    SendMessageA(mainWindow, WM_COMMAND, IDM_OPEN_WINDOW, 0);
    EXPECT_TRUE(IsWindowVisible(mainWindow));

    // A maximised window comes back maximised, at its size, from the restore
    // a second start asks for.
    ShowWindow(mainWindow, SW_MAXIMIZE);
    RECT before, after;
    GetWindowRect(mainWindow, &before);
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    GetWindowRect(mainWindow, &after);
    EXPECT_TRUE(IsZoomed(mainWindow));
    EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(MainWindowTest, WithoutTheTrayMinimiseIsTheUsualOne) {
    useSysTray = 0;
    Create();
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsIconic(mainWindow));
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(mainWindow));
}

TEST_F(MainWindowTest, TaskbarCreatedPutsTheIconBack) {
    useSysTray = 1;
    Create();
    UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = 88;
    data.hWnd = mainWindow;
    Shell_NotifyIconA(NIM_DELETE, &data);
    ASSERT_FALSE(TrayIconPresent());
    SendMessageA(mainWindow, taskbarCreated, 0, 0);
    EXPECT_TRUE(TrayIconPresent());
}

TEST_F(MainWindowTest, QueryEndSessionSavesAndAllowsTheEnd) {
    useSysTray = 0;
    Create();
    DeleteSettingsKey();
    EXPECT_EQ(SendMessageA(mainWindow, WM_QUERYENDSESSION, 0, 0), 1);
    EXPECT_TRUE(SettingsValueExists("RefreshTimes"));
}

std::vector<UINT> PopupIds(HMENU popup) {
    std::vector<UINT> ids;
    for (int i = 0; i < GetMenuItemCount(popup); i++) {
        ids.push_back(GetMenuItemID(popup, i));
    }
    return ids;
}

TEST_F(MainWindowTest, PopupsAreFoundByTheirCaptions) {
    useSysTray = 0;
    Create();
    HMENU tray = FindPopupByCaption(nullptr, IDS_TRAY_POPUP);
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(PopupIds(tray), (std::vector<UINT>{IDM_OPEN_WINDOW, 0, IDM_EXIT}));
    EXPECT_EQ(PopupIds(FindPopupByCaption(nullptr, IDS_COPY_POPUP)),
              (std::vector<UINT>{IDM_COPY_PATH}));
    EXPECT_EQ(PopupIds(FindPopupByCaption(nullptr, IDS_MODULE_POPUP)),
              (std::vector<UINT>{IDM_MODULE_VERSION, 0, IDM_COPY_PATH}));
    HMENU process = FindPopupByCaption(GetMenu(mainWindow), IDS_PROCESS_POPUP);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(GetMenuItemID(process, 0), static_cast<UINT>(IDM_THREADS));
    // A caption that is empty, or that no pop-up has, finds nothing.
    EXPECT_EQ(FindPopupByCaption(nullptr, 9), nullptr);
    EXPECT_EQ(FindPopupByCaption(GetMenu(mainWindow), IDS_TRAY_POPUP), nullptr);
    EXPECT_EQ(ShowPopupMenu(mainWindow, nullptr, 9), 0);
}

BOOL CALLBACK FindMenuWindow(HWND window, LPARAM result) {
    char name[32];
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "#32768") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

// The visible pop-up menu window of this thread, if any.
HWND OpenMenuWindow() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMenuWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool popupShown;
void CALLBACK ClosePopupMenu(HWND, UINT, UINT_PTR, DWORD) {
    if (OpenMenuWindow()) {
        popupShown = true;
        EndMenu();
    }
}

TEST_F(MainWindowTest, RightClicksOpenTheProcessAndTrayPopups) {
    useSysTray = 1;
    Create();
    for (LPARAM trigger : {0, 1}) {
        // The pop-up runs a modal loop: look for it from a timer and close it.
        popupShown = false;
        UINT_PTR timer = SetTimer(nullptr, 0, 50, ClosePopupMenu);
        if (trigger == 0) {
            SendMessageA(mainWindow, MSG_LIST_EVENT, static_cast<WPARAM>(NM_RCLICK), IDC_LIST_MAIN);
        } else {
            SendMessageA(mainWindow, MSG_TRAY_NOTIFY, 0, WM_RBUTTONUP);
        }
        KillTimer(nullptr, timer);
        EXPECT_TRUE(popupShown) << trigger;
    }
    // Another control's event is not the list's.
    EXPECT_EQ(SendMessageA(mainWindow, MSG_LIST_EVENT, static_cast<WPARAM>(NM_RCLICK), 7), 0);
}

int trayMenuTicks;
bool trayMenuKeysSent;
// Types Down and Enter into the open tray menu, as a user would; a menu that
// ignores the keyboard is closed after a few seconds so the test can fail.
void CALLBACK TypeIntoTrayMenu(HWND, UINT, UINT_PTR, DWORD) {
    trayMenuTicks++;
    if (!trayMenuKeysSent && OpenMenuWindow()) {
        trayMenuKeysSent = true;
        PressKey(VK_DOWN);
        PressKey(VK_RETURN);
    } else if (trayMenuTicks > 60) {
        EndMenu();
    }
}

TEST_F(MainWindowTest, TheTrayMenuOfAHiddenWindowTakesTheKeyboard) {
    useSysTray = 1;
    Create();
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_FALSE(IsWindowVisible(mainWindow));
    // The user works in another program; Tolvane is in the tray.
    Child other = StartChild("\"" + BinPath("tvhelper.exe") + "\" --window=visible");
    ASSERT_TRUE(other.started);
    HWND otherWindow = FindProcessWindow(other.info.dwProcessId, nullptr, nullptr, 5000);
    ASSERT_NE(otherWindow, nullptr);
    SetForegroundWindow(otherWindow);
    EXPECT_TRUE(PumpUntil([&] { return GetForegroundWindow() == otherWindow; }, 3000));

    trayMenuTicks = 0;
    trayMenuKeysSent = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, TypeIntoTrayMenu);
    SendMessageA(mainWindow, MSG_TRAY_NOTIFY, 0, WM_RBUTTONUP);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(trayMenuKeysSent);
    // Enter on the first item, "open", shows the window again.
    EXPECT_TRUE(PumpUntil([] { return IsWindowVisible(mainWindow) != 0; }, 3000));
    EndChild(other);
}

TEST_F(MainWindowTest, TrayDoubleClickShowsTheHiddenWindow) {
    useSysTray = 1;
    Create();
    SendMessageA(mainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_FALSE(IsWindowVisible(mainWindow));
    SendMessageA(mainWindow, MSG_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(mainWindow));
    EXPECT_NE(refreshTimerRunning, 0u);
}

TEST_F(MainWindowTest, RefreshTimerPeriodRules) {
    useSysTray = 0;
    Create();
    colorize = 0;
    mainRefreshSeconds = 0;
    SetRefreshTimer(1);
    EXPECT_EQ(refreshTimerRunning, 0u);
    colorize = 1;
    SetRefreshTimer(1);
    EXPECT_NE(refreshTimerRunning, 0u);
    SetRefreshTimer(0);
    EXPECT_EQ(refreshTimerRunning, 0u);
    colorize = 0;
    mainRefreshSeconds = 2;
}

int enumerations;
BOOL WINAPI CountingEnumProcesses(DWORD*, DWORD, DWORD* returned) {
    enumerations++;
    *returned = 0;
    return TRUE;
}

TEST_F(MainWindowTest, TimerTickExpiresHighlightsAndRefreshesUnlessSuspended) {
    useSysTray = 0;
    Create();
    NtApi saved = ntApi;
    ntApi.enumProcesses = CountingEnumProcesses;
    ntApi.ntQuerySystemInformation = nullptr;
    enumerations = 0;
    SendMessageA(mainWindow, WM_TIMER, REFRESH_TIMER_ID, 0);
    EXPECT_EQ(enumerations, 1);
    SendMessageA(mainWindow, WM_TIMER, 7, 0);
    EXPECT_EQ(enumerations, 1);

    // Suspended: no pass; F5 ends the suspension and restores the title.
    refreshSuspended = 1;
    SetWindowTextA(mainWindow, "filtered");
    SendMessageA(mainWindow, WM_TIMER, REFRESH_TIMER_ID, 0);
    EXPECT_EQ(enumerations, 1);
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_REFRESH, 1), 0);
    EXPECT_EQ(enumerations, 2);
    EXPECT_EQ(refreshSuspended, 0);
    char title[64];
    GetWindowTextA(mainWindow, title, sizeof title);
    EXPECT_STREQ(title, mainTitle);
    ntApi = saved;
}

TEST_F(MainWindowTest, ToolbarStatusBarAndListShareTheClientArea) {
    useSysTray = 0;
    Create();
    ASSERT_NE(toolbarWindow, nullptr);
    ASSERT_NE(statusWindow, nullptr);
    EXPECT_EQ(SendMessageA(toolbarWindow, TB_BUTTONCOUNT, 0, 0), 18);
    EXPECT_TRUE(SendMessageA(toolbarWindow, TB_ISBUTTONENABLED, IDM_REFRESH, 0));
    EXPECT_FALSE(SendMessageA(toolbarWindow, TB_ISBUTTONENABLED, IDM_THREADS, 0));
    RECT client, toolbar, list, status;
    GetClientRect(mainWindow, &client);
    GetWindowRect(toolbarWindow, &toolbar);
    GetWindowRect(listWindow, &list);
    GetWindowRect(statusWindow, &status);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&toolbar), 2);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&list), 2);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&status), 2);
    EXPECT_EQ(toolbar.top, 0);
    EXPECT_EQ(list.top, toolbar.bottom - 1);
    EXPECT_EQ(list.bottom, status.top);
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_EQ(list.right - list.left, client.right);
}

TEST_F(MainWindowTest, ToolbarTooltipsReachTheirTextsThroughTheToolbar) {
    useSysTray = 0;
    Create();
    HWND tooltip = reinterpret_cast<HWND>(SendMessageA(toolbarWindow, TB_GETTOOLTIPS, 0, 0));
    ASSERT_NE(tooltip, nullptr);
    char text[260] = "";
    TOOLINFOA tool;
    memset(&tool, 0, sizeof tool);
    tool.cbSize = sizeof tool;
    tool.hwnd = toolbarWindow;
    tool.uId = IDM_SAVE_LIST;
    tool.lpszText = text;
    SendMessageA(tooltip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(std::string(text), ToAnsi("保存当前列表"));
}

TEST_F(MainWindowTest, ToolbarTooltipsComeFromTheStringTable) {
    useSysTray = 0;
    Create();
    NMTTDISPINFOA info;
    memset(&info, 0, sizeof info);
    info.hdr.code = TTN_NEEDTEXTA;
    info.hdr.idFrom = IDM_SAVE_LIST;
    SendMessageA(mainWindow, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.lpszText, MAKEINTRESOURCEA(28));
    EXPECT_EQ(info.hinst, appInstance);
    memset(&info, 0, sizeof info);
    info.hdr.code = TTN_NEEDTEXTA;
    info.hdr.idFrom = 40099;
    SendMessageA(mainWindow, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.lpszText, nullptr);
    EXPECT_EQ(info.hinst, appInstance);
}

std::string ClipboardText(HWND owner) {
    std::string text = "<none>";
    if (OpenClipboard(owner)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (data) {
            text = static_cast<const char*>(GlobalLock(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

TEST_F(MainWindowTest, CopyTextToClipboardLeavesItAloneForAnEmptyText) {
    useSysTray = 0;
    Create();
    std::string path = "C:\\" + ToAnsi("目录") + "\\a.exe";
    EXPECT_EQ(CopyTextToClipboard(mainWindow, path.c_str()), 1);
    EXPECT_EQ(ClipboardText(mainWindow), path);
    EXPECT_EQ(CopyTextToClipboard(mainWindow, ""), 1);
    EXPECT_EQ(ClipboardText(mainWindow), path);
}

// The program's own loop.
void RunLoopOnce(HACCEL accelerators) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!TranslateMainAccelerator(accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

TEST_F(MainWindowTest, AcceleratorsWorkWhileTheListHasTheFocus) {
    useSysTray = 0;
    Create();
    HACCEL accelerators = LoadAcceleratorsA(appInstance, mainClassName);
    ASSERT_NE(accelerators, nullptr);
    NtApi saved = ntApi;
    ntApi.enumProcesses = CountingEnumProcesses;
    ntApi.ntQuerySystemInformation = nullptr;
    enumerations = 0;
    SetForegroundWindow(mainWindow);
    SetFocus(listWindow);
    ASSERT_EQ(GetFocus(), listWindow);
    PostMessageA(listWindow, WM_KEYDOWN, VK_F5, 0x003F0001);
    RunLoopOnce(accelerators);
    EXPECT_EQ(enumerations, 1);
    // And in the main window itself.
    PostMessageA(mainWindow, WM_KEYDOWN, VK_F5, 0x003F0001);
    RunLoopOnce(accelerators);
    EXPECT_EQ(enumerations, 2);
    ntApi = saved;
}

} // namespace
