// Module lists of a real helper that loads a DLL of the project's own: both
// NT routes, the row order of the sort, and the modules window opened from
// the main list.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/modules.h"
#include "res/resource.h"
#include "sysinfo/ntbackend.h"
#include "views/version.h"
#include "testutil.h"

#include <commctrl.h>
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

typedef std::tuple<std::string, ULONGLONG, DWORD, std::string> Module;

int Collect(ULONG_PTR userValue, HWND, const char* name, ULONGLONG base, DWORD size,
            const char* path) {
    reinterpret_cast<std::vector<Module>*>(userValue)->emplace_back(name, base, size, path);
    return 0;
}

std::vector<Module> ModulesBy(int (*list)(HWND, DWORD, ModuleVisitor, ULONG_PTR), DWORD processId) {
    std::vector<Module> modules;
    list(nullptr, processId, Collect, reinterpret_cast<ULONG_PTR>(&modules));
    return modules;
}

std::vector<std::string> Column(HWND list, int column) {
    std::vector<std::string> cells;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; row++) {
        cells.push_back(ListViewText(list, row, column));
    }
    return cells;
}

int RowNamed(HWND list, const char* name) {
    std::vector<std::string> names = Column(list, 0);
    for (size_t row = 0; row < names.size(); row++) {
        if (lstrcmpiA(names[row].c_str(), name) == 0) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

// The header format and bitmap of one column.
HDITEMA HeaderItem(HWND list, int column) {
    HDITEMA item = {};
    item.mask = HDI_FORMAT | HDI_BITMAP;
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item));
    return item;
}

void ClickColumn(HWND list, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    RECT rect;
    SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&rect));
    LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(header, WM_LBUTTONUP, 0, point);
}

std::string StatusText(HWND dialog) {
    char text[300];
    text[0] = 0;
    SendMessageA(GetDlgItem(dialog, IDC_STATUS), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

class ModulesTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
        SetRefreshTimer(0);
        modulesRefreshSeconds = 0;
        dll = BinPath("vdesc.dll");
        helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=120000 --load=" + dll);
        ASSERT_TRUE(helper.started);
        ASSERT_TRUE(PumpUntil(
            [&] {
                for (const Module& module : ModulesBy(ListModulesNt, helper.info.dwProcessId)) {
                    if (lstrcmpiA(std::get<0>(module).c_str(), "vdesc.dll") == 0) {
                        return true;
                    }
                }
                return false;
            },
            20000));
    }
    void TearDown() override {
        EndChild(helper);
        ListFixture::TearDown();
        modulesRefreshSeconds = 1;
        moduleSortColumn = 0;
        moduleSortDirection = 1;
    }
    void OpenWindow(const std::function<void(HWND dialog, HWND list)>& action) {
        ASSERT_TRUE(PumpUntil(
            [&] {
                RefreshProcessList();
                return SelectProcessById(helper.info.dwProcessId) == 1;
            },
            20000));
        ASSERT_TRUE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_MODULES, 0); },
                               [&](HWND dialog) {
                                   action(dialog, GetDlgItem(dialog, IDC_MODULE_LIST));
                                   PostMessageA(dialog, WM_CLOSE, 0, 0);
                               }));
    }
    std::string dll;
    Child helper;
};

TEST_F(ModulesTest, SnapshotAndProcessStatusRoutesGiveTheSameRows) {
    std::vector<Module> bySnapshot = ModulesBy(ListModulesBySnapshot, helper.info.dwProcessId);
    std::vector<Module> byPsapi = ModulesBy(ListModulesPsapi, helper.info.dwProcessId);
    ASSERT_GE(bySnapshot.size(), 3u);
    EXPECT_EQ(bySnapshot, byPsapi);
    EXPECT_EQ(Lower(std::get<3>(bySnapshot[0])), Lower(BinPath("tvhelper.exe")));
    // A process that is not there, and process id 0.
    EXPECT_TRUE(ModulesBy(ListModulesNt, 0x7FFF0001).empty());
    EXPECT_TRUE(ModulesBy(ListModulesNt, 0).empty());
}

// A row of the module windows, and the sign of its comparison with another.
ModuleRow Row(const char* path, const char* name, ULONGLONG base, DWORD size, FILETIME created,
              LONG uses, int isNote = 0) {
    return {const_cast<char*>(path), const_cast<char*>(name), base, size, created, uses, isNote};
}

int CompareSign(const ModuleRow& first, const ModuleRow& second, int list, int column,
                int direction) {
    SortParam param = {list, column, direction};
    int result =
        CompareModuleRows(reinterpret_cast<LPARAM>(&first), reinterpret_cast<LPARAM>(&second),
                          reinterpret_cast<LPARAM>(&param));
    return (result > 0) - (result < 0);
}

TEST_F(ModulesTest, RowsSortByEachColumnWithTieBreaksInBothDirections) {
    FILETIME early = {1, 0}, late = {2, 0};
    ModuleRow a = Row("C:\\b\\same.dll", "same.dll", 0x2000, 10, late, 3);
    ModuleRow b = Row("C:\\a\\SAME.dll", "SAME.DLL", 0x1000, 10, early, 3);
    ModuleRow c = Row("C:\\a\\other.dll", "other.dll", 0x1000, 20, late, 1);
    struct Case {
        int list, column;
        const ModuleRow *first, *second;
        int ascending; // sign of the result, ascending; descending reverses it
    } cases[] = {
        {IDC_MODULE_LIST, 0, &a, &b, 1},                                   // same name: by base
        {IDC_MODULE_LIST, 0, &c, &a, -1},                                  // by name
        {IDC_MODULE_LIST, 1, &b, &c, 1},                                   // same base: by name
        {IDC_MODULE_LIST, 2, &a, &b, 0},                                   // same size and name
        {IDC_MODULE_LIST, 2, &c, &a, 1},  {IDC_MODULE_LIST, 3, &a, &b, 1}, // creation times
        {IDC_MODULE_LIST, 3, &c, &a, -1},                                  // same time: by name
        {IDC_USAGE_LIST, 3, &a, &c, 1},                                    // use counts
        {IDC_MODULE_LIST, 4, &b, &c, 1},                                   // by path
        {IDC_MODULE_LIST, 5, &a, &b, -1},                                  // no such column
        {IDC_LIST_MAIN, 0, &a, &c, 0},                                     // another list
    };
    for (const Case& test : cases) {
        for (int direction : {1, -1}) {
            EXPECT_EQ(CompareSign(*test.first, *test.second, test.list, test.column, direction),
                      test.ascending * direction)
                << "list " << test.list << " column " << test.column << " direction " << direction;
        }
    }
    // A note stays under every module, in both directions, by every column.
    ModuleRow note = Row("", "(note)", 0, 0, early, 0, 1);
    for (int column = 0; column < 5; column++) {
        for (int direction : {1, -1}) {
            EXPECT_EQ(CompareSign(note, c, IDC_MODULE_LIST, column, direction), 1);
            EXPECT_EQ(CompareSign(a, note, IDC_MODULE_LIST, column, direction), -1);
        }
    }
}

TEST_F(ModulesTest, WindowListsTheModulesWithCountVersionSortAndRefresh) {
    OpenWindow([&](HWND dialog, HWND list) {
        std::vector<Module> modules = ModulesBy(ListModulesNt, helper.info.dwProcessId);
        int count = static_cast<int>(modules.size());
        EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), count);
        EXPECT_EQ(StatusText(dialog), std::to_string(count) + " " + ToAnsi("模块"));
        // Sorted by name, ascending, with the arrow on the name column.
        std::vector<std::string> names = Column(list, 0);
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                                   [](const std::string& x, const std::string& y) {
                                       return lstrcmpiA(x.c_str(), y.c_str()) < 0;
                                   }));
        EXPECT_TRUE(HeaderItem(list, 0).fmt & HDF_BITMAP);

        int row = RowNamed(list, "vdesc.dll");
        ASSERT_NE(row, -1);
        const Module* own = nullptr;
        for (const Module& module : modules) {
            if (std::get<0>(module) == ListViewText(list, row, 0)) {
                own = &module;
            }
        }
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(ListViewText(list, row, 1), AddressText(std::get<1>(*own)));
        EXPECT_EQ(ListViewText(list, row, 2), std::to_string(std::get<2>(*own)));
        char created[64] = "";
        GetFileTimeText(dll.c_str(), created, sizeof created, " ", 0);
        EXPECT_NE(std::string(created), "");
        EXPECT_EQ(ListViewText(list, row, 3), created);
        EXPECT_EQ(Lower(ListViewText(list, row, 4)), Lower(dll));

        // Selecting the module shows its version summary.
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        PostMessageA(dialog, MSG_LIST_EVENT, static_cast<WPARAM>(NM_CLICK), 0);
        PumpMessages(50);
        EXPECT_EQ(StatusText(dialog), "Desc 1.2.  (c) Me");

        // Base address: up; again: down; the arrow moves and turns.
        ClickColumn(list, 1);
        PumpMessages(20);
        std::vector<std::string> bases = Column(list, 1);
        EXPECT_TRUE(std::is_sorted(bases.begin(), bases.end()));
        HBITMAP up = HeaderItem(list, 1).hbm;
        EXPECT_FALSE(HeaderItem(list, 0).fmt & HDF_BITMAP);
        ClickColumn(list, 1);
        PumpMessages(20);
        bases = Column(list, 1);
        EXPECT_TRUE(std::is_sorted(bases.rbegin(), bases.rend()));
        EXPECT_NE(HeaderItem(list, 1).hbm, up);
        EXPECT_EQ(moduleSortDirection, -1);

        // F5 refills in the order the arrow shows.
        PressKey(list, VK_F5, false);
        bases = Column(list, 1);
        EXPECT_TRUE(std::is_sorted(bases.rbegin(), bases.rend()));
        EXPECT_TRUE(HeaderItem(list, 1).fmt & HDF_BITMAP);
    });
}

TEST_F(ModulesTest, CtrlSAndF2SaveEveryModuleWhileSAloneDoesNothing) {
    std::string file = BinDir() + "\\modules-saved.txt";
    DeleteFileA(file.c_str());
    std::string saved;
    bool asked[3] = {};
    OpenWindow([&](HWND, HWND list) {
        asked[0] = WithDialogOfClass(
            "#32770", [&] { PressKey(list, 'S', false); },
            [](HWND save) { EndDialog(save, IDCANCEL); });
        asked[1] = WithDialogOfClass(
            "#32770", [&] { PressKey(list, 'S', true); }, [&](HWND save) { SaveAsIn(save, file); });
        saved = ReadFileBytes(file);
        DeleteFileA(file.c_str()); // no question about replacing it
        asked[2] = WithDialogOfClass(
            "#32770", [&] { PressKey(list, VK_F2, false); },
            [&](HWND save) { SaveAsIn(save, file); });
    });
    EXPECT_FALSE(asked[0]);
    EXPECT_TRUE(asked[1]);
    EXPECT_TRUE(asked[2]);
    EXPECT_EQ(ReadFileBytes(file), saved);
    // One line per module, in the order shown: by name.
    std::string expected;
    std::vector<Module> modules = ModulesBy(ListModulesNt, helper.info.dwProcessId);
    std::sort(modules.begin(), modules.end(), [](const Module& x, const Module& y) {
        int names = lstrcmpiA(std::get<0>(x).c_str(), std::get<0>(y).c_str());
        return names != 0 ? names < 0 : std::get<1>(x) < std::get<1>(y);
    });
    for (const Module& module : modules) {
        char created[64] = "";
        GetFileTimeText(std::get<3>(module).c_str(), created, sizeof created, " ", 0);
        char summary[260];
        GetVersionSummary(std::get<3>(module).c_str(), nullptr, summary, sizeof summary);
        char line[1200];
        wsprintfA(line, "%s\t%s\t%d\t%s\t%s\t%s\r\n", std::get<0>(module).c_str(),
                  AddressText(std::get<1>(module)).c_str(), std::get<2>(module), created,
                  std::get<3>(module).c_str(), summary);
        expected += line;
    }
    EXPECT_EQ(saved, expected);
    EXPECT_NE(saved.find("\tDesc 1.2.  (c) Me\r\n"), std::string::npos);
    DeleteFileA(file.c_str());
}

// The timer, F5, F2 and Ctrl+S refill the list: the rows come back in the
// order the arrow shows, and a save writes them in that order.
TEST_F(ModulesTest, EveryRefillKeepsTheSortTheArrowShowsAndSavesWriteThatOrder) {
    std::string file = BinDir() + "\\modules-sorted.txt";
    struct Trigger {
        const char* what;
        int key; // 0: a tick of the window's timer
        bool control;
        bool saves;
    } triggers[] = {
        {"timer tick", 0, false, false},
        {"F5", VK_F5, false, false},
        {"F2", VK_F2, false, true},
        {"Ctrl+S", 'S', true, true},
    };
    OpenWindow([&](HWND dialog, HWND list) {
        ClickColumn(list, 2); // by size, ascending
        PumpMessages(20);
        for (const Trigger& trigger : triggers) {
            SCOPED_TRACE(trigger.what);
            DeleteFileA(file.c_str());
            if (trigger.key == 0) {
                SendMessageA(dialog, WM_TIMER, REFRESH_TIMER_ID, 0);
            } else if (trigger.saves) {
                EXPECT_TRUE(WithDialogOfClass(
                    "#32770", [&] { PressKey(list, trigger.key, trigger.control); },
                    [&](HWND save) { SaveAsIn(save, file); }));
            } else {
                PressKey(list, trigger.key, trigger.control);
            }
            std::vector<unsigned long> sizes;
            for (const std::string& size : Column(list, 2)) {
                sizes.push_back(std::stoul(size));
            }
            EXPECT_GT(sizes.size(), 2u);
            EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
            EXPECT_TRUE(HeaderItem(list, 2).fmt & HDF_BITMAP);
            if (!trigger.saves) {
                continue;
            }
            // Each line starts with the cells of its row, row by row.
            std::string saved = ReadFileBytes(file);
            size_t at = 0;
            for (int row = 0; row < static_cast<int>(sizes.size()); row++) {
                std::string cells;
                for (int column = 0; column < 5; column++) {
                    cells += ListViewText(list, row, column) + "\t";
                }
                EXPECT_EQ(saved.compare(at, cells.size(), cells), 0) << "row " << row;
                at = saved.find("\r\n", at);
                ASSERT_NE(at, std::string::npos);
                at += 2;
            }
            EXPECT_EQ(at, saved.size());
        }
    });
    DeleteFileA(file.c_str());
}

// A colour change loads the arrows again: every open header that showed the
// old ones shows the new ones, and only then are the old ones deleted.
TEST_F(ModulesTest, AColourChangeGivesEveryShownHeaderTheNewArrows) {
    struct Window {
        UINT command;
        int listId;
    } windows[] = {{IDM_MODULES, IDC_MODULE_LIST}, {IDM_MODULE_USAGE, IDC_USAGE_LIST}};
    for (const Window& window : windows) {
        SCOPED_TRACE(window.command);
        ASSERT_TRUE(PumpUntil(
            [&] {
                RefreshProcessList();
                return SelectProcessById(helper.info.dwProcessId) == 1;
            },
            20000));
        ASSERT_TRUE(WithDialog(
            [&] { SendMessageA(mainWindow, WM_COMMAND, window.command, 0); },
            [&](HWND dialog) {
                HWND list = GetDlgItem(dialog, window.listId);
                ClickColumn(list, 1);
                ClickColumn(list, 1); // descending
                PumpMessages(20);
                HBITMAP shown[2] = {HeaderItem(list, 1).hbm,
                                    HeaderItem(listWindow, sortColumn).hbm};
                SendMessageA(mainWindow, WM_SYSCOLORCHANGE, 0, 0);
                HBITMAP now[2] = {HeaderItem(list, 1).hbm, HeaderItem(listWindow, sortColumn).hbm};
                for (int i = 0; i < 2; i++) {
                    EXPECT_NE(now[i], shown[i]) << i;
                    EXPECT_EQ(GetObjectType(now[i]), static_cast<DWORD>(OBJ_BITMAP)) << i;
                    EXPECT_EQ(GetObjectType(shown[i]), 0u) << i;
                }
                // The new arrows keep their directions.
                ClickColumn(list, 1);
                PumpMessages(20);
                EXPECT_EQ(GetObjectType(HeaderItem(list, 1).hbm), static_cast<DWORD>(OBJ_BITMAP));
                EXPECT_NE(HeaderItem(list, 1).hbm, now[0]);
                PostMessageA(dialog, WM_CLOSE, 0, 0);
            }));
    }
}

} // namespace
