// The memory map of a helper whose regions the test arranges from outside:
// row texts, totals, module names of image regions, and the window's timer
// and keys.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "views/memory.h"
#include "testutil.h"

#include <stdio.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ListBoxTexts(HWND listBox) {
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        char row[700];
        row[0] = 0;
        SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
        rows.push_back(row);
    }
    return rows;
}

// A region's size as the rows show it: right-aligned in a column that holds
// the largest region of the program's address space.
std::string Size(ULONGLONG size) {
    char text[24];
    sprintf(text, "%*llu", sizeof(void*) == 8 ? 15 : 10, size);
    return text;
}

std::string RowAt(const std::vector<std::string>& rows, ULONG_PTR address) {
    std::string start = AddressText(address) + "\t";
    for (const std::string& row : rows) {
        if (row.compare(0, start.size(), start) == 0) {
            return row;
        }
    }
    return "<none>";
}

std::string Text(const char* utf8) {
    return ToAnsi(utf8);
}

int snapshotsTaken;
int baseNamesRead;
HANDLE(WINAPI* realSnapshot)(DWORD, DWORD);
DWORD(WINAPI* realBaseName)(HANDLE, HMODULE, char*, DWORD);

HANDLE WINAPI CountingSnapshot(DWORD flags, DWORD processId) {
    snapshotsTaken++;
    return realSnapshot(flags, processId);
}

DWORD WINAPI CountingBaseName(HANDLE process, HMODULE module, char* buffer, DWORD size) {
    baseNamesRead++;
    return realBaseName(process, module, buffer, size);
}

class MemoryTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
        PreloadTitleTexts();
        SetRefreshTimer(0);
        memoryRefreshSeconds = 0;
        helper = StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=120000 --map=64");
        ASSERT_TRUE(helper.started);
        WaitForInputIdle(helper.info.hProcess, 20000);
        process = helper.info.hProcess;
        listBox = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 300, 300, nullptr, nullptr,
                                  nullptr, nullptr);
        totals =
            CreateWindowExA(0, "STATIC", "", 0, 0, 0, 300, 20, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        DestroyWindow(listBox);
        DestroyWindow(totals);
        EndChild(helper);
        ListFixture::TearDown();
        memoryRefreshSeconds = 1;
    }
    ULONG_PTR Allocate(DWORD size, DWORD type, DWORD protect, ULONG_PTR at = 0) {
        void* address = VirtualAllocEx(process, reinterpret_cast<void*>(at), size, type, protect);
        EXPECT_NE(address, nullptr) << std::hex << protect;
        return reinterpret_cast<ULONG_PTR>(address);
    }
    std::vector<std::string> Walk() {
        WalkMemory(listBox, totals, helper.info.dwProcessId);
        return ListBoxTexts(listBox);
    }
    std::string TotalsText() {
        char text[300];
        GetWindowTextA(totals, text, sizeof text);
        return text;
    }
    // The totals from a walk of this test's own.
    std::string ExpectedTotals() {
        unsigned long long sums[3] = {0, 0, 0};
        MEMORY_BASIC_INFORMATION region;
        for (ULONG_PTR address = 0; VirtualQueryEx(process, reinterpret_cast<void*>(address),
                                                   &region, sizeof region) == sizeof region;) {
            if (region.State == MEM_COMMIT) {
                int index = region.Type == MEM_PRIVATE ? 0 : region.Type == MEM_MAPPED ? 1 : 2;
                sums[index] += region.RegionSize;
            }
            address = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
            if (address == 0) {
                break;
            }
        }
        char text[300];
        sprintf(text, "%s: %llu K, %s: %llu K, %s: %llu K", Text("独占").c_str(),
                (sums[0] + 1023) / 1024, Text("映射").c_str(), (sums[1] + 1023) / 1024,
                Text("映像").c_str(), (sums[2] + 1023) / 1024);
        return text;
    }
    Child helper;
    HANDLE process;
    HWND listBox;
    HWND totals;
};

TEST_F(MemoryTest, ArrangedRegionsShowTheirExactRows) {
    ULONG_PTR reserved = Allocate(0x10000, MEM_RESERVE, PAGE_READWRITE);
    ULONG_PTR block = Allocate(0x10000, MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    Allocate(0x1000, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD, block);
    Allocate(0x1000, MEM_COMMIT, PAGE_READONLY, block + 0x3000);
    std::vector<std::string> rows = Walk();

    auto expected = [](ULONG_PTR base, ULONG_PTR allocation, const char* allocationProtect,
                       ULONGLONG size, const char* state, const char* protect) {
        return AddressText(base) + "\t" + AddressText(allocation) + "\t" + Text(allocationProtect) +
               "\t" + Size(size) + "\t" + Text(state) + "\t" + Text(protect) + "\t" + Text("独占");
    };
    EXPECT_EQ(RowAt(rows, reserved), expected(reserved, reserved, "可读写", 65536, "保留", "无"));
    EXPECT_EQ(RowAt(rows, block), expected(block, block, "执行读写", 4096, "托管", "R/W 保护"));
    // This Wine keeps no no-cache flag; a combination the table lacks shows
    // its value in parentheses.
    MEMORY_BASIC_INFORMATION crafted = {};
    crafted.BaseAddress = reinterpret_cast<void*>(0x00501000);
    crafted.AllocationBase = reinterpret_cast<void*>(0x00500000);
    crafted.AllocationProtect = PAGE_NOCACHE;
    crafted.RegionSize = 0x2000;
    crafted.State = MEM_COMMIT;
    crafted.Protect = PAGE_READWRITE | PAGE_NOCACHE;
    crafted.Type = 0x30000;
    char craftedRow[REGION_ROW_SIZE];
    FormatRegionRow(&crafted, craftedRow);
    EXPECT_EQ(std::string(craftedRow), AddressText(0x501000) + "\t" + AddressText(0x500000) + "\t" +
                                           Text("无缓存") + "\t" + Size(8192) + "\t" +
                                           Text("托管") + "\t(204)\t(30000)");
    // Reserved between two committed pages: its protection does not apply.
    EXPECT_EQ(RowAt(rows, block + 0x1000),
              expected(block + 0x1000, block, "执行读写", 8192, "保留", "无"));
    EXPECT_EQ(RowAt(rows, block + 0x3000),
              expected(block + 0x3000, block, "执行读写", 4096, "托管", "只读"));

    // Free regions, the mapped view, and the executable's image regions.
    int freeRows = 0, mappedRows = 0, imageRows = 0;
    std::string none = Text("无");
    std::string freeCells = "\t" + none + "\t" + none + "\t";
    for (const std::string& row : rows) {
        if (row.find("\t" + Text("空闲") + "\t") != std::string::npos) {
            freeRows++;
            EXPECT_EQ(row.substr(ADDRESS_DIGITS, freeCells.size()), freeCells) << row;
            EXPECT_EQ(row.substr(row.size() - 2 * none.size() - 1), none + "\t" + none) << row;
        }
        if (row.find("\t" + Text("映射")) != std::string::npos) {
            mappedRows++;
        }
        if (row.find("\t" + Text("映像") + "\ttvhelper.exe") != std::string::npos) {
            imageRows++;
        }
    }
    EXPECT_GT(freeRows, 0);
    EXPECT_GT(mappedRows, 0);
    EXPECT_GT(imageRows, 1);
    EXPECT_EQ(TotalsText(), ExpectedTotals());
}

TEST_F(MemoryTest, OneModuleListingNamesEveryImageRegion) {
    realSnapshot = toolhelpApi.createToolhelp32Snapshot;
    realBaseName = ntApi.getModuleBaseNameA;
    toolhelpApi.createToolhelp32Snapshot = CountingSnapshot;
    ntApi.getModuleBaseNameA = CountingBaseName;
    snapshotsTaken = baseNamesRead = 0;
    std::vector<std::string> rows = Walk();
    toolhelpApi.createToolhelp32Snapshot = realSnapshot;
    EXPECT_EQ(snapshotsTaken, 1);
    EXPECT_EQ(baseNamesRead, 0);
    int named = 0;
    for (const std::string& row : rows) {
        named += row.find("\t" + Text("映像") + "\t") != std::string::npos;
    }
    EXPECT_GT(named, 10);
}

TEST_F(MemoryTest, TimerRefillsOnlyWhenATotalChangesAndF5AtOnce) {
    DWORD page = Allocate(0x1000, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_TRUE(PumpUntil(
        [&] {
            RefreshProcessList();
            return SelectProcessById(helper.info.dwProcessId) == 1;
        },
        20000));
    std::string caption, rowBefore, rowAfterTick, rowAfterF5, rowAfterCommit, totalsShown;
    ASSERT_TRUE(WithDialog(
        [] { SendMessageA(mainWindow, WM_COMMAND, IDM_MEMORY, 0); },
        [&](HWND dialog) {
            char text[300];
            GetWindowTextA(dialog, text, sizeof text);
            caption = text;
            GetDlgItemTextA(dialog, IDC_MEMORY_TOTAL, text, sizeof text);
            totalsShown = text;
            HWND list = GetDlgItem(dialog, IDC_MEMORY_LIST);
            rowBefore = RowAt(ListBoxTexts(list), page);
            // A protection change leaves every total as it was.
            DWORD old;
            VirtualProtectEx(process, reinterpret_cast<void*>(page), 0x1000, PAGE_READONLY, &old);
            SendMessageA(dialog, WM_TIMER, REFRESH_TIMER_ID, 0);
            rowAfterTick = RowAt(ListBoxTexts(list), page);
            SendMessageA(dialog, WM_VKEYTOITEM, VK_F5, reinterpret_cast<LPARAM>(list));
            rowAfterF5 = RowAt(ListBoxTexts(list), page);
            // A new committed page changes the private total.
            DWORD added = Allocate(0x3000, MEM_COMMIT, PAGE_READWRITE);
            SendMessageA(dialog, WM_TIMER, REFRESH_TIMER_ID, 0);
            rowAfterCommit = RowAt(ListBoxTexts(list), added);
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }));
    EXPECT_EQ(caption, Text("内存 -- ") + WithSelectedId("tvhelper.exe"));
    EXPECT_EQ(totalsShown.find(Text("独占") + ": "), 0u);
    EXPECT_NE(rowBefore.find(Text("可读写") + "\t" + Text("独占")), std::string::npos);
    EXPECT_EQ(rowAfterTick, rowBefore);
    EXPECT_NE(rowAfterF5.find(Text("只读") + "\t" + Text("独占")), std::string::npos);
    EXPECT_NE(rowAfterCommit, "<none>");
}

TEST_F(MemoryTest, EndedProcessGivesAnEmptyListAndKeepsTheTotals) {
    Walk();
    std::string shown = TotalsText();
    EndChild(helper);
    EXPECT_EQ(WalkMemory(listBox, totals, helper.info.dwProcessId), 0);
    EXPECT_EQ(SendMessageA(listBox, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(TotalsText(), shown);
}

} // namespace

namespace {

// The window resized by its corner as a user drags it: the header keeps
// its height and spans the window, the totals line stays at the bottom.
// The module names stand beyond the window's right edge: the list scrolls
// sideways to them, and the header with it.
TEST_F(MemoryTest, AResizeKeepsTheHeaderHeightAndTheTotalsAtTheBottom) {
    ASSERT_TRUE(PumpUntil(
        [&] {
            RefreshProcessList();
            return SelectProcessById(helper.info.dwProcessId) != 0;
        },
        5000));
    int heightBefore = 0, heightAfter = 0, totalsBottom = 0, clientBottom = 0;
    int headerRight = 0, clientRight = 0, extent = 0, scrolled = 0, headerLeft = 1;
    ASSERT_TRUE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_MEMORY, 0); },
                           [&](HWND dialog) {
                               RECT rect;
                               GetWindowRect(GetDlgItem(dialog, IDC_MEMORY_HEADER), &rect);
                               heightBefore = rect.bottom - rect.top;
                               // Narrower than the rows first.
                               GetWindowRect(dialog, &rect);
                               SetWindowPos(dialog, nullptr, 0, 0, 400, rect.bottom - rect.top,
                                            SWP_NOMOVE | SWP_NOZORDER);
                               HWND list = GetDlgItem(dialog, IDC_MEMORY_LIST);
                               HWND header = GetDlgItem(dialog, IDC_MEMORY_HEADER);
                               GetClientRect(list, &rect);
                               extent = static_cast<int>(
                                            SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0)) -
                                        rect.right;
                               SendMessageA(list, WM_HSCROLL, SB_PAGERIGHT, 0);
                               scrolled = GetScrollPos(list, SB_HORZ);
                               GetWindowRect(header, &rect);
                               MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
                               headerLeft = rect.left;
                               GetWindowRect(dialog, &rect);
                               const RECT before = rect;
                               Xdotool("mousemove " + std::to_string(rect.right - 3) + " " +
                                       std::to_string(rect.bottom - 3) +
                                       " mousedown 1 mousemove_relative 60 50 mouseup 1");
                               // xdotool may be done before the window has
                               // taken in the drag.
                               PumpUntil(
                                   [&] {
                                       RECT now;
                                       GetWindowRect(dialog, &now);
                                       return now.bottom >= before.bottom + 50;
                                   },
                                   5000);
                               GetWindowRect(GetDlgItem(dialog, IDC_MEMORY_HEADER), &rect);
                               heightAfter = rect.bottom - rect.top;
                               GetWindowRect(GetDlgItem(dialog, IDC_MEMORY_TOTAL), &rect);
                               MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
                               totalsBottom = rect.bottom;
                               GetClientRect(dialog, &rect);
                               clientBottom = rect.bottom;
                               clientRight = rect.right;
                               GetWindowRect(header, &rect);
                               MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
                               headerRight = rect.right;
                               PostMessageA(dialog, WM_CLOSE, 0, 0);
                           }));
    EXPECT_GT(heightBefore, 0);
    EXPECT_EQ(heightAfter, heightBefore);
    EXPECT_GT(clientBottom, 200) << "the drag was taken in";
    EXPECT_EQ(totalsBottom, clientBottom);
    EXPECT_EQ(headerRight, clientRight);
    EXPECT_GT(extent, 0) << "the rows are wider than the list";
    EXPECT_GT(scrolled, 0);
    EXPECT_EQ(headerLeft, -scrolled);
}

} // namespace
