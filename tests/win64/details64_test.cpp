// The detail windows of a real 64-bit helper in the 64-bit prefix, opened
// from the main list as a user opens them: its modules (as far as this
// program's walk of its memory map reaches, with the note), its memory
// regions with their owners, its start-up window's line, and its users in
// the module usage list.
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/modules.h"
#include "details/usage.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"

#include <commctrl.h>
#include <stdlib.h>

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
    DWORD StartHelper() {
        Child helper = StartChild("\"" + BinPath("tvhelper64.exe") +
                                  "\" --lifetime=120000 --reserve=6 --window=visible --title=h64");
        EXPECT_TRUE(helper.started);
        helpers.push_back(helper);
        DWORD processId = helper.info.dwProcessId;
        EXPECT_NE(FindProcessWindow(processId, nullptr, nullptr, 20000), nullptr);
        ProcessEntry entry = MakeEntry(processId, "tvhelper64.exe");
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
    std::vector<Child> helpers;
};

TEST_F(Details64Test, ModulesMemoryAndStartUpWindowsOfASixtyFourBitHelper) {
    DWORD processId = StartHelper();
    ASSERT_EQ(SelectProcessById(processId), 1);
    std::vector<std::string> names, paths, bases;
    std::string status;
    ASSERT_TRUE(Read(IDM_MODULES, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_MODULE_LIST);
        for (int row = 0; row < SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); row++) {
            names.push_back(ListViewText(list, row, 0));
            bases.push_back(ListViewText(list, row, 1));
            paths.push_back(ListViewText(list, row, 4));
        }
        char text[300] = "";
        SendDlgItemMessageA(dialog, IDC_STATUS, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
        status = text;
    }));
    // kernel32.dll among the modules the walk reaches, with its drive path;
    // the note last, and not counted.
    ASSERT_GE(names.size(), 2u);
    auto kernel = std::find(names.begin(), names.end(), "kernel32.dll");
    ASSERT_NE(kernel, names.end());
    EXPECT_EQ(Lower(paths[kernel - names.begin()]), "c:\\windows\\system32\\kernel32.dll");
    std::string kernelBase = bases[kernel - names.begin()];
    EXPECT_EQ(paths.back(), ToAnsi("(32 位程序看不全 64 位进程的模块)"));
    EXPECT_EQ(status, std::to_string(names.size() - 1) + " " + ToAnsi("模块"));

    // The memory window: the regions as far as the walk reaches, kernel32's
    // image regions owned by it.
    std::vector<std::string> regions;
    ASSERT_TRUE(Read(IDM_MEMORY, [&](HWND dialog) {
        regions = ListBoxRows(GetDlgItem(dialog, IDC_MEMORY_LIST));
    }));
    ASSERT_GT(regions.size(), 20u);
    int owned = 0;
    unsigned long long end = 0;
    std::vector<std::string> starts;
    for (const std::string& row : regions) {
        std::vector<std::string> fields = Fields(row);
        ASSERT_GE(fields.size(), 7u) << row;
        starts.push_back(fields[0]);
        end = std::max(end, strtoull(fields[0].c_str(), nullptr, 16) +
                                strtoull(fields[3].c_str(), nullptr, 10));
        if (fields.size() == 8 && fields[7] == "kernel32.dll") {
            owned++;
            EXPECT_EQ(fields[1], kernelBase) << row;
        }
    }
    EXPECT_GT(owned, 1);
    // A 32-bit program's walk ends at 2 GB here, with the free region that
    // reaches from there beyond 4 GB; each region is listed once.
    EXPECT_LT(strtoull(starts.back().c_str(), nullptr, 16), 0x80000000ULL);
    EXPECT_GT(end, 0x80000000ULL);
    EXPECT_EQ(std::adjacent_find(starts.begin(), starts.end()), starts.end());

    // The start-up window: one line says it cannot be read.
    std::string commandLine;
    std::vector<std::string> environment;
    ASSERT_TRUE(Read(IDM_STARTUP_INFO, [&](HWND dialog) {
        commandLine = WindowText(GetDlgItem(dialog, IDC_STARTUP_COMMAND_LINE));
        environment = ListBoxRows(GetDlgItem(dialog, IDC_STARTUP_ENVIRONMENT));
    }));
    EXPECT_EQ(commandLine, "");
    EXPECT_EQ(environment,
              (std::vector<std::string>{ToAnsi("本程序无法读取 64 位进程的启动信息")}));
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
