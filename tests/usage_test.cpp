// The module usage window over real helpers: two that load a DLL of the
// project's own and one that does not. Counts, the filter of the main list
// with its caption and toolbar button, its end, refresh and save keys, and
// the filter's rows against a fresh reading of every process's modules.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/modules.h"
#include "details/usage.h"
#include "res/resource.h"
#include "sysinfo/ntbackend.h"
#include "views/version.h"
#include "testutil.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <stdio.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The module snapshots taken through the program's table, by process id, and
// a module at base address 0 added to one process's snapshots.
ToolhelpApi realToolhelp;
std::map<DWORD, int> moduleSnapshots;
std::map<HANDLE, DWORD> snapshotProcess;
std::set<HANDLE> ghostGiven;
DWORD ghostProcessId;

HANDLE WINAPI CountingSnapshot(DWORD flags, DWORD processId) {
    HANDLE snapshot = realToolhelp.createToolhelp32Snapshot(flags, processId);
    if (flags & TH32CS_SNAPMODULE) {
        moduleSnapshots[processId]++;
        snapshotProcess[snapshot] = processId;
        ghostGiven.erase(snapshot);
    }
    return snapshot;
}

BOOL WINAPI NextWithGhost(HANDLE snapshot, MODULEENTRY32* module) {
    if (realToolhelp.module32Next(snapshot, module)) {
        return TRUE;
    }
    if (ghostProcessId == 0 || snapshotProcess[snapshot] != ghostProcessId ||
        !ghostGiven.insert(snapshot).second) {
        return FALSE;
    }
    lstrcpyA(module->szModule, "ghost.dll");
    lstrcpyA(module->szExePath, "C:\\ghost\\ghost.dll");
    module->modBaseAddr = nullptr;
    module->modBaseSize = 0x1000;
    return TRUE;
}

struct UsageRow {
    std::string name, base, size, count, path;
};

std::vector<UsageRow> Rows(HWND list) {
    std::vector<UsageRow> rows;
    for (int row = 0; row < SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); row++) {
        rows.push_back({ListViewText(list, row, 0), ListViewText(list, row, 1),
                        ListViewText(list, row, 2), ListViewText(list, row, 3),
                        ListViewText(list, row, 4)});
    }
    return rows;
}

int RowWithPath(HWND list, const std::string& path) {
    std::vector<UsageRow> rows = Rows(list);
    for (size_t row = 0; row < rows.size(); row++) {
        if (lstrcmpiA(rows[row].path.c_str(), path.c_str()) == 0) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

// Selects the row with the arrow keys, coming from its neighbour.
void ArrowTo(HWND list, int row) {
    int from = row > 0 ? row - 1 : row + 1;
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, from, reinterpret_cast<LPARAM>(&state));
    PressKey(list, row > 0 ? VK_DOWN : VK_UP, false);
}

std::string Caption() {
    char text[700] = "";
    GetWindowTextA(mainWindow, text, sizeof text);
    return text;
}

bool ToolbarChecked() {
    return SendMessageA(toolbarWindow, TB_ISBUTTONCHECKED, IDM_MODULE_USAGE, 0) != 0;
}

// Every process the system reports whose modules, read now, hold the module.
std::set<DWORD> UsersReadNow(const std::string& path, ULONGLONG base) {
    static DWORD ids[4096];
    DWORD returned = 0;
    ntApi.enumProcesses(ids, sizeof ids, &returned);
    std::set<DWORD> users;
    for (DWORD i = 0; i < returned / sizeof ids[0]; i++) {
        ProcessNode scratch = {};
        ModuleUserQuery query = {&scratch, path.c_str(), base};
        FillModuleList(nullptr, ids[i], MarkModuleUser, reinterpret_cast<ULONG_PTR>(&query));
        if (scratch.flags & NODE_FILTERED_OUT) {
            users.insert(ids[i]);
        }
    }
    return users;
}

class UsageTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
        SetRefreshTimer(0);
        realToolhelp = toolhelpApi;
        dll = BinPath("vdesc.dll");
        std::string helper = "\"" + BinPath("tvhelper.exe") + "\" --lifetime=120000";
        users[0] = StartChild(helper + " --load=" + dll);
        users[1] = StartChild(helper + " --load=" + dll);
        other = StartChild(helper);
        for (Child* child : {&users[0], &users[1], &other}) {
            ASSERT_TRUE(child->started);
            WaitForInputIdle(child->info.hProcess, 20000);
        }
        for (Child* child : {&users[0], &users[1]}) {
            ASSERT_TRUE(PumpUntil([&] { return UsesDll(child->info.dwProcessId); }, 20000));
        }
        toolhelpApi.createToolhelp32Snapshot = CountingSnapshot;
        toolhelpApi.module32Next = NextWithGhost;
        moduleSnapshots.clear();
        ghostProcessId = 0;
    }
    void TearDown() override {
        toolhelpApi = realToolhelp;
        for (Child* child : {&users[0], &users[1], &other, &late}) {
            EndChild(*child);
        }
        ListFixture::TearDown();
        moduleSortColumn = 0;
        moduleSortDirection = 1;
    }
    static std::set<DWORD> Shown() {
        std::vector<DWORD> ids = RowIds();
        return std::set<DWORD>(ids.begin(), ids.end());
    }
    bool UsesDll(DWORD processId) {
        std::vector<std::string> paths;
        ListModulesNt(
            nullptr, processId,
            [](ULONG_PTR value, HWND, const char*, ULONGLONG, DWORD, const char* path) {
                reinterpret_cast<std::vector<std::string>*>(value)->push_back(path);
                return 0;
            },
            reinterpret_cast<ULONG_PTR>(&paths));
        return std::any_of(paths.begin(), paths.end(), [&](const std::string& path) {
            return lstrcmpiA(path.c_str(), dll.c_str()) == 0;
        });
    }
    // Opens the window with command 40023 and closes it after the action.
    bool WithUsageWindow(const std::function<void(HWND dialog, HWND list)>& action) {
        return WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_MODULE_USAGE, 0); },
                          [&](HWND dialog) {
                              action(dialog, GetDlgItem(dialog, IDC_USAGE_LIST));
                              PostMessageA(dialog, WM_CLOSE, 0, 0);
                          });
    }
    DWORD Id(const Child& child) const {
        return child.info.dwProcessId;
    }
    std::string dll;
    Child users[2] = {};
    Child other = {};
    Child late = {};
};

TEST_F(UsageTest, CountsFilterCaptionAndTheirEndByCommand) {
    std::string vdescCaption;
    std::string copied;
    ASSERT_TRUE(WithUsageWindow([&](HWND dialog, HWND list) {
        std::vector<UsageRow> rows = Rows(list);
        char status[300] = "";
        SendMessageA(GetDlgItem(dialog, IDC_STATUS), SB_GETTEXTA, 0,
                     reinterpret_cast<LPARAM>(status));
        EXPECT_EQ(status, std::to_string(rows.size()) + " " + ToAnsi("模块"));
        // Each process's modules were read once.
        for (const auto& taken : moduleSnapshots) {
            EXPECT_EQ(taken.second, 1) << "process " << taken.first;
        }
        // Both users load the DLL at one address; the helper's executable
        // is counted once per helper.
        int row = RowWithPath(list, dll);
        ASSERT_NE(row, -1);
        EXPECT_EQ(rows[row].count, "2");
        EXPECT_EQ(rows[row].name, "vdesc.dll");
        EXPECT_EQ(rows[RowWithPath(list, BinPath("tvhelper.exe"))].count, "3");

        ArrowTo(list, row);
        ASSERT_TRUE(PumpUntil(
            [&] {
                return Shown() == std::set<DWORD>{Id(users[0]), Id(users[1])};
            },
            20000));
        char expected[700];
        snprintf(expected, sizeof expected, "%s -- %s:%llx", mainTitle, rows[row].path.c_str(),
                 strtoull(rows[row].base.c_str(), nullptr, 16));
        vdescCaption = expected;
        EXPECT_EQ(Caption(), vdescCaption);
        EXPECT_TRUE(ToolbarChecked());
        EXPECT_EQ(refreshSuspended, 1);

        // Copy module path.
        SendMessageA(dialog, WM_COMMAND, IDM_COPY_PATH, 0);
        if (OpenClipboard(nullptr)) {
            HANDLE data = GetClipboardData(CF_TEXT);
            copied = data ? static_cast<const char*>(GlobalLock(data)) : "";
            if (data) {
                GlobalUnlock(data);
            }
            CloseClipboard();
        }

        // F5 while filtered counts every process, also those filtered out.
        PressKey(list, VK_F5, false);
        EXPECT_EQ(Rows(list)[RowWithPath(list, BinPath("tvhelper.exe"))].count, "3");
        EXPECT_EQ(Rows(list)[RowWithPath(list, dll)].count, "2");
    }));
    EXPECT_EQ(lstrcmpiA(copied.c_str(), dll.c_str()), 0);

    // The filter outlives the window.
    EXPECT_EQ(Caption(), vdescCaption);
    EXPECT_EQ(Shown(), (std::set<DWORD>{Id(users[0]), Id(users[1])}));
    SendMessageA(mainWindow, WM_TIMER, REFRESH_TIMER_ID, 0);
    EXPECT_EQ(Shown(), (std::set<DWORD>{Id(users[0]), Id(users[1])}));
    // The status bar tells the two rows from the whole list.
    std::string status = WindowText(statusWindow);
    EXPECT_EQ(status.find(ToAnsi("显示 2 / 共 ")), 0u) << status;
    EXPECT_GT(atoi(status.c_str() + ToAnsi("显示 2 / 共 ").size()), 2) << status;

    // 40023 ends it without opening the window; all three helpers are back.
    EXPECT_FALSE(WithUsageWindow([](HWND, HWND) {}));
    EXPECT_EQ(Caption(), mainTitle);
    EXPECT_FALSE(ToolbarChecked());
    EXPECT_EQ(refreshSuspended, 0);
    std::set<DWORD> shown = Shown();
    for (DWORD id : {Id(users[0]), Id(users[1]), Id(other)}) {
        EXPECT_EQ(shown.count(id), 1u) << id;
    }

    // So does 40002.
    ASSERT_TRUE(WithUsageWindow([&](HWND, HWND list) {
        ArrowTo(list, RowWithPath(list, dll));
        ASSERT_TRUE(PumpUntil([&] { return Caption() == vdescCaption; }, 20000));
    }));
    SendMessageA(mainWindow, WM_COMMAND, IDM_REFRESH, 0);
    EXPECT_EQ(Caption(), mainTitle);
    EXPECT_FALSE(ToolbarChecked());
    EXPECT_EQ(Shown(), shown);
}

// Arrowing through every module, with one user starting and one user ending
// after the window listed its rows: the main list keeps exactly the
// processes whose module lists, read afresh, hold the selected module, and
// besides the new process only processes whose address space changed are read.
TEST_F(UsageTest, FilterKeepsExactlyTheUsersAFreshReadingFinds) {
    ASSERT_TRUE(WithUsageWindow([&](HWND, HWND list) {
        late = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=120000 --load=" + dll);
        ASSERT_TRUE(late.started);
        ASSERT_TRUE(PumpUntil([&] { return UsesDll(Id(late)); }, 20000));
        EndChild(users[1]);
        moduleSnapshots.clear();

        int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        ASSERT_GT(count, 5);
        int checked = 0;
        for (int row = 0; row < count; row++) {
            ArrowTo(list, row);
            std::map<DWORD, int> taken = moduleSnapshots;
            UsageRow module = Rows(list)[row];
            ULONGLONG base = strtoull(module.base.c_str(), nullptr, 16);
            std::set<DWORD> expected = UsersReadNow(module.path, base);
            moduleSnapshots = taken;
            EXPECT_TRUE(PumpUntil([&] { return Shown() == expected; }, 8000))
                << module.path << " at " << module.base;
            checked++;
        }
        EXPECT_EQ(checked, count);
        // The new process is read once. Others are read again only when
        // their address space changed: this process, as it works, and now and
        // then a service of the system; never once per click.
        EXPECT_EQ(moduleSnapshots[Id(late)], 1);
        moduleSnapshots.erase(GetCurrentProcessId());
        moduleSnapshots.erase(Id(late));
        int others = 0;
        for (const auto& taken : moduleSnapshots) {
            others += taken.second;
        }
        EXPECT_LE(others, 3) << others << " reads of unchanged processes in " << count << " clicks";
    }));
}

// F5 lets go of the module lists, and with them the handles, of processes
// that have ended, so that their ids can go to new processes.
TEST_F(UsageTest, FFiveReleasesTheHandlesOfEndedProcesses) {
    DWORD ended = Id(other);
    ASSERT_TRUE(WithUsageWindow([&](HWND, HWND list) {
        EndChild(other);
        RefreshPass(listWindow);
        // The system lets go of an ended process a little later; then only
        // the window's kept list holds it.
        PumpMessages(1500);
        EXPECT_TRUE(ProcessIdHeld(ended));
        PressKey(list, VK_F5, false);
        EXPECT_TRUE(PumpUntil([&] { return !ProcessIdHeld(ended); }, 5000));
    }));
}

TEST_F(UsageTest, BaseZeroModuleFiltersWithoutCaptionAndAnEmptyClickUnfilters) {
    ghostProcessId = Id(users[0]);
    ASSERT_TRUE(WithUsageWindow([&](HWND, HWND list) {
        int row = RowWithPath(list, "C:\\ghost\\ghost.dll");
        ASSERT_NE(row, -1);
        EXPECT_EQ(Rows(list)[row].base, AddressText(0));
        ArrowTo(list, row);
        ASSERT_TRUE(PumpUntil([&] { return Shown() == std::set<DWORD>{Id(users[0])}; }, 20000));
        EXPECT_EQ(Caption(), mainTitle);
        EXPECT_TRUE(ToolbarChecked());
        EXPECT_EQ(refreshSuspended, 1);

        // No module selected: the main list is whole again, yet held.
        LVITEMA state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&state));
        PressKey(list, VK_F3, false);
        ASSERT_TRUE(PumpUntil([&] { return Shown().count(Id(other)) == 1; }, 20000));
        EXPECT_EQ(Shown().count(Id(users[1])), 1u);
        EXPECT_EQ(Caption(), mainTitle);
        EXPECT_EQ(refreshSuspended, 1);
    }));
}

TEST_F(UsageTest, SavedFileHoldsTheRowsInTheOrderShown) {
    std::string file = BinDir() + "\\usage-saved.txt";
    DeleteFileA(file.c_str());
    std::vector<UsageRow> built;
    std::vector<UsageRow> sorted;
    std::string dllPath;
    ASSERT_TRUE(WithUsageWindow([&](HWND, HWND list) {
        sorted = Rows(list);
        dllPath = sorted[RowWithPath(list, dll)].path;
        EXPECT_TRUE(WithDialogOfClass(
            "#32770", [&] { PressKey(list, 'S', true); },
            [&](HWND save) { SaveAsIn(save, file); }));
        built = Rows(list);
    }));
    // The refill sorts again: the file and the list keep the order shown.
    std::ostringstream expected;
    for (const UsageRow& row : built) {
        char summary[260];
        GetVersionSummary(row.path.c_str(), nullptr, summary, sizeof summary);
        expected << row.name << '\t' << row.base << '\t' << row.size << '\t' << row.count << '\t'
                 << row.path << '\t' << summary << "\r\n";
    }
    EXPECT_EQ(ReadFileBytes(file), expected.str());
    EXPECT_NE(ReadFileBytes(file).find("\t2\t" + dllPath + "\tDesc 1.2.  (c) Me\r\n"),
              std::string::npos);
    EXPECT_EQ(built.size(), sorted.size());
    EXPECT_TRUE(std::equal(built.begin(), built.end(), sorted.begin(),
                           [](const UsageRow& a, const UsageRow& b) { return a.path == b.path; }));
    DeleteFileA(file.c_str());
}

// A helper loads and unloads the DLL on request while the window is open:
// after each change a click keeps exactly the users a fresh reading finds,
// and F5 counts them over every process, also those the filter took off.
TEST_F(UsageTest, ClicksAndCountsFollowADllLoadedAndUnloadedWhileTheWindowIsOpen) {
    late = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=120000 --loader=" + dll);
    ASSERT_TRUE(late.started);
    HWND loader = FindProcessWindow(Id(late), "TvHelperLoader", nullptr, 20000);
    ASSERT_NE(loader, nullptr);
    enum { LOADER_LOAD = WM_APP + 1, LOADER_UNLOAD = WM_APP + 2 };
    struct Step {
        UINT request;
        bool lateUses;
        const char* dllCount;
    } steps[] = {
        {LOADER_LOAD, true, "3"},
        {LOADER_UNLOAD, false, "2"},
        {LOADER_LOAD, true, "3"},
    };
    ASSERT_TRUE(WithUsageWindow([&](HWND, HWND list) {
        EXPECT_EQ(Rows(list)[RowWithPath(list, dll)].count, "2");
        for (const Step& step : steps) {
            SCOPED_TRACE(step.request == LOADER_LOAD ? "loaded" : "unloaded");
            DWORD_PTR done = 0;
            ASSERT_TRUE(
                SendMessageTimeoutA(loader, step.request, 0, 0, SMTO_ABORTIFHUNG, 5000, &done));
            ASSERT_EQ(done, 1u);
            ASSERT_EQ(UsesDll(Id(late)), step.lateUses);
            int row = RowWithPath(list, dll);
            ASSERT_NE(row, -1);
            UsageRow module = Rows(list)[row];
            std::set<DWORD> expected = {Id(users[0]), Id(users[1])};
            if (step.lateUses) {
                expected.insert(Id(late));
            }
            EXPECT_EQ(UsersReadNow(module.path, strtoull(module.base.c_str(), nullptr, 16)),
                      expected);
            ArrowTo(list, row);
            EXPECT_TRUE(PumpUntil([&] { return Shown() == expected; }, 20000));
            PressKey(list, VK_F5, false);
            EXPECT_EQ(Rows(list)[RowWithPath(list, dll)].count, step.dllCount);
            EXPECT_EQ(Rows(list)[RowWithPath(list, BinPath("tvhelper.exe"))].count, "4");
        }
    }));
}

} // namespace
