// The detail windows of a real 64-bit helper in the 64-bit prefix, opened
// from the main list as a user opens them: its modules, its memory regions
// with their owners, its start-up information, and its users in the module
// usage list. The 32-bit program sees the modules as far as its walk of the
// memory map reaches (with the note) and says that it cannot read the
// start-up information; the 64-bit program sees everything, above 4 GB too.
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/modules.h"
#include "details/usage.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const std::string& row) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = row.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(row.substr(start, tab - start));
    }
    fields.push_back(row.substr(start));
    return fields;
}

class Details64Test : public ListFixture {
  protected:
    void SetUp() override {
        PrepareProgramClasses();
        CreateMainWindowFor(1, true);
        PreloadTitleTexts();
        SetRefreshTimer(0);
    }
    void TearDown() override {
        for (Child& helper : helpers) {
            EndChild(helper);
        }
        ListFixture::TearDown();
    }
    // A 64-bit helper with a window, reserved regions and a known command
    // line, shown as a row of the main list.
    DWORD StartHelper(const char* program = "tvhelper64.exe") {
        // A variable of the test's own, which the helper inherits.
        SetEnvironmentVariableA("TV_DETAILS64", "own value");
        Child helper = StartChild("\"" + BinPath(program) +
                                  "\" --lifetime=120000 --reserve=6 --window=visible --title=h64");
        EXPECT_TRUE(helper.started);
        helpers.push_back(helper);
        DWORD processId = helper.info.dwProcessId;
        EXPECT_NE(FindProcessWindow(processId, nullptr, nullptr, 20000), nullptr);
        ProcessEntry entry = MakeEntry(processId, program);
        MergeEntry(listWindow, &entry);
        return processId;
    }
    // Opens a detail window of the selected row as its menu command does,
    // reads it and closes it.
    static bool Read(UINT command, const std::function<void(HWND)>& read) {
        return WithDialog([&] { SendMessageA(mainWindow, WM_COMMAND, command, 0); },
                          [&](HWND dialog) {
                              read(dialog);
                              SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                          });
    }
    // The modules window's rows (name, base, path) and its status text.
    struct ModuleWindow {
        std::vector<std::string> names, bases, paths;
        std::string status;
        std::string BaseOf(const char* name) const {
            auto found = std::find(names.begin(), names.end(), name);
            return found == names.end() ? "" : bases[found - names.begin()];
        }
    };
    static bool ReadModules(ModuleWindow* shown) {
        return Read(IDM_MODULES, [&](HWND dialog) {
            HWND list = GetDlgItem(dialog, IDC_MODULE_LIST);
            for (int row = 0; row < SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); row++) {
                shown->names.push_back(ListViewText(list, row, 0));
                shown->bases.push_back(ListViewText(list, row, 1));
                shown->paths.push_back(ListViewText(list, row, 4));
            }
            char text[300] = "";
            SendDlgItemMessageA(dialog, IDC_STATUS, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
            shown->status = text;
        });
    }
    // The start-up window's command line and environment rows.
    static bool ReadStartup(std::string* commandLine, std::vector<std::string>* environment) {
        return Read(IDM_STARTUP_INFO, [&](HWND dialog) {
            *commandLine = WindowText(GetDlgItem(dialog, IDC_STARTUP_COMMAND_LINE));
            *environment = ListBoxRows(GetDlgItem(dialog, IDC_STARTUP_ENVIRONMENT));
        });
    }
    static bool Holds(const std::vector<std::string>& rows, const char* row) {
        return std::find(rows.begin(), rows.end(), row) != rows.end();
    }
    std::vector<Child> helpers;
};

TEST_F(Details64Test, ModulesMemoryAndStartUpWindowsOfASixtyFourBitHelper) {
    DWORD processId = StartHelper();
    ASSERT_EQ(SelectProcessById(processId), 1);
    ModuleWindow modules;
    ASSERT_TRUE(ReadModules(&modules));
    const std::vector<std::string>& names = modules.names;
    const std::vector<std::string>& paths = modules.paths;
    const std::vector<std::string>& bases = modules.bases;
    const std::string& status = modules.status;
    // kernel32.dll among the modules, with its drive path. The 32-bit
    // program: the note last, and not counted. The 64-bit one: the
    // executable and ntdll.dll too, above 4 GB, every base at one width.
    ASSERT_GE(names.size(), 2u);
    auto kernel = std::find(names.begin(), names.end(), "kernel32.dll");
    ASSERT_NE(kernel, names.end());
    EXPECT_EQ(Lower(paths[kernel - names.begin()]), "c:\\windows\\system32\\kernel32.dll");
    std::string kernelBase = bases[kernel - names.begin()];
    const bool whole = sizeof(void*) == 8;
    if (whole) {
        EXPECT_EQ(status, std::to_string(names.size()) + " " + ToAnsi("模块"));
        for (const char* name : {"tvhelper64.exe", "ntdll.dll"}) {
            EXPECT_GT(strtoull(modules.BaseOf(name).c_str(), nullptr, 16), 0xFFFFFFFFULL) << name;
        }
        for (const std::string& base : bases) {
            EXPECT_EQ(base, AddressText(strtoull(base.c_str(), nullptr, 16)));
        }
    } else {
        EXPECT_EQ(paths.back(), ToAnsi("(32 位程序看不全 64 位进程的模块)"));
        EXPECT_EQ(status, std::to_string(names.size() - 1) + " " + ToAnsi("模块"));
    }

    // The memory window: the regions as far as the walk reaches, kernel32's
    // image regions owned by it; the totals are those of the rows.
    std::vector<std::string> regions;
    std::string totals;
    ASSERT_TRUE(Read(IDM_MEMORY, [&](HWND dialog) {
        regions = ListBoxRows(GetDlgItem(dialog, IDC_MEMORY_LIST));
        totals = WindowText(GetDlgItem(dialog, IDC_MEMORY_TOTAL));
    }));
    ASSERT_GT(regions.size(), 20u);
    int owned = 0, ownedHigh = 0;
    unsigned long long end = 0, sums[3] = {0, 0, 0};
    std::vector<std::string> starts;
    for (const std::string& row : regions) {
        std::vector<std::string> fields = Fields(row);
        ASSERT_GE(fields.size(), 7u) << row;
        starts.push_back(fields[0]);
        unsigned long long start = strtoull(fields[0].c_str(), nullptr, 16);
        unsigned long long size = strtoull(fields[3].c_str(), nullptr, 10);
        end = std::max(end, start + size);
        if (fields[4] == ToAnsi("托管")) {
            const char* types[] = {"独占", "映射", "映像"};
            for (int type = 0; type < 3; type++) {
                sums[type] += fields[6] == ToAnsi(types[type]) ? size : 0;
            }
        }
        if (fields.size() == 8 && fields[7] == "kernel32.dll") {
            owned++;
            EXPECT_EQ(fields[1], kernelBase) << row;
        }
        // Image regions above 4 GB named by their module.
        if (fields.size() == 8 && (fields[7] == "tvhelper64.exe" || fields[7] == "ntdll.dll")) {
            ownedHigh += start > 0xFFFFFFFFULL;
        }
    }
    EXPECT_GT(owned, 1);
    char expectedTotals[300];
    sprintf(expectedTotals, "%s: %llu K, %s: %llu K, %s: %llu K", ToAnsi("独占").c_str(),
            (sums[0] + 1023) / 1024, ToAnsi("映射").c_str(), (sums[1] + 1023) / 1024,
            ToAnsi("映像").c_str(), (sums[2] + 1023) / 1024);
    EXPECT_EQ(totals, expectedTotals);
    // Each region is listed once, and the rows, which the list box sorts as
    // text, stand in the order of their addresses.
    EXPECT_EQ(std::adjacent_find(starts.begin(), starts.end()), starts.end());
    EXPECT_TRUE(std::is_sorted(
        starts.begin(), starts.end(), [](const std::string& a, const std::string& b) {
            return strtoull(a.c_str(), nullptr, 16) < strtoull(b.c_str(), nullptr, 16);
        }));
    if (whole) {
        // The walk goes on to the end of the user address space.
        EXPECT_GT(ownedHigh, 1);
        EXPECT_GT(strtoull(starts.back().c_str(), nullptr, 16), 0x100000000ULL);
        for (const std::string& start : starts) {
            EXPECT_EQ(start, AddressText(strtoull(start.c_str(), nullptr, 16)));
        }
    } else {
        // A 32-bit program's walk ends at 2 GB here, with the free region
        // that reaches from there beyond 4 GB.
        EXPECT_EQ(ownedHigh, 0);
        EXPECT_LT(strtoull(starts.back().c_str(), nullptr, 16), 0x80000000ULL);
        EXPECT_GT(end, 0x80000000ULL);
    }

    // The start-up window: one line says it cannot be read.
    std::string commandLine;
    std::vector<std::string> environment;
    ASSERT_TRUE(ReadStartup(&commandLine, &environment));
    if (whole) {
        EXPECT_NE(commandLine.find("tvhelper64.exe\" --lifetime=120000 --reserve=6"),
                  std::string::npos)
            << commandLine;
        EXPECT_TRUE(Holds(environment, "TV_DETAILS64=own value"));
    } else {
        EXPECT_EQ(commandLine, "");
        EXPECT_EQ(environment,
                  (std::vector<std::string>{ToAnsi("本程序无法读取 64 位进程的启动信息")}));
    }
}

// The 64-bit program reads a process of the system's 32-bit layer in that
// process's width: its own 32-bit modules, below 4 GB, and its 32-bit
// parameter block. Only where this machine runs 32-bit programs, natively or
// through emulation.
TEST_F(Details64Test, TheSixtyFourBitProgramReadsAThirtyTwoBitHelper) {
    const char* route = getenv("TOLVANE_32BIT_ROUTE");
    if (sizeof(void*) == 4 || !route || (strcmp(route, "native") && strcmp(route, "emulated"))) {
        GTEST_SKIP() << "a 32-bit helper read by the 64-bit program, where 32-bit programs run";
    }
    DWORD processId = StartHelper("tvhelper32.exe");
    ASSERT_EQ(SelectProcessById(processId), 1);
    ModuleWindow modules;
    ASSERT_TRUE(ReadModules(&modules));
    std::string own = modules.BaseOf("tvhelper32.exe");
    ASSERT_NE(own, "");
    EXPECT_LT(strtoull(own.c_str(), nullptr, 16), 0x100000000ULL);
    EXPECT_TRUE(Holds(modules.names, "kernel32.dll"));
    std::string commandLine;
    std::vector<std::string> environment;
    ASSERT_TRUE(ReadStartup(&commandLine, &environment));
    EXPECT_NE(commandLine.find("tvhelper32.exe\" --lifetime=120000"), std::string::npos)
        << commandLine;
    EXPECT_TRUE(Holds(environment, "TV_DETAILS64=own value"));
}

TEST_F(Details64Test, ModuleUsageCountsTheSixtyFourBitUsers) {
    StartHelper();
    StartHelper();
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", LVS_REPORT, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
    BuildUsageList(list);
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int kernelRows = 0;
    for (int row = 0; row < count; row++) {
        ModuleRow* module = ModuleRowAt(list, row);
        ASSERT_NE(module, nullptr);
        EXPECT_FALSE(module->isNote);
        if (lstrcmpiA(module->name, "kernel32.dll") == 0) {
            kernelRows++;
            EXPECT_EQ(module->useCount, 2) << module->path;
        }
        FreeModuleRow(module);
    }
    EXPECT_EQ(kernelRows, 1);
    DestroyWindow(list);
}

} // namespace
