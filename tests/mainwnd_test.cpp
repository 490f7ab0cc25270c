// The real main window created in-process: its menu, check marks, layout,
// option toggles and the hide-instead-of-minimise behaviour.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "views/processlist.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <string.h>
#include <string>

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
        appInstance = GetModuleHandleA(nullptr);
        LoadStringA(appInstance, IDS_CLASS_NAME, mainClassName, sizeof mainClassName);
        LoadStringA(appInstance, IDS_TITLE, mainTitle, sizeof mainTitle);
        smallAppIcon = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_TOLVANE));
        DetectPlatform();
        ActivateColumnSet();
        ASSERT_TRUE(RegisterMainWindowClass(appInstance));
        ASSERT_TRUE(RegisterDialogClass(appInstance));
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

} // namespace
