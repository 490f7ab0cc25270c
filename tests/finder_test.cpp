// The find-window tool: a drag from the toolbar's finder over real windows.
#include "app/mainwnd.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"
#include "views/finder.h"

#include <commctrl.h>
#include <string.h>

namespace {

class FinderTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
        // The main window's toolbar stays clear of the target window.
        SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        target = CreateWindowExA(0, "STATIC", "target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 300,
                                 300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        child = CreateWindowExA(0, "BUTTON", "child", WS_CHILD | WS_VISIBLE, 20, 20, 100, 30,
                                target, nullptr, GetModuleHandleA(nullptr), nullptr);
        PumpMessages(50);
    }
    void TearDown() override {
        DestroyWindow(target);
        EndChild(helper);
        ListFixture::TearDown();
    }
    // Moves the pointer onto a window and lets the main window follow it.
    static void MoveOnto(HWND window) {
        RECT rect;
        GetWindowRect(window, &rect);
        POINT wanted = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
        SetCursorPos(wanted.x, wanted.y);
        // The pointer moves through the display server, and windows settle
        // their places asynchronously: wait until the pointer is there and
        // the window is the one under it.
        bool arrived = PumpUntil(
            [&] {
                POINT now;
                GetCursorPos(&now);
                HWND under = WindowFromPoint(now);
                return now.x == wanted.x && now.y == wanted.y &&
                       (under == window || IsChild(window, under));
            },
            5000);
        EXPECT_TRUE(arrived);
        SendMessageA(mainWindow, WM_MOUSEMOVE, 0, 0);
    }
    HWND target = nullptr;
    HWND child = nullptr;
    Child helper = {};
};

BOOL CALLBACK CollectTexts(HWND window, LPARAM texts) {
    char text[260];
    GetWindowTextA(window, text, sizeof text);
    *reinterpret_cast<std::string*>(texts) += text;
    return TRUE;
}

TEST_F(FinderTest, DroppingOnAWindowSelectsItsProcess) {
    // The drag refreshes the list first: let it see the real processes.
    ntApi = savedNtApi;
    // Outside a drag the mouse is of no interest.
    MoveOnto(child);
    EXPECT_EQ(HighlightWindow(nullptr), nullptr);

    BeginFindDrag();
    EXPECT_EQ(findDragging, 1);
    EXPECT_EQ(GetCapture(), mainWindow);
    EXPECT_TRUE(SendMessageA(toolbarWindow, TB_ISBUTTONPRESSED, IDM_FINDER, 0));
    // Pointing at a child outlines its top-level window, once.
    MoveOnto(child);
    EXPECT_EQ(HighlightWindow(target), nullptr);
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);

    EXPECT_EQ(findDragging, 0);
    EXPECT_NE(GetCapture(), mainWindow);
    EXPECT_FALSE(SendMessageA(toolbarWindow, TB_ISBUTTONPRESSED, IDM_FINDER, 0));
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), GetCurrentProcessId());
    EXPECT_FALSE(Grayed(IDM_TERMINATE));
}

TEST_F(FinderTest, AWindowWhoseProcessHasNoRowIsReported) {
    std::string texts;
    bool shown = WithDialog(
        [&] {
            BeginFindDrag();
            MoveOnto(child);
            SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
        },
        [&](HWND box) {
            EnumChildWindows(box, CollectTexts, reinterpret_cast<LPARAM>(&texts));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
    EXPECT_TRUE(shown);
    EXPECT_NE(texts.find(ToAnsi("无法访问与所选择的窗口相匹配的进程")), std::string::npos);
    EXPECT_EQ(findDragging, 0);
}

TEST_F(FinderTest, ReleasingOverTheToolbarSelectsNothing) {
    ProcessEntry own = MakeEntry(GetCurrentProcessId(), "own.exe");
    MergeEntry(listWindow, &own);
    // The drag starts on the toolbar and the pointer never leaves it.
    MoveOnto(toolbarWindow);
    BeginFindDrag();
    MoveOnto(toolbarWindow);
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(findDragging, 0);
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), 0u);
}

TEST_F(FinderTest, ADragWhoseCaptureIsTakenEndsAndTheNextDragWorks) {
    ntApi = savedNtApi;
    BeginFindDrag();
    MoveOnto(child);
    // Another window takes the mouse in the middle of the drag.
    SetCapture(target);
    EXPECT_EQ(findDragging, 0);
    EXPECT_FALSE(SendMessageA(toolbarWindow, TB_ISBUTTONPRESSED, IDM_FINDER, 0));
    // The frame was erased: nothing is left highlighted.
    EXPECT_EQ(HighlightWindow(nullptr), nullptr);
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), 0u);
    ReleaseCapture();

    BeginFindDrag();
    EXPECT_EQ(GetCapture(), mainWindow);
    MoveOnto(child);
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(findDragging, 0);
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), GetCurrentProcessId());
}

TEST_F(FinderTest, AWindowThatStoppedAnsweringWithALongTitleSelectsItsProcess) {
    ntApi = savedNtApi;
    helper = StartChild("\"" + BinPath("tvhelper.exe") +
                        "\" --window=visible --hang --title=" + std::string(259, 't'));
    DWORD helperId = helper.info.dwProcessId;
    HWND window = FindProcessWindow(helperId, "TvHelperWindow", nullptr, 5000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PumpUntil(
        [&] {
            SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
            return IsWindowVisible(window) && RowOf(helperId) >= 0;
        },
        5000));
    // The main window moves off the helper's window, which opens at the top left.
    SetWindowPos(mainWindow, nullptr, 300, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    // The pointer settles there before the drag, as in a user's hand.
    MoveOnto(window);
    PumpMessages(200);
    BeginFindDrag();
    MoveOnto(window);
    // The helper's window is the one outlined.
    EXPECT_EQ(HighlightWindow(window), nullptr);
    SendMessageA(mainWindow, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(findDragging, 0);
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), helperId);
}

} // namespace
