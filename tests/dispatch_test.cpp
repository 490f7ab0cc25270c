// The message-map dispatcher with real windows.
#include "app/dispatch.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <string.h>

namespace {

enum { MSG_PROBE = WM_USER + 10, MSG_OTHER = WM_USER + 11 };

struct Call {
    int count;
    WPARAM wParam;
    WPARAM notifyCode;
    LPARAM lParam;
};
Call firstRow, secondRow, commandRow, wideIdRow;

LRESULT FirstRow(HWND, UINT, WPARAM wParam, LPARAM lParam) {
    firstRow = {firstRow.count + 1, wParam, 0, lParam};
    return 111;
}
LRESULT SecondRow(HWND, UINT, WPARAM, LPARAM) {
    secondRow.count++;
    return 222;
}
LRESULT CommandRow(HWND, WPARAM wParam, WPARAM notifyCode, LPARAM lParam) {
    commandRow = {commandRow.count + 1, wParam, notifyCode, lParam};
    return 0;
}
LRESULT WideIdRow(HWND, WPARAM wParam, WPARAM notifyCode, LPARAM lParam) {
    wideIdRow = {wideIdRow.count + 1, wParam, notifyCode, lParam};
    return 0;
}

const CommandMapEntry testCommandRows[] = {
    {40002, CommandRow},
    {0x10000 | 40003, WideIdRow}, // high bits take no part in the match
    {40002, WideIdRow},           // never reached: the first row wins
};
const MessageMap testCommandMap = {3, testCommandRows, DEFPROC_WINDOW};

LRESULT TestCommand(HWND window, UINT, WPARAM wParam, LPARAM lParam) {
    return DispatchCommandMap(&testCommandMap, window, wParam, lParam);
}

const MessageMapEntry testMessageRows[] = {
    {MSG_PROBE, FirstRow},
    {MSG_PROBE, SecondRow},
    {WM_COMMAND, TestCommand},
};
MessageMap testMessageMap = {3, testMessageRows, DEFPROC_WINDOW};

LRESULT CALLBACK TestWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DispatchMessageMap(&testMessageMap, window, message, wParam, lParam);
}

class DispatchTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WNDCLASSA windowClass;
        memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = TestWndProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "DispatchTestWindow";
        RegisterClassA(&windowClass);
    }
    void SetUp() override {
        firstRow = secondRow = commandRow = wideIdRow = Call{};
        testMessageMap.defaultKind = DEFPROC_WINDOW;
        window = CreateWindowExA(0, "DispatchTestWindow", "start", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window);
    }
    HWND window = nullptr;
};

TEST_F(DispatchTest, UnclaimedMessagesReachTheDefaultProcedureUnchanged) {
    // WM_SETTEXT and WM_GETTEXTLENGTH have no row: DefWindowProcA handles them.
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed text"));
    char text[64];
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "changed text");
    EXPECT_EQ(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 12);

    // With no default procedure nothing happens and the result is 0; an
    // unknown kind behaves the same.
    for (int kind : {static_cast<int>(DEFPROC_NONE), 9}) {
        testMessageMap.defaultKind = kind;
        EXPECT_EQ(SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ignored")), 0);
        EXPECT_EQ(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 0);
        testMessageMap.defaultKind = DEFPROC_WINDOW;
        GetWindowTextA(window, text, sizeof text);
        EXPECT_STREQ(text, "changed text");
    }
}

TEST_F(DispatchTest, FirstMatchingRowWinsAndItsResultIsReturned) {
    EXPECT_EQ(SendMessageA(window, MSG_PROBE, 7, 9), 111);
    EXPECT_EQ(firstRow.count, 1);
    EXPECT_EQ(firstRow.wParam, 7u);
    EXPECT_EQ(firstRow.lParam, 9);
    EXPECT_EQ(secondRow.count, 0);
}

TEST_F(DispatchTest, CommandsMatchTheLowWordAndPassTheNotificationCode) {
    // Menu item: notification code 0.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(40002, 0), 0);
    EXPECT_EQ(commandRow.count, 1);
    EXPECT_EQ(commandRow.notifyCode, 0u);

    // Accelerator: the same row, code 1, and the whole wParam.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(40002, 1), 0);
    EXPECT_EQ(commandRow.count, 2);
    EXPECT_EQ(commandRow.wParam, static_cast<WPARAM>(MAKEWPARAM(40002, 1)));
    EXPECT_EQ(commandRow.notifyCode, 1u);
    EXPECT_EQ(wideIdRow.count, 0);

    // A control notification with lParam: passed through as it came.
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(40003, BN_CLICKED), 0x1234);
    EXPECT_EQ(wideIdRow.count, 1);
    EXPECT_EQ(wideIdRow.wParam, static_cast<WPARAM>(MAKEWPARAM(40003, BN_CLICKED)));
    EXPECT_EQ(wideIdRow.notifyCode, static_cast<WPARAM>(BN_CLICKED));
    EXPECT_EQ(wideIdRow.lParam, 0x1234);
}

TEST_F(DispatchTest, UnclaimedCommandYieldsZero) {
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(40099, 0), 0), 0);
    EXPECT_EQ(commandRow.count + wideIdRow.count, 0);
}

// The tray icon of the test window exists when a removal succeeds.
bool TrayIconPresent(HWND window) {
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = 88;
    data.hWnd = window;
    data.uID = 0;
    return Shell_NotifyIconA(NIM_DELETE, &data) != 0;
}

TEST_F(DispatchTest, TaskbarCreatedRestoresTheTrayIconOnlyWhenTheSettingIsOn) {
    mainWindow = window;
    smallAppIcon = LoadIconA(nullptr, IDI_APPLICATION);
    strcpy(mainTitle, "Tolvane");
    // Any unclaimed message registers the broadcast's id.
    SendMessageA(window, MSG_OTHER, 0, 0);
    ASSERT_EQ(taskbarMessagePending, 0);
    ASSERT_EQ(taskbarCreatedMessage, RegisterWindowMessageA("TaskbarCreated"));

    useSysTray = 0;
    SendMessageA(window, taskbarCreatedMessage, 0, 0);
    EXPECT_FALSE(TrayIconPresent(window));

    useSysTray = 1;
    SendMessageA(window, taskbarCreatedMessage, 0, 0);
    EXPECT_TRUE(TrayIconPresent(window));
    // Sent twice: removed and added again, never added twice.
    SendMessageA(window, taskbarCreatedMessage, 0, 0);
    SendMessageA(window, taskbarCreatedMessage, 0, 0);
    EXPECT_TRUE(TrayIconPresent(window));
    EXPECT_FALSE(TrayIconPresent(window));
    mainWindow = nullptr;
}

} // namespace
