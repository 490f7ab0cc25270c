// tolvane.exe started for real: its window, the settings written at exit and
// the single-instance rule.
#include "res/resource.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class StartUpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteSettingsKey();
        children.reserve(8); // Start() hands out references into the vector
    }
    void TearDown() override {
        for (Child& child : children) {
            EndChild(child);
        }
        DeleteSettingsKey();
    }
    Child& Start() {
        children.push_back(StartChild("\"" + BinPath(PROGRAM_FILE) + "\""));
        return children.back();
    }
    // The main window once its creation has finished (its list exists).
    static HWND MainWindowOf(Child& child) {
        HWND window = FindProcessWindow(child.info.dwProcessId, "Tolvane", "Tolvane", 20000);
        PumpUntil([&] { return window && GetDlgItem(window, 101); }, 10000);
        return window;
    }
    std::vector<Child> children;
};

TEST_F(StartUpTest, OpensWithTheMenuAtTheStoredSizeAndSavesEightValuesAtExit) {
    SetSettingsText("WindowSize", " 640 480");
    Child& child = Start();
    ASSERT_TRUE(child.started);
    HWND window = MainWindowOf(child);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(window) != 0; }, 10000));

    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, 640);
    EXPECT_EQ(outer.bottom - outer.top, 480);

    // The menu bar (its items are checked in-process: menu handles do not
    // cross processes here).
    EXPECT_NE(GetMenu(window), nullptr);

    // The process list with the NT family's four columns.
    HWND list = GetDlgItem(window, 101);
    ASSERT_NE(list, nullptr);
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 4);
    // The widths shown are written at exit: the defaults, or more where a
    // caption needs room beside the sort arrow.
    std::string widths;
    const int defaults[] = {100, 75, 75, 250};
    for (int column = 0; column < 4; column++) {
        int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
        EXPECT_GE(width, defaults[column]);
        widths += " " + std::to_string(width);
    }

    // Ctrl+Q's command ends the program, which writes the settings.
    PostMessageA(window, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitChild(child, 10000), 0);
    EXPECT_EQ(GetSettingsText("WindowSize"), " 640 480");
    EXPECT_EQ(GetSettingsText("ColomnSize"), widths);
    EXPECT_EQ(GetSettingsText("UseSysTray"), "1");
    EXPECT_EQ(GetSettingsText("StartMinimized"), "0");
    EXPECT_EQ(GetSettingsText("Colorize"), "0");
    EXPECT_EQ(GetSettingsText("AllowMultiplyInstances"), "0");
    EXPECT_EQ(GetSettingsText("HexProcessId"), "0");
    EXPECT_EQ(GetSettingsText("RefreshTimes"), " 0 0 0 0 2");
}

TEST_F(StartUpTest, SecondCopyRestoresTheFirstAndEndsAtOnce) {
    // The first copy starts hidden in the tray.
    SetSettingsText("StartMinimized", "1");
    Child& first = Start();
    HWND window = MainWindowOf(first);
    ASSERT_NE(window, nullptr);
    PumpMessages(500);
    EXPECT_FALSE(IsWindowVisible(window));

    Child& second = Start();
    ASSERT_TRUE(second.started);
    EXPECT_EQ(WaitChild(second, 5000), 0);
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(window) != 0; }, 5000));
    // The first copy still runs.
    EXPECT_EQ(WaitForSingleObject(first.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageA(window, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitChild(first, 10000), 0);
}

TEST_F(StartUpTest, AFirstCopyThatStoppedAnsweringDoesNotHoldTheSecond) {
    // A window of the program's class whose thread answers nothing.
    children.push_back(StartChild("\"" + BinPath("tvhelper.exe") +
                                  "\" --window=visible --class=Tolvane --title=Tolvane --hang"));
    Child& hung = children.back();
    ASSERT_NE(FindProcessWindow(hung.info.dwProcessId, "Tolvane", "Tolvane", 10000), nullptr);
    Child& second = Start();
    ASSERT_TRUE(second.started);
    // The second copy gives up on the first and ends, as it does when the
    // first answers.
    EXPECT_EQ(WaitChild(second, 10000), 0);
}

TEST_F(StartUpTest, WithMultipleInstancesAllowedBothRun) {
    SetSettingsText("AllowMultiplyInstances", "1");
    Child& first = Start();
    ASSERT_NE(MainWindowOf(first), nullptr);
    Child& second = Start();
    HWND secondWindow = MainWindowOf(second);
    ASSERT_NE(secondWindow, nullptr);
    EXPECT_EQ(WaitForSingleObject(first.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(second.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageA(MainWindowOf(first), WM_CLOSE, 0, 0);
    PostMessageA(secondWindow, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitChild(second, 10000), 0);
    EXPECT_EQ(WaitChild(first, 10000), 0);
}

TEST_F(StartUpTest, TickingMultipleInstancesLetsTheNextCopyStartAtOnce) {
    Child& first = Start();
    HWND firstWindow = MainWindowOf(first);
    ASSERT_NE(firstWindow, nullptr);
    SendMessageA(firstWindow, WM_COMMAND, IDM_MULTIPLE_INSTANCES, 0);
    Child& second = Start();
    HWND secondWindow = MainWindowOf(second);
    ASSERT_NE(secondWindow, nullptr);
    EXPECT_NE(secondWindow, firstWindow);
    EXPECT_EQ(WaitForSingleObject(second.info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageA(secondWindow, WM_COMMAND, IDM_EXIT, 0);
    PostMessageA(firstWindow, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(WaitChild(second, 10000), 0);
    EXPECT_EQ(WaitChild(first, 10000), 0);
}

// The row of a process in another Tolvane's list, or -1.
int RowOfProcess(HWND list, DWORD processId) {
    char id[16];
    wsprintfA(id, "%lu", processId);
    for (int row = 0; row < RemoteRowCount(list); row++) {
        if (RemoteListText(list, row, 1) == id) {
            return row;
        }
    }
    return -1;
}

TEST_F(StartUpTest, AStartedProcessAppearsAndAnEndedOneGoes) {
    Child& tolvane = Start();
    HWND window = MainWindowOf(tolvane);
    ASSERT_NE(window, nullptr);
    HWND list = GetDlgItem(window, 101);
    // Its own row (a burst of new processes may give it in a later slice),
    // and no row for a process it cannot read.
    EXPECT_TRUE(
        PumpUntil([&] { return RowOfProcess(list, tolvane.info.dwProcessId) != -1; }, 10000));
    for (int row = 0; row < RemoteRowCount(list); row++) {
        std::string name = RemoteListText(list, row, 0);
        EXPECT_NE(name, ToAnsi("[禁止访问]"));
        EXPECT_NE(name, ToAnsi("[未知]"));
    }

    // The default period is 2 seconds: the row is there within two periods.
    children.push_back(StartChild("\"" + BinPath("tvhelper.exe") + "\""));
    Child& helper = children.back();
    ASSERT_TRUE(helper.started);
    DWORD helperId = helper.info.dwProcessId;
    ASSERT_TRUE(PumpUntil([&] { return RowOfProcess(list, helperId) != -1; }, 6000));
    int row = RowOfProcess(list, helperId);
    EXPECT_EQ(RemoteListText(list, row, 0), "tvhelper.exe");
    EXPECT_EQ(lstrcmpiA(RemoteListText(list, row, 3).c_str(), BinPath("tvhelper.exe").c_str()), 0);

    // Ended: marked gone for one more period, then removed.
    EndChild(helper);
    EXPECT_TRUE(PumpUntil([&] { return RowOfProcess(list, helperId) == -1; }, 10000));
    PostMessageA(window, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitChild(tolvane, 10000), 0);
}

TEST_F(StartUpTest, MinimisedStartWithoutTrayStillRefreshes) {
    SetSettingsText("StartMinimized", "1");
    SetSettingsText("UseSysTray", "0");
    Child& tolvane = Start();
    HWND window = MainWindowOf(tolvane);
    ASSERT_NE(window, nullptr);
    HWND list = GetDlgItem(window, 101);
    ASSERT_TRUE(PumpUntil([&] { return IsIconic(window) != 0; }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return RemoteRowCount(list) > 0; }, 5000));

    children.push_back(StartChild("\"" + BinPath("tvhelper.exe") + "\""));
    DWORD helperId = children.back().info.dwProcessId;
    EXPECT_TRUE(PumpUntil([&] { return RowOfProcess(list, helperId) != -1; }, 6000));
    PostMessageA(window, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitChild(tolvane, 10000), 0);
}

} // namespace
