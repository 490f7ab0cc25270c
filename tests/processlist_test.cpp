// The main process list through the real list view: merging, highlights,
// stale rows, sorting, cell texts, command enabling and the status text.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/privileges.h"
#include "testutil.h"
#include "views/listfilter.h"

#include <commctrl.h>
#include <string.h>

#include <algorithm>

namespace {

class ProcessListTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
    }
    static void Merge(const ProcessEntry& entry) {
        EXPECT_EQ(MergeEntry(listWindow, &entry), 1);
    }
    // One pass by hand: clear the marks, merge, remove stale rows.
    static void Pass(const std::vector<ProcessEntry>& entries) {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            node->flags &= ~NODE_SEEN;
        }
        for (const ProcessEntry& entry : entries) {
            Merge(entry);
        }
        RemoveStaleRows(listWindow, 0);
    }
    static void ExpireNow() {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            node->markTime = 0;
        }
        ExpireHighlights();
    }
    static HDITEMA HeaderItem(int column) {
        HWND header = reinterpret_cast<HWND>(SendMessageA(listWindow, LVM_GETHEADER, 0, 0));
        HDITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = HDI_FORMAT | HDI_BITMAP;
        SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item));
        return item;
    }
};

TEST_F(ProcessListTest, NewRowsGoToTheirSortedPlaceEqualKeysAfter) {
    Merge(MakeEntry(10, "b.exe"));
    Merge(MakeEntry(20, "A.exe"));
    Merge(MakeEntry(5, "c.exe"));
    Merge(MakeEntry(7, "b.exe"));
    // Names ignore case; equal names sort by id.
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{20, 7, 10, 5}));

    // By priority, equal keys (class and name) go after the rows already there.
    ClickHeader(2);
    ClearProcessList(listWindow);
    Merge(MakeEntry(3, "same.exe", 32));
    Merge(MakeEntry(1, "same.exe", 32));
    Merge(MakeEntry(2, "same.exe", 32));
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{3, 1, 2}));
}

TEST_F(ProcessListTest, RowLifeCycleNewExpiredPlainGoneDeleted) {
    ProcessEntry entry = MakeEntry(42, "life.exe");
    Pass({entry});
    ProcessNode* node = FindNode(42, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->flags & (NODE_NEW | NODE_GONE | NODE_EXPIRED), static_cast<DWORD>(NODE_NEW));

    // Highlights end only after their time.
    ExpireHighlights();
    EXPECT_TRUE(node->flags & NODE_NEW);
    ExpireNow();
    EXPECT_EQ(node->flags & (NODE_NEW | NODE_EXPIRED), static_cast<DWORD>(NODE_EXPIRED));
    Pass({entry});
    EXPECT_EQ(node->flags & (NODE_NEW | NODE_GONE | NODE_EXPIRED), 0u);

    // Missed once: still there, marked gone.
    Pass({});
    ASSERT_EQ(RowOf(42), 0);
    EXPECT_TRUE(node->flags & NODE_GONE);
    // Missed again before expiry: kept.
    Pass({});
    EXPECT_EQ(RowOf(42), 0);
    ExpireNow();
    Pass({});
    EXPECT_EQ(RowOf(42), -1);
    EXPECT_EQ(FindNode(42, KIND_WIN32), nullptr);
}

TEST_F(ProcessListTest, GoneProcessReportedAgainKeepsItsRowAndTurnsPlain) {
    ProcessEntry entry = MakeEntry(42, "back.exe");
    Pass({entry});
    ExpireNow();
    Pass({entry});
    Pass({});
    ProcessNode* node = FindNode(42, KIND_WIN32);
    ASSERT_TRUE(node->flags & NODE_GONE);
    Pass({entry});
    EXPECT_EQ(RowOf(42), 0);
    ExpireNow();
    Pass({entry});
    EXPECT_EQ(FindNode(42, KIND_WIN32), node);
    EXPECT_EQ(node->flags & (NODE_NEW | NODE_GONE | NODE_EXPIRED), 0u);
}

TEST_F(ProcessListTest, NewNodeThatExpiresUnreportedIsDeletedWithoutGonePhase) {
    Pass({MakeEntry(9, "brief.exe")});
    ExpireNow();
    Pass({});
    EXPECT_EQ(RowOf(9), -1);
}

TEST_F(ProcessListTest, OnlyAChangedRowIsRedrawnAndUnchangedPassesAskForNoText) {
    std::vector<ProcessEntry> entries = {MakeEntry(1, "a.exe"), MakeEntry(2, "b.exe"),
                                         MakeEntry(3, "c.exe")};
    Pass(entries);
    ExpireNow();
    Pass(entries);
    Paint();
    ResetCounters();

    Pass(entries);
    Paint();
    EXPECT_EQ(listCounters.cellRequests, 0);
    // Nor does a slice that finds nothing left to do.
    ReadWaitingRows(listWindow);
    Paint();
    EXPECT_EQ(listCounters.cellRequests, 0);

    // Priority class, thread count or affinity changed: that row only.
    for (int change = 0; change < 3; change++) {
        ProcessEntry& changed = entries[1];
        if (change == 0) {
            changed.priorityClass = HIGH_PRIORITY_CLASS;
        } else if (change == 1) {
            changed.threadCount = 5;
        } else {
            changed.affinityMask = 1;
        }
        ResetCounters();
        Pass(entries);
        Paint();
        EXPECT_GT(listCounters.cellRequests, 0) << change;
        for (int row : listCounters.requestedRows) {
            EXPECT_EQ(row, 1) << change;
        }
    }
    EXPECT_EQ(CellText(1, 2), ToAnsi("高"));
    // Name, path and parent of a known process are never taken over.
    ProcessEntry renamed = entries[2];
    strcpy(renamed.name, "other.exe");
    renamed.parentProcessId = 77;
    renamed.priorityClass = IDLE_PRIORITY_CLASS;
    Pass({entries[0], entries[1], renamed});
    EXPECT_EQ(CellText(2, 0), "c.exe");
    EXPECT_EQ(FindNode(3, KIND_WIN32)->parentProcessId, 0u);
}

TEST_F(ProcessListTest, NoAccessEntriesGetTheirRowOnceReadableAndGoWhenUnreported) {
    ProcessEntry first = MakeEntry(10, "a.exe");
    ProcessEntry last = MakeEntry(60, "z.exe");
    ProcessEntry hidden = MakeEntry(50, "[x]");
    hidden.flags = ENTRY_NO_ACCESS;
    Pass({first, hidden, last});
    Pass({first, hidden, last});
    ProcessNode* node = FindNode(50, KIND_WIN32);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(RowOf(50), -1);

    // Readable now (still starting before, or a new process on the id): a
    // normal row at its sorted place, highlighted as new.
    ExpireNow();
    ProcessEntry visible = MakeEntry(50, "now.exe", HIGH_PRIORITY_CLASS, KIND_WIN32, 7);
    Pass({first, visible, last});
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{10, 50, 60}));
    EXPECT_EQ(FindNode(50, KIND_WIN32), node);
    EXPECT_EQ(node->flags & (ENTRY_NO_ACCESS | NODE_NEW | NODE_EXPIRED),
              static_cast<DWORD>(NODE_NEW));
    EXPECT_EQ(CellText(1, 0), "now.exe");
    EXPECT_EQ(CellText(1, 2), ToAnsi("高"));
    EXPECT_EQ(node->parentProcessId, 7u);

    // A node without a row goes once a pass misses it.
    ProcessEntry other = MakeEntry(51, "[y]");
    other.flags = ENTRY_NO_ACCESS;
    Pass({other});
    ASSERT_NE(FindNode(51, KIND_WIN32), nullptr);
    RefreshPass(listWindow);
    EXPECT_EQ(FindNode(51, KIND_WIN32), nullptr);
}

TEST_F(ProcessListTest, HeaderClicksSortBothWaysAndMoveTheArrow) {
    Merge(MakeEntry(3, "b.exe", NORMAL_PRIORITY_CLASS));
    Merge(MakeEntry(1, "c.exe", IDLE_PRIORITY_CLASS));
    Merge(MakeEntry(2, "a.exe", HIGH_PRIORITY_CLASS));
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{2, 3, 1}));
    HDITEMA name = HeaderItem(0);
    EXPECT_TRUE(name.fmt & HDF_BITMAP);

    // The first click on the name column reverses it.
    ClickHeader(0);
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{1, 3, 2}));
    EXPECT_EQ(sortDirection, -1);
    HBITMAP descending = HeaderItem(0).hbm;

    // Another column always starts ascending; the arrow moves.
    ClickHeader(1);
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{1, 2, 3}));
    EXPECT_FALSE(HeaderItem(0).fmt & HDF_BITMAP);
    HDITEMA id = HeaderItem(1);
    EXPECT_TRUE(id.fmt & HDF_BITMAP);
    EXPECT_NE(id.hbm, descending);
    ClickHeader(1);
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{3, 2, 1}));
    EXPECT_EQ(HeaderItem(1).hbm, descending);

    // New rows are inserted in the current order.
    Merge(MakeEntry(4, "d.exe"));
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{4, 3, 2, 1}));
}

TEST_F(ProcessListTest, PriorityClassesSortByTheirRawValuesThenByName) {
    const DWORD classes[] = {ABOVE_NORMAL_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS,
                             REALTIME_PRIORITY_CLASS,     HIGH_PRIORITY_CLASS,
                             IDLE_PRIORITY_CLASS,         NORMAL_PRIORITY_CLASS};
    for (DWORD i = 0; i < 6; i++) {
        Merge(MakeEntry(i + 1, "p.exe", classes[i]));
    }
    Merge(MakeEntry(7, "a.exe", NORMAL_PRIORITY_CLASS));
    ClickHeader(2);
    // normal (a, p) < idle < high < real time < below normal < above normal
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{7, 6, 5, 4, 3, 2, 1}));
}

TEST_F(ProcessListTest, WowTasksSortBesideTheirNtvdm) {
    Merge(MakeEntry(100, "ntvdm.exe"));
    Merge(MakeEntry(5, "  zz.exe", 0, KIND_WOW_TASK, 100));
    Merge(MakeEntry(6, "  aa.exe", 0, KIND_WOW_TASK, 100));
    Merge(MakeEntry(1, "a.exe"));
    Merge(MakeEntry(2, "z.exe"));
    // Orphan task: its NTVDM is not listed, so it compares equal to everything.
    Merge(MakeEntry(8, "  orphan.exe", 0, KIND_WOW_TASK, 999));
    for (int column : {0, 1, 2, 3}) {
        ClickHeader(column);
        std::vector<DWORD> ids = RowIds();
        int ntvdm = RowOf(100);
        int first = RowOf(5, KIND_WOW_TASK);
        int second = RowOf(6, KIND_WOW_TASK);
        // The NTVDM and its two tasks stand together.
        int low = std::min(ntvdm, std::min(first, second));
        int high = std::max(ntvdm, std::max(first, second));
        EXPECT_EQ(high - low, 2) << "column " << column;
    }
    // Tasks of one NTVDM compare with each other: by name here.
    ClickHeader(0);
    if (sortDirection < 0) {
        ClickHeader(0);
    }
    EXPECT_LT(RowOf(6, KIND_WOW_TASK), RowOf(5, KIND_WOW_TASK));
}

TEST_F(ProcessListTest, NtCellTexts) {
    ProcessEntry entry = MakeEntry(300, "cells.exe", BELOW_NORMAL_PRIORITY_CLASS);
    Merge(entry);
    Merge(MakeEntry(301, "unknown.exe", 0));
    Merge(MakeEntry(302, "  task.exe", 0, KIND_WOW_TASK, 300, "C:\\W\\TASK.EXE"));
    int row = RowOf(300);
    EXPECT_EQ(CellText(row, 0), "cells.exe");
    EXPECT_EQ(CellText(row, 1), "300");
    EXPECT_EQ(CellText(row, 2), ToAnsi("低于普通"));
    EXPECT_EQ(CellText(row, 3), "C:\\bin\\x.exe");
    EXPECT_EQ(CellText(RowOf(301), 2), "-");
    EXPECT_EQ(CellText(RowOf(302, KIND_WOW_TASK), 1), "(302)");

    // Hexadecimal ids: lower case, no prefix; tasks keep their parentheses.
    SendMessageA(mainWindow, WM_COMMAND, IDM_HEX_IDS, 0);
    EXPECT_EQ(hexProcessId, 1);
    EXPECT_EQ(CellText(RowOf(300), 1), "12c");
    EXPECT_EQ(CellText(RowOf(302, KIND_WOW_TASK), 1), "(12e)");
}

TEST_F(ProcessListTest, AffinitySuffixOnlyWhenItDiffersFromTheSystemMask) {
    DWORD savedCount = processorCount;
    DWORD_PTR savedMask = systemAffinityMask;
    processorCount = 4;
    systemAffinityMask = 0xF;
    ProcessEntry limited = MakeEntry(1, "limited.exe", NORMAL_PRIORITY_CLASS);
    limited.affinityMask = 3;
    ProcessEntry all = MakeEntry(2, "all.exe", NORMAL_PRIORITY_CLASS);
    all.affinityMask = 0xF;
    ProcessEntry unknown = MakeEntry(3, "unknown.exe", 0);
    unknown.affinityMask = 1;
    Merge(limited);
    Merge(all);
    // The whole mask at the program's width: processors 32 to 47 where it is 64 bits.
    const bool wide = sizeof(DWORD_PTR) == 8;
    ProcessEntry high = MakeEntry(4, "high.exe", NORMAL_PRIORITY_CLASS);
    high.affinityMask = static_cast<DWORD_PTR>(wide ? 0xFFFF00000000ULL : 0x80000001ULL);
    Merge(unknown);
    Merge(high);
    EXPECT_EQ(CellText(RowOf(1), 2), ToAnsi("普通") + ",0x3");
    EXPECT_EQ(CellText(RowOf(4), 2), ToAnsi("普通") + (wide ? ",0xffff00000000" : ",0x80000001"));
    EXPECT_EQ(CellText(RowOf(2), 2), ToAnsi("普通"));
    EXPECT_EQ(CellText(RowOf(3), 2), "-,0x1");
    processorCount = 1;
    systemAffinityMask = 1;
    ListView_RedrawItems(listWindow, 0, 2);
    EXPECT_EQ(CellText(RowOf(1), 2), ToAnsi("普通"));
    processorCount = savedCount;
    systemAffinityMask = savedMask;
}

// The filter box: a row for each process whose name, path or id as shown
// holds the text, letters in either case, double-byte characters whole.
TEST_F(ProcessListTest, TheFilterBoxShowsTheProcessesThatHoldItsText) {
    Merge(MakeEntry(1000, "chrome.exe", 32, KIND_WIN32, 0, "C:\\Apps\\chrome.exe"));
    Merge(MakeEntry(4660, "Build.EXE", 32, KIND_WIN32, 0, "D:\\src\\Build.EXE"));
    Merge(MakeEntry(77, ToAnsi("表格.exe").c_str(), 32, KIND_WIN32, 0, "C:\\w\\t.exe"));
    // "表" is B1 ED, here the end of one character and the start of the next;
    // 81 41 ends in the byte of "A".
    Merge(MakeEntry(78, "\x81\xB1\xED\x40\x81\x41.exe", 32, KIND_WIN32, 0, "C:\\w\\t.exe"));
    SelectProcessById(1000);
    const struct {
        const char* text;
        int hex;
        std::vector<DWORD> shown; // in the list's order
    } cases[] = {
        {"CHROME", 0, {1000}}, {"apps\\", 0, {1000}},
        {"466", 0, {4660}},    {"123", 1, {4660}},
        {"4d", 1, {77}},       {"表", 0, {77}},
        {"a", 0, {1000}},      {"", 0, {4660, 1000, 77, 78}},
        {"nothing", 0, {}},
    };
    for (const auto& c : cases) {
        if (hexProcessId != c.hex) {
            SendMessageA(mainWindow, WM_COMMAND, IDM_HEX_IDS, 0);
        }
        SetWindowTextA(filterBox, ToAnsi(c.text).c_str());
        EXPECT_EQ(RowIds(), c.shown) << c.text;
    }
    // Set while processes start: one that holds the text gets its row,
    // highlighted; one that does not, none until the text is cleared.
    SetWindowTextA(filterBox, "chrome");
    Merge(MakeEntry(2000, "chrome_new.exe"));
    Merge(MakeEntry(2001, "other.exe"));
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{1000, 2000}));
    EXPECT_TRUE(FindNode(2000, KIND_WIN32)->flags & NODE_NEW);
    UpdateStatusText(nullptr);
    EXPECT_EQ(WindowText(statusWindow), ToAnsi("显示 2 / 共 6 个进程"));
    // The row selected before the filter took it away is selected again.
    SetWindowTextA(filterBox, "");
    EXPECT_EQ(RowIds(), (std::vector<DWORD>{4660, 1000, 2000, 2001, 77, 78}));
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), 1000u);
    // The box never covers a toolbar button; a wide window gives it its
    // whole width.
    for (int width : {500, 900}) {
        SetWindowPos(mainWindow, nullptr, 0, 0, width, 400, SWP_NOMOVE | SWP_NOZORDER);
        RECT box, button;
        GetWindowRect(filterBox, &box);
        MapWindowPoints(nullptr, toolbarWindow, reinterpret_cast<POINT*>(&box), 2);
        int buttons = static_cast<int>(SendMessageA(toolbarWindow, TB_BUTTONCOUNT, 0, 0));
        SendMessageA(toolbarWindow, TB_GETITEMRECT, buttons - 1, reinterpret_cast<LPARAM>(&button));
        EXPECT_GT(box.left, button.right) << width;
        if (width == 900) {
            EXPECT_EQ(box.right - box.left, static_cast<LONG>(FILTER_BOX_WIDTH));
        }
    }
}

TEST_F(ProcessListTest, HexToggleRewritesOnlyTheIdColumn) {
    for (DWORD id = 1; id <= 5; id++) {
        Merge(MakeEntry(id, "p.exe"));
    }
    std::vector<DWORD> order = RowIds();
    Paint();
    ResetCounters();
    SendMessageA(mainWindow, WM_COMMAND, IDM_HEX_IDS, 0);
    Paint();
    // Every row's id is formatted again; priority and path are not asked for
    // (the list view may ask for the name while it repaints a row's focus).
    int idRequests = 0;
    for (int column : listCounters.requestedColumns) {
        EXPECT_LE(column, 1);
        idRequests += column == 1;
    }
    EXPECT_GE(idRequests, 5);
    EXPECT_EQ(RowIds(), order);
}

class Family95ListTest : public ProcessListTest {
  protected:
    void SetUp() override {
        // The resource columns stored on: the family has no figures for them.
        resourceColumns = 1;
        CreateMainWindowFor(0);
    }
};

TEST_F(Family95ListTest, SixColumnsWithThreadsTypeAndBasePriority) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(listWindow, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 6);
    EXPECT_TRUE(Grayed(IDM_RESOURCE_COLUMNS));
    ProcessEntry win32 = MakeEntry(0x10, "kernel32.exe", NORMAL_PRIORITY_CLASS);
    win32.basePriority = 8;
    win32.threadCount = 12;
    ProcessEntry win16 = MakeEntry(0x20, "WIN16APP", 0, KIND_WIN16);
    win16.basePriority = 8;
    ProcessEntry bare = MakeEntry(0x30, "bare.exe", 0);
    MergeEntry(listWindow, &win32);
    MergeEntry(listWindow, &win16);
    MergeEntry(listWindow, &bare);
    int row = RowOf(0x10);
    EXPECT_EQ(CellText(row, 2), "8  (" + ToAnsi("普通") + ")");
    EXPECT_EQ(CellText(row, 3), "12");
    EXPECT_EQ(CellText(row, 4), "32-Bit");
    EXPECT_EQ(CellText(row, 5), "C:\\bin\\x.exe");
    EXPECT_EQ(CellText(RowOf(0x20, KIND_WIN16), 2), "8  ()");
    EXPECT_EQ(CellText(RowOf(0x20, KIND_WIN16), 4), "16-Bit");
    EXPECT_EQ(CellText(RowOf(0x30), 2), "-");
    // Sorting by threads, then type.
    ClickHeader(3);
    EXPECT_EQ(RowIds().back(), 0x10u);
    ClickHeader(4);
    EXPECT_EQ(RowIds().back(), 0x20u);
}

TEST_F(Family95ListTest, SixteenBitProcessEnablesEverythingButDebug) {
    DWORD savedCount = processorCount;
    processorCount = 2;
    ProcessEntry win16 = MakeEntry(0x20, "W16", 0, KIND_WIN16);
    MergeEntry(listWindow, &win16);
    ASSERT_TRUE(SelectProcessById(0x20));
    for (UINT id : {IDM_THREADS, IDM_MODULES, IDM_MEMORY, IDM_PRIORITY, IDM_HEAPS, IDM_VERSION,
                    IDM_STARTUP_INFO, IDM_COPY_PATH, IDM_SWITCH_TO, IDM_BRING_TO_FRONT,
                    IDM_TERMINATE, IDM_AFFINITY}) {
        EXPECT_FALSE(Grayed(id)) << id;
    }
    EXPECT_TRUE(Grayed(IDM_DEBUG));
    processorCount = savedCount;
}

TEST_F(ProcessListTest, CommandStatesFollowTheSelectedKind) {
    DWORD savedCount = processorCount;
    processorCount = 2;
    Merge(MakeEntry(100, "ntvdm.exe"));
    Merge(MakeEntry(5, "  task.exe", 0, KIND_WOW_TASK, 100));
    Merge(MakeEntry(GetCurrentProcessId(), "self.exe"));

    ASSERT_TRUE(SelectProcessById(5));
    for (UINT id : {IDM_THREADS, IDM_MODULES, IDM_MEMORY, IDM_PRIORITY, IDM_STARTUP_INFO, IDM_DEBUG,
                    IDM_HEAPS}) {
        EXPECT_TRUE(Grayed(id)) << id;
    }
    for (UINT id : {IDM_SWITCH_TO, IDM_BRING_TO_FRONT, IDM_TERMINATE, IDM_VERSION, IDM_COPY_PATH,
                    IDM_AFFINITY}) {
        EXPECT_FALSE(Grayed(id)) << id;
    }
    // The toolbar follows the menu.
    EXPECT_FALSE(SendMessageA(toolbarWindow, TB_ISBUTTONENABLED, IDM_THREADS, 0));
    EXPECT_TRUE(SendMessageA(toolbarWindow, TB_ISBUTTONENABLED, IDM_TERMINATE, 0));

    ASSERT_TRUE(SelectProcessById(100));
    EXPECT_FALSE(Grayed(IDM_DEBUG));
    EXPECT_FALSE(Grayed(IDM_THREADS));
    EXPECT_TRUE(SendMessageA(toolbarWindow, TB_ISBUTTONENABLED, IDM_DEBUG, 0));

    // Never debug Tolvane itself.
    ASSERT_TRUE(SelectProcessById(GetCurrentProcessId()));
    EXPECT_TRUE(Grayed(IDM_DEBUG));
    EXPECT_FALSE(Grayed(IDM_MODULES));

    // Affinity needs more than one processor.
    processorCount = 1;
    ASSERT_TRUE(SelectProcessById(5));
    ASSERT_TRUE(SelectProcessById(100));
    EXPECT_TRUE(Grayed(IDM_AFFINITY));

    // An id given to a new process means the new one, not the retired row
    // of the one that had it before.
    ProcessEntry before = MakeEntry(4000, "a-before.exe");
    before.createTime = 1;
    ProcessEntry after = MakeEntry(4000, "z-after.exe");
    after.createTime = 2;
    Merge(before);
    Merge(after);
    ASSERT_TRUE(SelectProcessById(4000));
    ProcessNode* chosen =
        GetRowNode(static_cast<int>(SendMessageA(listWindow, LVM_GETNEXTITEM, -1, LVNI_SELECTED)));
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen->name, "z-after.exe");

    // An id without a row clears the selection and everything grays.
    EXPECT_FALSE(SelectProcessById(4242));
    EXPECT_EQ(SendMessageA(listWindow, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    EXPECT_TRUE(Grayed(IDM_TERMINATE));
    processorCount = savedCount;
}

TEST_F(ProcessListTest, AnotherProcessEndingLeavesTheSelectedRowsCommandsAlone) {
    ProcessEntry kept = MakeEntry(1, "kept.exe");
    ProcessEntry ending = MakeEntry(2, "ending.exe");
    Pass({kept, ending});
    ASSERT_TRUE(SelectProcessById(1));
    ASSERT_FALSE(Grayed(IDM_TERMINATE));
    Pass({kept});
    EXPECT_TRUE(FindNode(2, KIND_WIN32)->flags & NODE_GONE);
    EXPECT_FALSE(Grayed(IDM_TERMINATE));

    // The selected row itself going grays them.
    Pass({MakeEntry(3, "x.exe")});
    EXPECT_TRUE(Grayed(IDM_TERMINATE));
}

TEST_F(ProcessListTest, StatusTextCountsRowsOrDescribesTheSelection) {
    Merge(MakeEntry(1, "a.exe"));
    Merge(MakeEntry(GetCurrentProcessId(), "plain.exe", 32, KIND_WIN32, 0, "C:\\no\\such.exe"));
    UpdateStatusText(nullptr);
    char text[300];
    GetWindowTextA(statusWindow, text, sizeof text);
    EXPECT_EQ(std::string(text), "2 " + ToAnsi("个进程"));

    // A file without version information: the process name.
    SelectProcessById(GetCurrentProcessId());
    GetWindowTextA(statusWindow, text, sizeof text);
    EXPECT_STREQ(text, "plain.exe");

    // The helper program carries a version resource.
    std::string helper = BinPath("tvhelper.exe");
    Merge(MakeEntry(77, "tvhelper.exe", 32, KIND_WIN32, 0, helper.c_str()));
    SelectProcessById(77);
    GetWindowTextA(statusWindow, text, sizeof text);
    EXPECT_STREQ(text, "Tolvane test helper 2.5.  ");

    // No selection any more: the count again.
    SelectProcessById(4242);
    GetWindowTextA(statusWindow, text, sizeof text);
    EXPECT_EQ(std::string(text), "3 " + ToAnsi("个进程"));
}

TEST_F(ProcessListTest, SelectedProcessCopiesAreAlwaysTerminated) {
    std::string longName(250, 'n');
    Merge(MakeEntry(1, longName.c_str(), 32, KIND_WIN32, 0, "C:\\p\\path.exe"));
    SelectProcessById(1);
    char buffer[288];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetSelectedProcess(listWindow, buffer, 260), 1u);
    EXPECT_STREQ(buffer, "C:\\p\\path.exe");
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetSelectedProcess(listWindow, buffer, -100), 1u);
    EXPECT_EQ(strlen(buffer), 99u);
    EXPECT_EQ(GetSelectedProcess(listWindow, nullptr, 0), 1u);
    SelectProcessById(9999);
    EXPECT_EQ(GetSelectedProcess(listWindow, buffer, 260), 0u);
}

TEST_F(ProcessListTest, ColoursOnlyWithColouringAndAPeriod) {
    colorize = 1;
    mainRefreshSeconds = 2;
    Merge(MakeEntry(1, "new.exe"));
    NMLVCUSTOMDRAW draw;
    memset(&draw, 0, sizeof draw);
    draw.nmcd.hdr.hwndFrom = listWindow;
    draw.nmcd.hdr.idFrom = IDC_LIST_MAIN;
    draw.nmcd.hdr.code = NM_CUSTOMDRAW;
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    auto send = [&] {
        return SendMessageA(mainWindow, WM_NOTIFY, IDC_LIST_MAIN, reinterpret_cast<LPARAM>(&draw));
    };
    EXPECT_EQ(send(), CDRF_NOTIFYITEMDRAW);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.nmcd.lItemlParam = reinterpret_cast<LPARAM>(FindNode(1, KIND_WIN32));
    EXPECT_EQ(send(), CDRF_NEWFONT);
    EXPECT_EQ(draw.clrTextBk, RGB(150, 255, 255));
    FindNode(1, KIND_WIN32)->flags = NODE_GONE | NODE_HAS_ROW;
    EXPECT_EQ(send(), CDRF_NEWFONT);
    EXPECT_EQ(draw.clrTextBk, RGB(255, 200, 200));

    // Without a period no colour, and no row is asked for; a suspended
    // process is grayed all the same.
    mainRefreshSeconds = 0;
    auto sendAt = [&](DWORD stage) { return draw.nmcd.dwDrawStage = stage, send(); };
    draw.clrTextBk = draw.clrText = 0;
    EXPECT_EQ(sendAt(CDDS_PREPAINT), CDRF_DODEFAULT);
    EXPECT_EQ(sendAt(CDDS_ITEMPREPAINT), CDRF_NEWFONT);
    EXPECT_EQ(draw.clrText, 0u);
    FindNode(1, KIND_WIN32)->suspendState = SUSPEND_ALL;
    EXPECT_EQ(sendAt(CDDS_PREPAINT), CDRF_NOTIFYITEMDRAW);
    EXPECT_EQ(sendAt(CDDS_ITEMPREPAINT), CDRF_NEWFONT);
    EXPECT_EQ(draw.clrText, GetSysColor(COLOR_GRAYTEXT));
    EXPECT_EQ(draw.clrTextBk, 0u);
}

TEST_F(ProcessListTest, ReloadStartsOverWithEveryRowNew) {
    ntApi = savedNtApi; // the real enumeration
    ReloadProcessList();
    CompleteProcessList(listWindow);
    int own = RowOf(GetCurrentProcessId());
    ASSERT_NE(own, -1);
    for (ProcessNode* node = processListHead; node; node = node->next) {
        if (node->flags & NODE_HAS_ROW) {
            EXPECT_TRUE(node->flags & NODE_NEW);
        }
    }
    // No hidden entry has a row.
    for (int row = 0; row < static_cast<int>(RowIds().size()); row++) {
        EXPECT_FALSE(GetRowNode(row)->flags & ENTRY_NO_ACCESS);
    }
    int sortedBy = sortColumn;
    ReloadProcessList();
    CompleteProcessList(listWindow);
    EXPECT_EQ(sortColumn, sortedBy);
    EXPECT_NE(RowOf(GetCurrentProcessId()), -1);
}

} // namespace

namespace {

// A Windows 95 system that reports these processes, played through the
// toolhelpApi table: each process's only module carries its name and path.
std::vector<ProcessEntry> played;
size_t playedNext;
DWORD playedModuleOwner;

HANDLE WINAPI PlayedSnapshot(DWORD, DWORD processId) {
    playedModuleOwner = processId;
    return CreateEventA(nullptr, TRUE, FALSE, nullptr); // the product closes it
}

BOOL WINAPI PlayedProcessNext(HANDLE, PROCESSENTRY32* process) {
    if (playedNext >= played.size()) {
        return FALSE;
    }
    const ProcessEntry& entry = played[playedNext++];
    memset(process, 0, sizeof *process);
    process->dwSize = sizeof *process;
    process->th32ProcessID = entry.processId;
    process->cntThreads = entry.threadCount ? entry.threadCount : 1;
    lstrcpynA(process->szExeFile, entry.name, sizeof process->szExeFile);
    return TRUE;
}

BOOL WINAPI PlayedProcessFirst(HANDLE snapshot, PROCESSENTRY32* process) {
    playedNext = 0;
    return PlayedProcessNext(snapshot, process);
}

BOOL WINAPI PlayedModuleFirst(HANDLE, MODULEENTRY32* module) {
    for (const ProcessEntry& entry : played) {
        if (entry.processId == playedModuleOwner) {
            memset(module, 0, sizeof *module);
            module->dwSize = sizeof *module;
            module->th32ProcessID = entry.processId;
            lstrcpynA(module->szModule, entry.name, sizeof module->szModule);
            lstrcpynA(module->szExePath, entry.path, sizeof module->szExePath);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI NoMoreModules(HANDLE, MODULEENTRY32*) {
    return FALSE;
}

const DWORD PLAYED_IDS = 0x7FFF0000; // no real process has these ids

// Real passes (RefreshPass, reloads) over played processes, in a list long
// enough to scroll.
class ListViewKeepingTest : public ListFixture {
  protected:
    void SetUp() override {
        // The first test of the program loads the back-end's tables: the
        // fakes go in after that.
        PrepareProgramClasses();
        savedToolhelp = toolhelpApi;
        toolhelpApi.createToolhelp32Snapshot = PlayedSnapshot;
        toolhelpApi.process32First = PlayedProcessFirst;
        toolhelpApi.process32Next = PlayedProcessNext;
        toolhelpApi.module32First = PlayedModuleFirst;
        toolhelpApi.module32Next = NoMoreModules;
        played.clear();
        CreateMainWindowFor(0);
    }
    void TearDown() override {
        ListFixture::TearDown();
        toolhelpApi = savedToolhelp;
    }
    static void Play(const char* format, int first, int count) {
        for (int i = first; i < first + count; i++) {
            char name[32];
            wsprintfA(name, format, i);
            played.push_back(MakeEntry(PLAYED_IDS + static_cast<DWORD>(played.size()), name));
        }
    }
    // Every row plain, as between timer ticks.
    static void Settle() {
        RefreshPass(listWindow);
        for (ProcessNode* node = processListHead; node; node = node->next) {
            node->markTime = 0;
        }
        ExpireHighlights();
        RefreshPass(listWindow);
    }
    static int TopRow() {
        return static_cast<int>(SendMessageA(listWindow, LVM_GETTOPINDEX, 0, 0));
    }
    static int SelectedRow() {
        return static_cast<int>(SendMessageA(listWindow, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    }
    static DWORD IdAt(int row) {
        ProcessNode* node = GetRowNode(row);
        return node ? node->processId : 0;
    }
    static int RowTop(int row) {
        RECT rect;
        rect.left = LVIR_BOUNDS;
        SendMessageA(listWindow, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
        return rect.top;
    }
    static bool InView(int row) {
        int perPage = static_cast<int>(SendMessageA(listWindow, LVM_GETCOUNTPERPAGE, 0, 0));
        return row >= TopRow() && row < TopRow() + perPage;
    }
    static void ScrollTo(int row) {
        SendMessageA(listWindow, LVM_SCROLL, 0, (row - TopRow()) * (RowTop(1) - RowTop(0)));
        ASSERT_EQ(TopRow(), row);
    }
    ToolhelpApi savedToolhelp;
};

TEST_F(ListViewKeepingTest, RowsComingAndGoingAboveTheViewLeaveItWhereItWas) {
    Play("m%03d.exe", 0, 120);
    Settle();
    ASSERT_NO_FATAL_FAILURE(ScrollTo(50));
    ASSERT_TRUE(SelectProcessById(IdAt(55)));
    DWORD topId = IdAt(50);
    DWORD selectedId = IdAt(55);
    int selectedTop = RowTop(55);
    std::vector<ProcessEntry> before = played;

    // 5 rows above the view, then a burst of 40 more: the rows in view stay.
    for (int count : {5, 40}) {
        Play("a%03d.exe", static_cast<int>(played.size()), count);
        ResetCounters();
        RefreshPass(listWindow);
        EXPECT_EQ(IdAt(TopRow()), topId) << count;
        ASSERT_NE(SelectedRow(), -1);
        EXPECT_EQ(IdAt(SelectedRow()), selectedId) << count;
        EXPECT_EQ(RowTop(SelectedRow()), selectedTop) << count;
        // The list draws again after the pass.
        Paint();
        EXPECT_GT(listCounters.cellRequests, 0) << count;
    }
    EXPECT_EQ(RowNames().front(), "a120.exe");

    // The 45 end: marked first, deleted at once when their marks run out.
    played = before;
    Settle();
    EXPECT_EQ(RowIds().size(), 120u);
    EXPECT_EQ(IdAt(TopRow()), topId);
    EXPECT_EQ(IdAt(SelectedRow()), selectedId);
    EXPECT_EQ(RowTop(SelectedRow()), selectedTop);

    // Rows below the view do not move it.
    Play("z%03d.exe", 0, 3);
    RefreshPass(listWindow);
    EXPECT_EQ(TopRow(), 50);
    EXPECT_EQ(IdAt(50), topId);
}

TEST_F(ListViewKeepingTest, ThousandsOfEndedRowsGoAcrossSlicesAndRunningOnesStay) {
    Play("m%04d.exe", 0, 2500);
    Settle();
    played.resize(10);
    std::vector<DWORD> running;
    for (const ProcessEntry& entry : played) {
        running.push_back(entry.processId);
    }
    Settle(); // marks 2490 rows gone, then deletes them
    EXPECT_GT(RowIds().size(), running.size()) << "deleted in more than one slice";
    // On a slow machine the slices also mark rows gone: their marks run out
    // on the refresh timer, as in the program.
    mainRefreshSeconds = 1;
    SetRefreshTimer(1);
    ASSERT_TRUE(PumpUntil([&] { return RowIds().size() == running.size(); }, 60000));
    std::vector<DWORD> shown = RowIds();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, running);
}

TEST_F(ListViewKeepingTest, SelectedRowDoesNotSlideOutOfViewAtTheTop) {
    Play("m%03d.exe", 0, 60);
    Settle();
    ASSERT_EQ(TopRow(), 0);
    int perPage = static_cast<int>(SendMessageA(listWindow, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(perPage, 5);
    DWORD selectedId = IdAt(perPage - 1);
    ASSERT_TRUE(SelectProcessById(selectedId));
    Play("a%03d.exe", 0, 3);
    RefreshPass(listWindow);
    ASSERT_EQ(IdAt(SelectedRow()), selectedId);
    EXPECT_TRUE(InView(SelectedRow()));
    // The new rows show at the top of the list.
    EXPECT_EQ(RowNames().front(), "a000.exe");
}

TEST_F(ListViewKeepingTest, AReloadKeepsTheSelectedProcessAndTheView) {
    Play("m%03d.exe", 0, 120);
    Settle();
    ASSERT_NO_FATAL_FAILURE(ScrollTo(40));
    DWORD topId = IdAt(40);
    DWORD selectedId = IdAt(47);
    ASSERT_TRUE(SelectProcessById(selectedId));
    char text[300];
    for (UINT command : {IDM_RELOAD, IDM_COLORIZE}) {
        SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        ASSERT_NE(SelectedRow(), -1) << command;
        EXPECT_EQ(IdAt(SelectedRow()), selectedId) << command;
        EXPECT_EQ(IdAt(TopRow()), topId) << command;
        EXPECT_FALSE(Grayed(IDM_TERMINATE)) << command;
        GetWindowTextA(statusWindow, text, sizeof text);
        EXPECT_STREQ(text, "m047.exe") << command;
    }

    // The selected process has ended: nothing selected, the commands grey.
    played.erase(played.begin() + 47);
    SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(IDM_RELOAD, 0), 0);
    EXPECT_EQ(SelectedRow(), -1);
    EXPECT_TRUE(Grayed(IDM_TERMINATE));
    GetWindowTextA(statusWindow, text, sizeof text);
    EXPECT_EQ(std::string(text), "119 " + ToAnsi("个进程"));
}

TEST_F(ListViewKeepingTest, ABurstOfNewRowsLandsSortedEitherWay) {
    // Ids and names in unrelated orders.
    for (int i = 0; i < 300; i++) {
        char name[32];
        wsprintfA(name, "p%03d.exe", (i * 37) % 300);
        played.push_back(MakeEntry(PLAYED_IDS + i, name));
    }
    RefreshPass(listWindow);
    std::vector<std::string> names = RowNames();
    ASSERT_EQ(names.size(), 300u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

    ClickHeader(0); // descending
    Play("n%03d.exe", 0, 30);
    Play("q%03d.exe", 0, 30);
    RefreshPass(listWindow);
    names = RowNames();
    ASSERT_EQ(names.size(), 360u);
    EXPECT_TRUE(std::is_sorted(names.rbegin(), names.rend()));
    Paint();
}

// A pass that changes the value the list is sorted by puts the rows back in
// the order the arrow shows, in either direction.
TEST_F(ListViewKeepingTest, APassChangingTheSortedValueKeepsTheRowsInTheShownOrder) {
    Play("t%03d.exe", 0, 8);
    Settle();
    ClickHeader(3); // threads, ascending
    for (int direction : {1, -1}) {
        for (DWORD threads : {50u, 2u, 7u}) {
            played[direction > 0 ? 0 : 5].threadCount = threads;
            RefreshPass(listWindow);
            std::vector<DWORD> counts;
            for (int row = 0; GetRowNode(row); row++) {
                counts.push_back(GetRowNode(row)->threadCount);
            }
            EXPECT_EQ(counts.size(), played.size());
            EXPECT_TRUE(direction > 0 ? std::is_sorted(counts.begin(), counts.end())
                                      : std::is_sorted(counts.rbegin(), counts.rend()))
                << direction << " " << threads;
        }
        ClickHeader(3);
    }
}

} // namespace
