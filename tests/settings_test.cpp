// Settings through the real registry of the test prefix, and the
// refresh-times dialog through the real main window.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "views/processlist.h"
#include "listfixture.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

void ResetToDefaults() {
    windowWidth = 500;
    windowHeight = 300;
    useSysTray = 1;
    startMinimized = 0;
    colorize = 0;
    allowMultipleInstances = 0;
    hexProcessId = 0;
    mainRefreshSeconds = 2;
    threadsRefreshSeconds = 0;
    modulesRefreshSeconds = 0;
    memoryRefreshSeconds = 0;
    recentProjectsChanged = 0;
}

std::vector<int> ColumnWidths() {
    std::vector<int> widths;
    for (int i = 0; i < activeColumns.count; i++) {
        widths.push_back(GetColumnWidth(i));
    }
    return widths;
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteSettingsKey();
        ResetToDefaults();
        ntFamily = 1;
        ActivateColumnSet();
        RestoreDefaultWidths();
    }
    void TearDown() override {
        ntFamily = 1;
        ActivateColumnSet();
        RestoreDefaultWidths();
        DeleteSettingsKey();
    }
    static void RestoreDefaultWidths() {
        static const WORD nt[] = {100, 75, 75, 250};
        static const WORD family95[] = {100, 75, 75, 55, 50, 250};
        const WORD* widths = activeColumns.count == 4 ? nt : family95;
        for (int i = 0; i < activeColumns.count; i++) {
            SetColumnWidth(i, widths[i]);
        }
    }
};

TEST_F(SettingsTest, FirstRunKeepsDefaultsAndExitWritesTheEightValues) {
    EXPECT_NE(LoadSettings(), ERROR_SUCCESS);
    EXPECT_EQ(windowWidth, 500);
    EXPECT_EQ(windowHeight, 300);
    EXPECT_EQ(useSysTray, 1);
    EXPECT_EQ(mainRefreshSeconds, 2);
    EXPECT_EQ(threadsRefreshSeconds + modulesRefreshSeconds + memoryRefreshSeconds, 0);
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{100, 75, 75, 250}));

    ASSERT_EQ(SaveSettings(), ERROR_SUCCESS);
    EXPECT_EQ(GetSettingsText("WindowSize"), " 500 300");
    EXPECT_EQ(GetSettingsText("ColomnSize"), " 100 75 75 250");
    EXPECT_EQ(GetSettingsText("UseSysTray"), "1");
    EXPECT_EQ(GetSettingsText("StartMinimized"), "0");
    EXPECT_EQ(GetSettingsText("Colorize"), "0");
    EXPECT_EQ(GetSettingsText("AllowMultiplyInstances"), "0");
    EXPECT_EQ(GetSettingsText("HexProcessId"), "0");
    EXPECT_EQ(GetSettingsText("RefreshTimes"), " 0 0 0 0 2");
    EXPECT_FALSE(SettingsValueExists("File_0"));
}

TEST_F(SettingsTest, ValuesRoundTripAndRecentProjectsAreWrittenOnlyWhenChanged) {
    windowWidth = 640;
    windowHeight = 480;
    useSysTray = 0;
    colorize = 1;
    hexProcessId = 1;
    threadsRefreshSeconds = 3;
    modulesRefreshSeconds = 4;
    memoryRefreshSeconds = 5;
    mainRefreshSeconds = 7;
    SetColumnWidth(3, 321);
    strcpy(recentProjects[0], "C:\\proj\\a.dsw");
    recentProjectsChanged = 1;
    SaveSettings();
    EXPECT_EQ(GetSettingsText("RefreshTimes"), " 0 3 4 5 7");
    EXPECT_EQ(GetSettingsText("File_0"), "C:\\proj\\a.dsw");
    EXPECT_EQ(GetSettingsText("File_4"), "");

    ResetToDefaults();
    RestoreDefaultWidths();
    memset(recentProjects, 'x', sizeof recentProjects);
    EXPECT_EQ(LoadSettings(), ERROR_SUCCESS);
    EXPECT_EQ(windowWidth, 640);
    EXPECT_EQ(windowHeight, 480);
    EXPECT_EQ(useSysTray, 0);
    EXPECT_EQ(colorize, 1);
    EXPECT_EQ(hexProcessId, 1);
    EXPECT_EQ(startMinimized, 0);
    EXPECT_EQ(mainRefreshSeconds, 7);
    EXPECT_EQ(memoryRefreshSeconds, 5);
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{100, 75, 75, 321}));
    EXPECT_STREQ(recentProjects[0], "C:\\proj\\a.dsw");
    EXPECT_STREQ(recentProjects[1], "");
}

TEST_F(SettingsTest, WindowSizeAlwaysSkipsTheFirstCharacter) {
    SetSettingsText("WindowSize", " 640 480");
    LoadSettings();
    EXPECT_EQ(windowWidth, 640);
    EXPECT_EQ(windowHeight, 480);

    SetSettingsText("WindowSize", "640 480");
    LoadSettings();
    EXPECT_EQ(windowWidth, 40);
    EXPECT_EQ(windowHeight, 480);

    ResetToDefaults();
    SetSettingsText("WindowSize", " 800");
    LoadSettings();
    EXPECT_EQ(windowWidth, 800);
    EXPECT_EQ(windowHeight, 300);

    ResetToDefaults();
    SetSettingsText("WindowSize", "");
    LoadSettings();
    EXPECT_EQ(windowWidth, 500);
    EXPECT_EQ(windowHeight, 300);
}

TEST_F(SettingsTest, RefreshTimesVariants) {
    SetSettingsText("RefreshTimes", " 5");
    LoadSettings();
    EXPECT_EQ(mainRefreshSeconds, 5);
    EXPECT_EQ(threadsRefreshSeconds, 0);
    EXPECT_EQ(modulesRefreshSeconds, 0);
    EXPECT_EQ(memoryRefreshSeconds, 0);

    ResetToDefaults();
    SetSettingsText("RefreshTimes", " 0 3 4 5");
    LoadSettings();
    EXPECT_EQ(threadsRefreshSeconds, 3);
    EXPECT_EQ(modulesRefreshSeconds, 4);
    EXPECT_EQ(memoryRefreshSeconds, 5);
    EXPECT_EQ(mainRefreshSeconds, 2);

    ResetToDefaults();
    SetSettingsText("RefreshTimes", " 0 0 0 0 0");
    LoadSettings();
    EXPECT_EQ(mainRefreshSeconds, 0);

    // Four numbers whose first is not 0: the first becomes the main period.
    ResetToDefaults();
    SetSettingsText("RefreshTimes", " 9 1 1 1");
    LoadSettings();
    EXPECT_EQ(mainRefreshSeconds, 9);
    EXPECT_EQ(threadsRefreshSeconds, 1);

    ResetToDefaults();
    SetSettingsText("RefreshTimes", "");
    LoadSettings();
    EXPECT_EQ(mainRefreshSeconds, 2);
}

TEST_F(SettingsTest, ColumnWidths) {
    // Only zeros: the defaults stay.
    SetSettingsText("ColomnSize", " 0 0 0 0");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{100, 75, 75, 250}));

    // Surplus numbers are ignored, missing ones keep their defaults.
    SetSettingsText("ColomnSize", " 1 2 3 4 5 6 7");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{1, 2, 3, 4}));
    RestoreDefaultWidths();
    SetSettingsText("ColomnSize", " 90 80");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{90, 80, 75, 250}));

    // A value written on the NT family, read on the 95 family (six columns).
    ntFamily = 0;
    SetSettingsText("ColomnSize", " 10 20 30 40");
    LoadSettings();
    EXPECT_EQ(activeColumns.count, 6);
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{10, 20, 30, 40, 50, 250}));
    SaveSettings();
    EXPECT_EQ(GetSettingsText("ColomnSize"), " 10 20 30 40 50 250");
}

TEST_F(SettingsTest, FlagsReadAsOneUnlessTheTextStartsWithZero) {
    struct {
        const char* text;
        int expected;
    } cases[] = {{"", 1}, {"yes", 1}, {"1", 1}, {"0x", 0}, {"0", 0}, {"00", 0}, {"no", 1}};
    for (const auto& flagCase : cases) {
        useSysTray = -1;
        hexProcessId = -1;
        SetSettingsText("UseSysTray", flagCase.text);
        SetSettingsText("HexProcessId", flagCase.text);
        LoadSettings();
        EXPECT_EQ(useSysTray, flagCase.expected) << "text \"" << flagCase.text << "\"";
        EXPECT_EQ(hexProcessId, flagCase.expected) << "text \"" << flagCase.text << "\"";
    }
}

TEST_F(SettingsTest, ValuesWithoutTerminatorAreNotReadPastTheirEnd) {
    // The value read before "RefreshTimes" leaves longer text in the shared
    // buffer; a binary value of two bytes must not pick up its tail.
    SetSettingsText("HexProcessId", "0 9 9 9 9 9 9 9");
    SetSettingsBinary("RefreshTimes", " 5", 2);
    LoadSettings();
    EXPECT_EQ(mainRefreshSeconds, 5);
    EXPECT_EQ(threadsRefreshSeconds, 0);
    EXPECT_EQ(hexProcessId, 0);

    // A binary value that fills the whole 520-byte buffer: " 1 1 1 ...".
    std::string full;
    while (full.size() < 520) {
        full += " 1";
    }
    full.resize(520);
    SetSettingsBinary("ColomnSize", full.data(), 520);
    // And text that fills the 260-byte project entry without a terminator.
    std::string project(260, 'p');
    SetSettingsBinary("File_2", project.data(), 260);
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(strlen(recentProjects[2]), 259u);
    EXPECT_EQ(recentProjects[3][0], 0);
}

TEST_F(SettingsTest, OversizedValuesLeaveTheirSettingsAlone) {
    std::string huge = " 700 " + std::string(600, '9');
    SetSettingsText("WindowSize", huge.c_str());
    SetSettingsText("File_1", std::string(300, 'q').c_str());
    SetSettingsText("File_0", "C:\\kept.dsw");
    LoadSettings();
    EXPECT_EQ(windowWidth, 500);
    EXPECT_EQ(windowHeight, 300);
    EXPECT_STREQ(recentProjects[0], "C:\\kept.dsw");
    EXPECT_STREQ(recentProjects[1], "");
}

// The refresh-times dialog, run from the real main window's command.
class RefreshTimesDialogTest : public SettingsTest {
  protected:
    static void SetUpTestSuite() {
        PrepareProgramClasses();
    }
    void SetUp() override {
        SettingsTest::SetUp();
        useSysTray = 0;
        ASSERT_NE(CreateMainWindow(appInstance), nullptr);
        ShowWindow(mainWindow, SW_SHOW);
        SetRefreshTimer(0);
    }
    void TearDown() override {
        DestroyWindow(mainWindow);
        PumpMessages(0);
        mainWindow = listWindow = nullptr;
        SettingsTest::TearDown();
    }
    bool RunDialog(const std::function<void(HWND)>& action) {
        return WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH_TIMES, 0); },
                          action);
    }
    static std::string EditText(HWND dialog, int id) {
        char text[64];
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }
};

TEST_F(RefreshTimesDialogTest, OkTakesTheFourValuesAndRestartsTheTimer) {
    mainRefreshSeconds = 2;
    threadsRefreshSeconds = 1;
    std::string shown[4];
    HFONT dialogFont = nullptr;
    ASSERT_TRUE(RunDialog([&](HWND dialog) {
        shown[0] = EditText(dialog, IDC_REFRESH_MAIN);
        shown[1] = EditText(dialog, IDC_REFRESH_THREADS);
        shown[2] = EditText(dialog, IDC_REFRESH_MODULES);
        shown[3] = EditText(dialog, IDC_REFRESH_MEMORY);
        dialogFont = reinterpret_cast<HFONT>(
            SendDlgItemMessageA(dialog, IDC_REFRESH_MAIN, WM_GETFONT, 0, 0));
        SetDlgItemTextA(dialog, IDC_REFRESH_MAIN, "7");
        SetDlgItemTextA(dialog, IDC_REFRESH_THREADS, "1");
        SetDlgItemTextA(dialog, IDC_REFRESH_MODULES, "12");
        SetDlgItemTextA(dialog, IDC_REFRESH_MEMORY, "");
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    }));
    EXPECT_EQ(shown[0], "2");
    EXPECT_EQ(shown[1], "1");
    EXPECT_EQ(shown[2], "0");
    EXPECT_EQ(shown[3], "0");
    // Double-byte systems give every dialog the list's font.
    ASSERT_NE(GetSystemMetrics(SM_DBCSENABLED), 0);
    EXPECT_EQ(dialogFont, reinterpret_cast<HFONT>(SendMessageA(listWindow, WM_GETFONT, 0, 0)));

    EXPECT_EQ(mainRefreshSeconds, 7);
    EXPECT_EQ(threadsRefreshSeconds, 1);
    EXPECT_EQ(modulesRefreshSeconds, 12);
    EXPECT_EQ(memoryRefreshSeconds, 0);
    EXPECT_NE(refreshTimerRunning, 0u);
    // The registry is written at exit, not here.
    EXPECT_FALSE(SettingsValueExists("RefreshTimes"));
}

TEST_F(RefreshTimesDialogTest, CancelAndTheCloseBoxChangeNothing) {
    mainRefreshSeconds = 4;
    ASSERT_TRUE(RunDialog([](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_REFRESH_MAIN, "9");
        SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    }));
    EXPECT_EQ(mainRefreshSeconds, 4);
    EXPECT_EQ(refreshTimerRunning, 0u);

    ASSERT_TRUE(RunDialog([](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_REFRESH_MAIN, "9");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    EXPECT_EQ(mainRefreshSeconds, 4);
    EXPECT_EQ(refreshTimerRunning, 0u);
}

TEST_F(RefreshTimesDialogTest, ZeroPeriodStopsTheTimerUnlessColouring) {
    auto setMainToZero = [](HWND dialog) {
        SetDlgItemTextA(dialog, IDC_REFRESH_MAIN, "0");
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    };
    colorize = 0;
    ASSERT_TRUE(RunDialog(setMainToZero));
    EXPECT_EQ(mainRefreshSeconds, 0);
    EXPECT_EQ(refreshTimerRunning, 0u);

    colorize = 1;
    mainRefreshSeconds = 2;
    ASSERT_TRUE(RunDialog(setMainToZero));
    EXPECT_EQ(mainRefreshSeconds, 0);
    EXPECT_NE(refreshTimerRunning, 0u);
}

} // namespace
