// Start-up information: the command line, directory and environment of real
// helper processes shown in the real window, the copy menu and the scroll
// range; the layouts the readers follow, laid out in Tolvane's own memory
// against the end of a committed region.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/startinfo.h"
#include "testutil.h"
#include "views/startinfo.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const DWORD PAGE = 0x1000;

// A helper with the given command line, directory and environment.
Child StartWithEnvironment(const std::string& commandLine, const std::string& directory,
                           const std::vector<std::string>& environment) {
    std::string block;
    for (const std::string& entry : environment) {
        block += entry;
        block += '\0';
    }
    block += '\0';
    Child child = {};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    child.started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, &block[0],
                                   directory.c_str(), &startup, &child.info) != 0;
    return child;
}

std::string ClipboardText(HWND owner) {
    std::string text = "<none>";
    if (OpenClipboard(owner)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        const char* pointer = data ? static_cast<const char*>(GlobalLock(data)) : nullptr;
        if (pointer) {
            text = pointer;
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

void PressKey(WORD key) {
    INPUT input[2];
    memset(input, 0, sizeof input);
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof input[0]);
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

int menuTicks;
bool menuShown;
HMENU shownMenu;
// Chooses the first item of the pop-up menu with the keyboard, as a user
// would; a menu that ignores the keyboard is closed after a few seconds.
void CALLBACK ChooseFirstMenuItem(HWND, UINT, UINT_PTR, DWORD) {
    menuTicks++;
    HWND menu = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMenuWindow, reinterpret_cast<LPARAM>(&menu));
    if (!menuShown && menu) {
        menuShown = true;
        shownMenu = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
        PressKey(VK_DOWN);
        PressKey(VK_RETURN);
    } else if (menuTicks > 60) {
        EndMenu();
    }
}

// Right-clicks a row of the list box (or beside the rows) and chooses "复制(&C)".
UINT RightClickAndCopy(HWND dialog, HWND listBox, POINT client) {
    ClientToScreen(listBox, &client);
    menuTicks = 0;
    menuShown = false;
    shownMenu = nullptr;
    SetForegroundWindow(dialog);
    UINT_PTR timer = SetTimer(nullptr, 0, 50, ChooseFirstMenuItem);
    SendMessageA(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(listBox),
                 MAKELPARAM(client.x, client.y));
    KillTimer(nullptr, timer);
    return menuShown;
}

LONG WidestRow(HWND listBox) {
    HDC dc = GetDC(listBox);
    HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(listBox, WM_GETFONT, 0, 0)));
    LONG widest = 0;
    for (const std::string& row : ListBoxRows(listBox)) {
        SIZE size;
        GetTextExtentPoint32A(dc, row.c_str(), static_cast<int>(row.size()), &size);
        widest = std::max(widest, size.cx);
    }
    SelectObject(dc, previous);
    ReleaseDC(listBox, dc);
    return widest;
}

const char* const HELPER_ENVIRONMENT[] = {
    "ZETA=last",
    "=C:=C:\\work",
    "ALPHA=first",
    "NAME=\xcb\xab\xd7\xd6\xbd\xda\xd6\xb5",
    "PATH=C:\\windows\\system32;C:\\windows",
};

std::vector<std::string> HelperEnvironment() {
    std::vector<std::string> entries(std::begin(HELPER_ENVIRONMENT), std::end(HELPER_ENVIRONMENT));
    entries.push_back("WIDE=" + std::string(300, 'w'));
    return entries;
}

std::string HelperCommandLine() {
    return "\"" + BinPath("tvhelper.exe") +
           "\" --lifetime=120000 --window=visible --title=" + ToAnsi("启动信息");
}

class StartInfoTest : public ListFixture {
  protected:
    void SetUp() override {
        PrepareProgramClasses();
        savedNtApi = ntApi;
        savedEnvironment = startupEnvironmentAddress;
        savedDirectory = startupDirectoryAddress;
        savedCalibrated = startupCalibrated;
    }
    void TearDown() override {
        EndChild(helper);
        if (mainWindow) {
            ListFixture::TearDown();
        }
        ntApi = savedNtApi;
        ntFamily = 1;
        startupEnvironmentAddress = savedEnvironment;
        startupDirectoryAddress = savedDirectory;
        startupCalibrated = savedCalibrated;
        if (pages) {
            VirtualFree(pages, 0, MEM_RELEASE);
        }
    }
    void StartHelper() {
        helper = StartWithEnvironment(HelperCommandLine(), BinDir(), HelperEnvironment());
        ASSERT_TRUE(helper.started);
        // The helper's window shows once its start-up is complete.
        ASSERT_NE(FindProcessWindow(helper.info.dwProcessId, nullptr, nullptr, 20000), nullptr);
    }
    // Two pages: the first committed, the second only reserved, so the
    // readable memory ends at `pages + PAGE`.
    char* CommittedPage() {
        pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * PAGE, MEM_RESERVE, PAGE_NOACCESS));
        VirtualAlloc(pages, PAGE, MEM_COMMIT, PAGE_READWRITE);
        return pages;
    }
    // Wide strings, each with its zero, laid out from `at`; the last one may
    // leave its zero out.
    static WCHAR* PutWide(WCHAR* at, const std::vector<std::wstring>& strings,
                          bool lastTerminated = true) {
        for (size_t i = 0; i < strings.size(); i++) {
            memcpy(at, strings[i].c_str(), strings[i].size() * sizeof(WCHAR));
            at += strings[i].size();
            if (lastTerminated || i + 1 < strings.size()) {
                *at++ = 0;
            }
        }
        return at;
    }
    Child helper = {};
    NtApi savedNtApi;
    const WCHAR* savedEnvironment;
    const WCHAR* savedDirectory;
    int savedCalibrated;
    char* pages = nullptr;
};

TEST_F(StartInfoTest, AHelpersStartUpInformationInTheWindowWithCopyAndScrollRange) {
    CreateMainWindowFor(1, false);
    PreloadTitleTexts();
    SetRefreshTimer(0);
    StartHelper();
    ASSERT_TRUE(PumpUntil(
        [&] {
            RefreshProcessList();
            return SelectProcessById(helper.info.dwProcessId) == 1;
        },
        20000));
    SendMessageA(mainWindow, MSG_LIST_EVENT, static_cast<WPARAM>(NM_CLICK), IDC_LIST_MAIN);
    EXPECT_FALSE(Grayed(IDM_STARTUP_INFO));
    std::string caption, directory, commandLine, copied, beside;
    std::vector<std::string> environment;
    int selected = -1, nameRow = -1;
    LRESULT extent = 0;
    LONG widest = 0;
    ASSERT_TRUE(WithDialog(
        [] { SendMessageA(mainWindow, WM_COMMAND, IDM_STARTUP_INFO, 0); },
        [&](HWND dialog) {
            caption = WindowText(dialog);
            directory = WindowText(GetDlgItem(dialog, IDC_STARTUP_DIRECTORY));
            commandLine = WindowText(GetDlgItem(dialog, IDC_STARTUP_COMMAND_LINE));
            HWND list = GetDlgItem(dialog, IDC_STARTUP_ENVIRONMENT);
            environment = ListBoxRows(list);
            extent = SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0);
            widest = WidestRow(list);
            auto name = std::find(environment.begin(), environment.end(),
                                  std::string(HELPER_ENVIRONMENT[3]));
            if (name != environment.end()) {
                nameRow = static_cast<int>(name - environment.begin());
                RECT row;
                SendMessageA(list, LB_GETITEMRECT, nameRow, reinterpret_cast<LPARAM>(&row));
                EXPECT_TRUE(RightClickAndCopy(dialog, list, POINT{row.left + 4, row.top + 2}));
                EXPECT_EQ(shownMenu, FindPopupByCaption(nullptr, IDS_COPY_POPUP));
                selected = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
                copied = ClipboardText(dialog);
                // Beside the rows: no menu.
                CopyTextToClipboard(dialog, "before");
                RECT client;
                GetClientRect(list, &client);
                EXPECT_FALSE(RightClickAndCopy(dialog, list, POINT{4, client.bottom - 2}));
                beside = ClipboardText(dialog);
            }
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }));
    EXPECT_EQ(caption, ToAnsi("启动信息 -- ") + WithSelectedId("tvhelper.exe"));
    EXPECT_EQ(directory, BinDir() + "\\");
    EXPECT_EQ(commandLine, HelperCommandLine());
    // Every variable, exactly, in the list's sorted order; the per-drive
    // directory entry is left out.
    std::vector<std::string> expected;
    for (const std::string& entry : HelperEnvironment()) {
        if (entry[0] != '=') {
            expected.push_back(entry);
        }
    }
    std::vector<std::string> ours;
    for (const std::string& row : environment) {
        EXPECT_NE(row[0], '=') << row;
        if (std::find(expected.begin(), expected.end(), row) != expected.end()) {
            ours.push_back(row);
        }
    }
    EXPECT_EQ(ours, (std::vector<std::string>{expected[1], expected[2], expected[3], expected[4],
                                              expected[0]}));
    ASSERT_GE(nameRow, 0);
    EXPECT_EQ(selected, nameRow);
    EXPECT_EQ(copied, HELPER_ENVIRONMENT[3]);
    EXPECT_EQ(beside, "before");
    EXPECT_GT(widest, 300);
    EXPECT_EQ(extent, widest + 10);
}

TEST_F(StartInfoTest, TheWindowFollowsItsSizeAndNoSelectionOpensNothing) {
    CreateMainWindowFor(1, true);
    PreloadTitleTexts();
    ProcessEntry entry = MakeEntry(GetCurrentProcessId(), "tolvane.exe");
    ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
    ASSERT_EQ(SelectProcessById(GetCurrentProcessId()), 1);
    int widths[3][3] = {};
    int listHeights[3] = {};
    ASSERT_TRUE(
        WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_STARTUP_INFO, 0); },
                   [&](HWND dialog) {
                       auto measure = [&](int step) {
                           int ids[] = {IDC_STARTUP_DIRECTORY, IDC_STARTUP_COMMAND_LINE,
                                        IDC_STARTUP_ENVIRONMENT};
                           for (int i = 0; i < 3; i++) {
                               RECT rect;
                               GetWindowRect(GetDlgItem(dialog, ids[i]), &rect);
                               widths[step][i] = rect.right - rect.left;
                               if (i == 2) {
                                   listHeights[step] = rect.bottom - rect.top;
                               }
                           }
                       };
                       RECT window;
                       GetWindowRect(dialog, &window);
                       measure(0);
                       SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left + 40,
                                    window.bottom - window.top + 25, SWP_NOMOVE | SWP_NOZORDER);
                       measure(1);
                       SetWindowPos(dialog, nullptr, 0, 0, 50, 40, SWP_NOMOVE | SWP_NOZORDER);
                       measure(2);
                       PostMessageA(dialog, WM_CLOSE, 0, 0);
                   }));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(widths[1][i], widths[0][i] + 40) << i;
        EXPECT_EQ(widths[2][i], widths[1][i]) << i;
    }
    EXPECT_EQ(listHeights[1], listHeights[0] + 25);
    EXPECT_EQ(listHeights[2], listHeights[1]);

    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    SendMessageA(listWindow, LVM_SETITEMSTATE, -1, reinterpret_cast<LPARAM>(&item));
    EXPECT_FALSE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_STARTUP_INFO, 0); },
                            [](HWND dialog) { EndDialog(dialog, 0); }));
}

TEST_F(StartInfoTest, TheNinetyFiveReaderListsDriveEntriesThroughTheNativeQuery) {
    StartHelper();
    // This system's thread block leads to no process database.
    EXPECT_EQ(ProcessDatabaseOf(helper.info.dwProcessId), 0u);
    StartupControls controls;
    ntFamily = 0;
    ASSERT_EQ(controls.Read(ReadStartupInfo, helper.info.dwProcessId), 1);
    EXPECT_EQ(WindowText(controls.commandLine), HelperCommandLine());
    EXPECT_EQ(WindowText(controls.directory), BinDir() + "\\");
    std::vector<std::string> rows = ListBoxRows(controls.environment);
    EXPECT_NE(std::find(rows.begin(), rows.end(), "=C:=C:\\work"), rows.end());
    EXPECT_NE(std::find(rows.begin(), rows.end(), HELPER_ENVIRONMENT[3]), rows.end());

    // Without the native query there is nothing to show on this system.
    StartupControls without;
    ntApi.ntQueryInformationProcess = nullptr;
    EXPECT_EQ(without.Read(ReadStartupInfo95, helper.info.dwProcessId), 0);
    EXPECT_EQ(WindowText(without.commandLine), "");
    EXPECT_EQ(SendMessageA(without.environment, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(StartInfoTest, TolvaneItselfAndNothingForOthersWithoutTheNativeQuery) {
    StartHelper();
    ASSERT_EQ(CalibrateStartupAddresses(), 1);
    const WCHAR* directoryAddress = startupDirectoryAddress;
    const WCHAR* environmentAddress = startupEnvironmentAddress;
    EXPECT_EQ(startupCalibrated, 1);
    ASSERT_NE(environmentAddress, nullptr);
    StartupControls own;
    EXPECT_EQ(own.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    EXPECT_EQ(WindowText(own.commandLine), GetCommandLineA());
    char directory[MAX_PATH];
    GetCurrentDirectoryA(sizeof directory, directory);
    EXPECT_EQ(WindowText(own.directory), std::string(directory) + "\\");
    EXPECT_GT(SendMessageA(own.environment, LB_GETCOUNT, 0, 0), 0);
    // The calibration ran once.
    CalibrateStartupAddresses();
    EXPECT_EQ(startupDirectoryAddress, directoryAddress);
    EXPECT_EQ(startupEnvironmentAddress, environmentAddress);

    // The helper's parameters lie elsewhere than Tolvane's own on this
    // system: without the native query there is nothing to show.
    ntApi.ntQueryInformationProcess = nullptr;
    StartupControls other;
    EXPECT_EQ(other.Read(ReadStartupInfoNt, helper.info.dwProcessId), 0);
    EXPECT_EQ(WindowText(other.commandLine), "");
    EXPECT_EQ(WindowText(other.directory), "");
    EXPECT_EQ(SendMessageA(other.environment, LB_GETCOUNT, 0, 0), 0);

    // A process that cannot be opened shows nothing, on either route.
    DWORD ended = helper.info.dwProcessId;
    EndChild(helper);
    ntApi = savedNtApi;
    StartupControls gone;
    EXPECT_EQ(gone.Read(ReadStartupInfoNt, ended), 0);
    EXPECT_EQ(WindowText(gone.commandLine), "");
    EXPECT_EQ(SendMessageA(gone.environment, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(StartInfoTest, TheCalibrationWalksBackFromTheCommandLineToTheDirectoryArea) {
    WCHAR* area = reinterpret_cast<WCHAR*>(CommittedPage());
    WCHAR* line = PutWide(area + STARTUP_DIRECTORY_CHARS, {L"C:\\dll", L"", L"C:\\a.exe"});
    PutWide(line, {L"a.exe -x"});
    EXPECT_EQ(FindDirectoryArea(line), area);
    // A DLL search path that starts the region: the walk would leave it.
    WCHAR* start = reinterpret_cast<WCHAR*>(pages);
    line = PutWide(start, {L"C:\\dll", L"C:\\a.exe"});
    PutWide(line, {L"a.exe"});
    EXPECT_EQ(FindDirectoryArea(line), nullptr);
    EXPECT_EQ(FindDirectoryArea(nullptr), nullptr);
}

TEST_F(StartInfoTest, TheDirectoryAreaLayoutIsReadOnlyWhereItHolds) {
    ntApi.ntQueryInformationProcess = nullptr;
    WCHAR image[MAX_PATH];
    GetModuleFileNameW(nullptr, image, MAX_PATH);
    WCHAR* area = reinterpret_cast<WCHAR*>(CommittedPage());
    wcscpy(area, L"C:\\crafted");
    WCHAR* end = PutWide(area + STARTUP_DIRECTORY_CHARS,
                         {L"C:\\dll;C:\\path", L"", image, L"", L"crafted line"});
    // The environment runs into the end of the committed memory.
    WCHAR* pageEnd = reinterpret_cast<WCHAR*>(pages + PAGE);
    PutWide(end, {L"B=2", L"=D:=D:\\x", L"A=1"});
    PutWide(pageEnd - 5, {L"X=abc"}, false);
    startupCalibrated = 1;
    startupDirectoryAddress = area;
    startupEnvironmentAddress = end;

    StartupControls controls;
    ASSERT_EQ(controls.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    EXPECT_EQ(WindowText(controls.commandLine), "crafted line");
    EXPECT_EQ(WindowText(controls.directory), "C:\\crafted");
    EXPECT_EQ(ListBoxRows(controls.environment), (std::vector<std::string>{"A=1", "B=2"}));
    StartupControls atEnd;
    startupEnvironmentAddress = pageEnd - 5;
    ASSERT_EQ(atEnd.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    EXPECT_EQ(ListBoxRows(atEnd.environment), (std::vector<std::string>{"X=abc"}));

    // Another image path: not this process's layout.
    area[STARTUP_DIRECTORY_CHARS + 16] ^= 1;
    StartupControls other;
    EXPECT_EQ(other.Read(ReadStartupInfoNt, GetCurrentProcessId()), 0);
    EXPECT_EQ(WindowText(other.commandLine), "");
    area[STARTUP_DIRECTORY_CHARS + 16] ^= 1;

    // 260 characters or fewer before the committed memory ends: given up.
    startupDirectoryAddress = pageEnd - STARTUP_DIRECTORY_CHARS;
    StartupControls shortBlock;
    EXPECT_EQ(shortBlock.Read(ReadStartupInfoNt, GetCurrentProcessId()), 0);
    EXPECT_EQ(WindowText(shortBlock.directory), "");
    EXPECT_EQ(SendMessageA(shortBlock.environment, LB_GETCOUNT, 0, 0), 0);

    // Remote reads stop at the committed region's end.
    DWORD count = 99;
    WCHAR* block = ReadRemoteWide(GetCurrentProcess(), pageEnd - 5, &count);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(count, 5u);
    free(block);
    EXPECT_EQ(ReadRemoteWide(GetCurrentProcess(), pageEnd, &count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(WideRangeToAnsi(area, area), nullptr);
}

// The native query of the test: the process environment block it reports
// in the basic information, six fields of the program's width.
ULONG_PTR fakePeb;
LONG WINAPI FakeQuery(HANDLE, ULONG infoClass, void* buffer, ULONG size, ULONG*) {
    if (infoClass != 0 || size < 6 * sizeof(ULONG_PTR)) {
        return static_cast<LONG>(0xC0000004);
    }
    ULONG_PTR* basic = static_cast<ULONG_PTR*>(buffer);
    memset(basic, 0, 6 * sizeof(ULONG_PTR));
    basic[1] = fakePeb;
    return 0;
}

// The public layouts of the environment block's link to the parameters and
// of the parameters, in the test program's own width.
const bool WIDE = sizeof(void*) == 8;
const size_t PEB_PARAMETERS = WIDE ? 0x20 : 0x10;
const size_t PARAMETERS_FLAGS = 0x08;
const size_t PARAMETERS_DIRECTORY = WIDE ? 0x38 : 0x24;
const size_t PARAMETERS_COMMAND_LINE = WIDE ? 0x70 : 0x40;
const size_t PARAMETERS_ENVIRONMENT = WIDE ? 0x80 : 0x48;

void PutPointer(char* at, ULONG_PTR value) {
    memcpy(at, &value, sizeof value);
}
// A counted string: its lengths, and its characters' address (or offset).
void PutCounted(char* at, USHORT length, USHORT maximum, ULONG_PTR buffer) {
    memcpy(at, &length, sizeof length);
    memcpy(at + 2, &maximum, sizeof maximum);
    PutPointer(at + sizeof(void*), buffer);
}

TEST_F(StartInfoTest, AParameterBlockIsReadByItsLengthsWithinTheCommittedMemory) {
    char* page = CommittedPage();
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(page);
    fakePeb = base;
    ULONG_PTR parameters = 0x100;
    PutPointer(page + PEB_PARAMETERS, base + parameters);
    char* block = page + parameters;
    *reinterpret_cast<DWORD*>(block + PARAMETERS_FLAGS) = 0; // the strings are offsets
    WCHAR* directory = reinterpret_cast<WCHAR*>(page + 0x200);
    wcscpy(directory, L"C:\\dir\\");
    PutCounted(block + PARAMETERS_DIRECTORY, 14, 520, 0x200 - parameters);
    // A command line that claims far more than the memory holds.
    WCHAR* pageEnd = reinterpret_cast<WCHAR*>(page + PAGE);
    PutWide(pageEnd - 4, {L"tail"}, false);
    PutCounted(block + PARAMETERS_COMMAND_LINE, 0xFFF0, 0xFFF0, PAGE - 8 - parameters);
    WCHAR* environment = reinterpret_cast<WCHAR*>(page + 0x400);
    PutWide(environment, {L"=C:=C:\\x", L"B=\x53cc", L""});
    // The environment address is always an address.
    PutPointer(block + PARAMETERS_ENVIRONMENT, base + 0x400);
    ntApi.ntQueryInformationProcess = FakeQuery;

    StartupControls kept;
    ASSERT_EQ(ReadOwnParameterBlock(GetCurrentProcess(), kept.commandLine, kept.environment,
                                    kept.directory, 0),
              1);
    EXPECT_EQ(WindowText(kept.commandLine), "tail");
    EXPECT_EQ(WindowText(kept.directory), "C:\\dir\\");
    EXPECT_EQ(ListBoxRows(kept.environment),
              (std::vector<std::string>{"=C:=C:\\x", "B=" + ToAnsi("双")}));
    StartupControls left;
    ASSERT_EQ(ReadOwnParameterBlock(GetCurrentProcess(), left.commandLine, left.environment,
                                    left.directory, 1),
              1);
    EXPECT_EQ(ListBoxRows(left.environment), (std::vector<std::string>{"B=" + ToAnsi("双")}));

    // A parameter address that leads nowhere readable.
    PutPointer(page + PEB_PARAMETERS, base + PAGE);
    StartupControls nowhere;
    EXPECT_EQ(ReadOwnParameterBlock(GetCurrentProcess(), nowhere.commandLine, nowhere.environment,
                                    nowhere.directory, 1),
              0);
}

TEST_F(StartInfoTest, WhereTheDirectoryAreaHoldsTheEnvironmentIsTheProcesssOwn) {
    WCHAR image[MAX_PATH];
    GetModuleFileNameW(nullptr, image, MAX_PATH);
    char* page = CommittedPage();
    ULONG_PTR base = reinterpret_cast<ULONG_PTR>(page);
    WCHAR* area = reinterpret_cast<WCHAR*>(page);
    wcscpy(area, L"C:\\crafted");
    WCHAR* calibrated =
        PutWide(area + STARTUP_DIRECTORY_CHARS, {L"C:\\dll", L"", image, L"", L"crafted line"});
    // What Tolvane's own GetEnvironmentStringsW gave: a copy, elsewhere.
    WCHAR* own = PutWide(calibrated, {L"COPY=1", L""});
    PutWide(own, {L"OWN=1", L"=C:=C:\\x", L""});
    // The process's environment block names its parameters, which name
    // its own environment.
    fakePeb = base + 0xC00;
    PutPointer(page + 0xC00 + PEB_PARAMETERS, base + 0xD00);
    char* parameters = page + 0xD00;
    *reinterpret_cast<DWORD*>(parameters + PARAMETERS_FLAGS) = 1;
    PutPointer(parameters + PARAMETERS_ENVIRONMENT, reinterpret_cast<ULONG_PTR>(own));
    startupCalibrated = 1;
    startupDirectoryAddress = area;
    startupEnvironmentAddress = calibrated;
    ntApi.ntQueryInformationProcess = FakeQuery;

    StartupControls controls;
    ASSERT_EQ(controls.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    EXPECT_EQ(WindowText(controls.commandLine), "crafted line");
    EXPECT_EQ(ListBoxRows(controls.environment), (std::vector<std::string>{"OWN=1"}));
    // Without the native query only the address learnt here is left.
    ntApi.ntQueryInformationProcess = nullptr;
    StartupControls without;
    ASSERT_EQ(without.Read(ReadStartupInfoNt, GetCurrentProcessId()), 1);
    EXPECT_EQ(ListBoxRows(without.environment), (std::vector<std::string>{"COPY=1"}));
}

TEST_F(StartInfoTest, AnEnvironmentBeyondTheReadLimitSaysWhereItWasCut) {
    // 400 variables of 100 characters: 80,000 bytes as wide text.
    std::vector<std::string> environment;
    for (int i = 0; i < 400; i++) {
        environment.push_back("V" + std::to_string(1000 + i) + "=" + std::string(94, 'a' + i % 26));
    }
    helper = StartWithEnvironment(HelperCommandLine(), BinDir(), environment);
    ASSERT_TRUE(helper.started);
    ASSERT_NE(FindProcessWindow(helper.info.dwProcessId, nullptr, nullptr, 20000), nullptr);
    StartupControls controls;
    ASSERT_EQ(controls.Read(ReadStartupInfoNt, helper.info.dwProcessId), 1);
    std::vector<std::string> rows = ListBoxRows(controls.environment);
    std::string cut = ToAnsi(" [已在 64 KB 处截断]");
    int whole = 0, marked = 0;
    for (const std::string& row : rows) {
        if (std::find(environment.begin(), environment.end(), row) != environment.end()) {
            whole++;
        } else if (row.size() > cut.size() &&
                   row.compare(row.size() - cut.size(), cut.size(), cut) == 0) {
            marked++;
            // The part before the mark begins one of the variables.
            std::string part = row.substr(0, row.size() - cut.size());
            EXPECT_TRUE(std::any_of(
                environment.begin(), environment.end(),
                [&](const std::string& entry) { return entry.compare(0, part.size(), part) == 0; }))
                << row;
        }
    }
    // 32,768 characters hold some 320 whole variables (the system adds a
    // few of its own) and the start of the next.
    EXPECT_EQ(marked, 1);
    EXPECT_GT(whole, 300);
    EXPECT_LT(whole, 328);
}

TEST_F(StartInfoTest, NinetyFiveRecordsAreFollowedWithinTheCommittedMemory) {
    char* page = CommittedPage();
    DWORD base = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(page));
    DWORD* database = reinterpret_cast<DWORD*>(page);
    database[0x40 / 4] = base + 0x80;
    DWORD* record = reinterpret_cast<DWORD*>(page + 0x80);
    strcpy(page + 0x100, "C:\\WINDOWS\\NOTEPAD.EXE readme.txt");
    strcpy(page + 0x200, "C:\\WINDOWS");
    record[2] = base + 0x100;
    record[3] = base + 0x200;
    // The environment ends with the memory, in the middle of a double-byte
    // character: only its whole characters are shown.
    std::string entries("=C:=C:\\WORK\0A=1\0NAME=", 21);
    entries += ToAnsi("双")[0];
    char* environment = page + PAGE - entries.size();
    memcpy(environment, entries.data(), entries.size());
    record[0] = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(environment));

    StartupControls controls;
    ASSERT_EQ(
        ReadEnvironmentRecord(base, controls.commandLine, controls.environment, controls.directory),
        1);
    EXPECT_EQ(WindowText(controls.commandLine), "C:\\WINDOWS\\NOTEPAD.EXE readme.txt");
    EXPECT_EQ(WindowText(controls.directory), "C:\\WINDOWS");
    EXPECT_EQ(ListBoxRows(controls.environment),
              (std::vector<std::string>{"=C:=C:\\WORK", "A=1", "NAME="}));

    // A record address into memory that is not committed.
    database[0x40 / 4] = base + PAGE + 0x10;
    StartupControls none;
    EXPECT_EQ(ReadEnvironmentRecord(base, none.commandLine, none.environment, none.directory), 0);
    EXPECT_EQ(WindowText(none.commandLine), "");
}

} // namespace
