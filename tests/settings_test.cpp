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
    resourceColumns = 0;
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

    // Width 40 here; the main window is never restored narrower than it allows.
    SetSettingsText("WindowSize", "640 480");
    LoadSettings();
    EXPECT_EQ(windowWidth, MIN_WINDOW_WIDTH);
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
    SetSettingsText("ColomnSize", " 11 12 13 14 15 16 17");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{11, 12, 13, 14}));
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
        full += " 11";
    }
    full.resize(520);
    SetSettingsBinary("ColomnSize", full.data(), 520);
    // And text that fills the 260-byte project entry without a terminator.
    std::string project(260, 'p');
    SetSettingsBinary("File_2", project.data(), 260);
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{11, 11, 11, 11}));
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

TEST_F(SettingsTest, GarbageSizesAndWidthsTakeTheirDefaults) {
    // Nothing sensible gives the default; a tiny window opens at the least size.
    struct {
        const char* text;
        int width, height;
    } sizes[] = {{" 0 0", 500, 300},
                 {" -640 -480", 500, 300},
                 {" 99999 480", 500, 480},
                 {" 116 27", MIN_WINDOW_WIDTH, MIN_WINDOW_HEIGHT},
                 {" 700 abc", 700, 300}};
    for (const auto& size : sizes) {
        ResetToDefaults();
        SetSettingsText("WindowSize", size.text);
        LoadSettings();
        EXPECT_EQ(windowWidth, size.width) << size.text;
        EXPECT_EQ(windowHeight, size.height) << size.text;
    }
    // Stored as a number instead of text.
    ResetToDefaults();
    DWORD number = 640;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "WindowSize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
    RegCloseKey(key);
    LoadSettings();
    EXPECT_EQ(windowWidth, 500);
    EXPECT_EQ(windowHeight, 300);

    // Zero, one pixel or 65,535 pixels wide: each such column keeps its default.
    SetSettingsText("ColomnSize", " 0 0 0 1");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{100, 75, 75, 250}));
    SetSettingsText("ColomnSize", " -1 -1 -1 -1");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{100, 75, 75, 250}));
    SetSettingsText("ColomnSize", " 120 5000 0 300");
    LoadSettings();
    EXPECT_EQ(ColumnWidths(), (std::vector<int>{120, 75, 75, 300}));
}

TEST_F(SettingsTest, FlagsStoredAsNumbersAreReadByTheirValue) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD zero = 0, one = 1;
    RegSetValueExA(key, "UseSysTray", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4);
    RegSetValueExA(key, "HexProcessId", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
    RegCloseKey(key);
    hexProcessId = 0;
    LoadSettings();
    EXPECT_EQ(useSysTray, 0);
    EXPECT_EQ(hexProcessId, 1);
}

TEST_F(SettingsTest, StoredPeriodsAreCutToTheLongestTimerAndNegativesIgnored) {
    SetSettingsText("RefreshTimes", " 0 -5 4294968 99999999999 -1");
    LoadSettings();
    EXPECT_EQ(threadsRefreshSeconds, 0);
    EXPECT_EQ(modulesRefreshSeconds, MAX_REFRESH_SECONDS);
    EXPECT_EQ(memoryRefreshSeconds, MAX_REFRESH_SECONDS);
    EXPECT_EQ(mainRefreshSeconds, 2);
    // The longest period still gives a timer of that length, not a short one.
    EXPECT_EQ(RefreshPeriodMilliseconds(4294968), 2147483000u);
    EXPECT_EQ(RefreshPeriodMilliseconds(MAX_REFRESH_SECONDS), 2147483000u);
    EXPECT_EQ(RefreshPeriodMilliseconds(-5), 0u);
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

// Replaces an edit's text the way a user's paste does.
void PasteInto(HWND edit, const char* text) {
    ASSERT_TRUE(CopyTextToClipboard(edit, text));
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_PASTE, 0, 0);
}

TEST_F(RefreshTimesDialogTest, PastedAndHugePeriodsNeverStopOrSpeedTheRefresh) {
    mainRefreshSeconds = 4;
    threadsRefreshSeconds = 6;
    modulesRefreshSeconds = 7;
    memoryRefreshSeconds = 8;
    std::string pasted;
    ASSERT_TRUE(RunDialog([&](HWND dialog) {
        PasteInto(GetDlgItem(dialog, IDC_REFRESH_MAIN), "-5");
        PasteInto(GetDlgItem(dialog, IDC_REFRESH_THREADS), "abc");
        pasted = EditText(dialog, IDC_REFRESH_MAIN);
        SetDlgItemTextA(dialog, IDC_REFRESH_MODULES, "99999999999");
        SetDlgItemTextA(dialog, IDC_REFRESH_MEMORY, "4294968");
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    }));
    EXPECT_EQ(pasted, "-5"); // the edit took the paste
    EXPECT_EQ(mainRefreshSeconds, 4);
    EXPECT_EQ(threadsRefreshSeconds, 6);
    EXPECT_EQ(modulesRefreshSeconds, MAX_REFRESH_SECONDS);
    EXPECT_EQ(memoryRefreshSeconds, MAX_REFRESH_SECONDS);
    EXPECT_NE(refreshTimerRunning, 0u);
    SaveSettings();
    EXPECT_EQ(GetSettingsText("RefreshTimes"), " 0 6 2147483 2147483 4");
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
