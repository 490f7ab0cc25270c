// The threads of real helper processes on this Wine (whose performance data
// has no "Thread" object), and the threads window opened from the main list.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/threads.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/perfdata.h"
#include "testutil.h"

#include <tlhelp32.h>
#include <stdlib.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ListBoxTexts(HWND listBox) {
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        char row[400];
        row[0] = 0;
        SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
        rows.push_back(row);
    }
    return rows;
}

std::set<DWORD> ThreadIdsOf(DWORD processId) {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 thread;
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(snapshot, &thread); more;
         more = Thread32Next(snapshot, &thread)) {
        if (thread.th32OwnerProcessID == processId) {
            ids.insert(thread.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

Child StartHelper(const std::string& options) {
    return StartChild("\"" + BinPath("tvhelper.exe") + "\" --lifetime=120000 " + options);
}

class ThreadsTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1, false);
        PreloadTitleTexts();
        SetRefreshTimer(0);
        hexProcessId = 0;
        threadsRefreshSeconds = 0;
        listBox = CreateWindowExA(0, "LISTBOX", "", LBS_SORT, 0, 0, 300, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    }
    void TearDown() override {
        DestroyWindow(listBox);
        EndChild(helper);
        ListFixture::TearDown();
        threadsRefreshSeconds = 1;
    }
    // Waits until the helper has `threads` threads, and lists them.
    std::vector<std::string> HelperRows(size_t threads) {
        std::vector<std::string> rows;
        PumpUntil(
            [&] {
                SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
                ListThreads(listBox, helper.info.dwProcessId);
                rows = ListBoxTexts(listBox);
                return rows.size() >= threads;
            },
            20000);
        return rows;
    }
    // The priority parts of the rows ("number text"); each id is one of the
    // helper's threads, in the form the hex-ids setting asks for.
    std::multiset<std::string> Priorities(const std::vector<std::string>& rows) {
        std::set<DWORD> ids = ThreadIdsOf(helper.info.dwProcessId);
        std::multiset<std::string> priorities;
        for (const std::string& row : rows) {
            size_t tab = row.find('\t');
            std::string id = row.substr(0, tab);
            DWORD value = strtoul(id.c_str(), nullptr, hexProcessId ? 16 : 10);
            EXPECT_EQ(ids.count(value), 1u) << row;
            char formatted[16];
            wsprintfA(formatted, hexProcessId ? "%08x" : "%u", value);
            EXPECT_EQ(id, formatted);
            priorities.insert(row.substr(tab + 1));
        }
        return priorities;
    }
    void SelectHelper() {
        ASSERT_TRUE(PumpUntil(
            [&] {
                RefreshProcessList();
                return SelectProcessById(helper.info.dwProcessId) == 1;
            },
            20000));
    }
    HWND listBox;
    Child helper = {};
};

TEST_F(ThreadsTest, ThreadsOfANormalClassProcessAtEveryLevel) {
    helper = StartHelper("--threads=-2,-1,0,1,2,15,-15");
    ASSERT_TRUE(helper.started);
    std::vector<std::string> rows = HelperRows(8);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(Priorities(rows),
              (std::multiset<std::string>{"6 " + ToAnsi("(最低)"), "7 " + ToAnsi("(低于普通)"),
                                          "8 " + ToAnsi("(普通)"), "8 " + ToAnsi("(普通)"),
                                          "9 " + ToAnsi("(高于普通)"), "10 " + ToAnsi("(最高)"),
                                          "15 " + ToAnsi("(实时)"), "1 " + ToAnsi("(空闲)")}));
    hexProcessId = 1;
    EXPECT_EQ(Priorities(HelperRows(8)).size(), 8u);
}

// The sorted list box orders ids as texts; the rows stand in the order of
// their ids as numbers.
TEST_F(ThreadsTest, ThreadIdsAreInTheOrderOfTheirNumbers) {
    const struct {
        int hex;
        std::vector<std::string> rows, sorted;
    } cases[] = {
        {0, {"120\t8", "68\t8", "164\t9", "148\t8"}, {"68\t8", "120\t8", "148\t8", "164\t9"}},
        {1, {"0000001c\t8", "0000000a\t8"}, {"0000000a\t8", "0000001c\t8"}},
    };
    for (const auto& c : cases) {
        SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
        for (const std::string& row : c.rows) {
            InsertThreadRow(listBox, row.c_str(), c.hex);
        }
        EXPECT_EQ(ListBoxTexts(listBox), c.sorted);
    }
}

TEST_F(ThreadsTest, HighAndRealTimeClassesShiftTheBase) {
    helper = StartHelper("--priority=high --threads=-2,2,15,-15");
    ASSERT_TRUE(helper.started);
    ASSERT_TRUE(PumpUntil(
        [&] { return GetPriorityClass(helper.info.hProcess) == HIGH_PRIORITY_CLASS; }, 3000));
    EXPECT_EQ(Priorities(HelperRows(5)),
              (std::multiset<std::string>{"11 " + ToAnsi("(最低)"), "13 " + ToAnsi("(普通)"),
                                          "15 " + ToAnsi("(实时)"), "15 " + ToAnsi("(实时)"),
                                          "1 " + ToAnsi("(空闲)")}));
    EndChild(helper);

    helper = StartHelper("--priority=realtime --threads=1,15,-15");
    ASSERT_TRUE(helper.started);
    // The rows follow the class the process has when they are read: wait
    // until the helper has taken it.
    DWORD priorityClass = 0;
    PumpUntil(
        [&] {
            priorityClass = GetPriorityClass(helper.info.hProcess);
            return priorityClass == REALTIME_PRIORITY_CLASS;
        },
        3000);
    std::multiset<std::string> priorities = Priorities(HelperRows(4));
    if (priorityClass == REALTIME_PRIORITY_CLASS) {
        EXPECT_EQ(priorities, (std::multiset<std::string>{
                                  "24 " + ToAnsi("(普通)"), "25 " + ToAnsi("(高于普通)"),
                                  "31 " + ToAnsi("(实时)"), "16 " + ToAnsi("(空闲)")}));
    } else {
        // Wine may refuse the class without privileges: the high class stands in.
        EXPECT_EQ(priorityClass, static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    }
}

TEST_F(ThreadsTest, WindowRefreshesOnItsTimerKeepingTheTopRowAndSaves) {
    helper = StartHelper("--idlethreads=60");
    ASSERT_TRUE(helper.started);
    ASSERT_EQ(HelperRows(61).size(), 61u);
    SelectHelper();
    threadsRefreshSeconds = 1;
    std::string folder = BinDir() + "\\";
    std::string file = folder + "threads-saved.txt";
    DeleteFileA(file.c_str());
    std::vector<std::string> shown;
    int topAfterTick = -1;
    bool opened = WithDialog(
        [] { SendMessageA(mainWindow, WM_COMMAND, IDM_THREADS, 0); },
        [&](HWND dialog) {
            char caption[300];
            GetWindowTextA(dialog, caption, sizeof caption);
            EXPECT_EQ(std::string(caption), ToAnsi("线程 -- ") + WithSelectedId("tvhelper.exe"));
            GetDlgItemTextA(dialog, IDC_THREAD_HEADER, caption, sizeof caption);
            EXPECT_EQ(std::string(caption), ToAnsi("ID\t优先级"));
            HWND list = GetDlgItem(dialog, IDC_THREAD_LIST);
            shown = ListBoxTexts(list);
            SendMessageA(list, LB_SETTOPINDEX, 20, 0);
            // The next tick rebuilds the list: its first row goes for a moment.
            SendMessageA(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("marker"));
            PumpUntil([&] { return ListBoxTexts(list) == shown; }, 5000);
            topAfterTick = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
            // S alone saves, through the Save As dialog.
            WithDialogOfClass(
                "#32770",
                [&] { SendMessageA(dialog, WM_VKEYTOITEM, 'S', reinterpret_cast<LPARAM>(list)); },
                [&](HWND save) { SaveAsIn(save, file); });
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
    ASSERT_TRUE(opened);
    EXPECT_EQ(shown.size(), 61u);
    EXPECT_EQ(topAfterTick, 20);
    std::string expected;
    for (const std::string& row : shown) {
        expected += row + "\r\n";
    }
    EXPECT_EQ(ReadFileBytes(file), expected);
    DeleteFileA(file.c_str());
}

// An ended process's threads stay as they were, under a title that says
// it ended.
TEST_F(ThreadsTest, EndedProcessKeepsItsRowsUnderATitleThatSaysSoAndNoSelectionOpensNothing) {
    helper = StartHelper("");
    ASSERT_TRUE(helper.started);
    SelectHelper();
    size_t before = 0, after = 99;
    std::string title;
    ASSERT_TRUE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_THREADS, 0); },
                           [&](HWND dialog) {
                               HWND list = GetDlgItem(dialog, IDC_THREAD_LIST);
                               before = ListBoxTexts(list).size();
                               EndChild(helper);
                               SendMessageA(dialog, WM_VKEYTOITEM, VK_F5,
                                            reinterpret_cast<LPARAM>(list));
                               after = ListBoxTexts(list).size();
                               title = WindowText(dialog);
                               PostMessageA(dialog, WM_CLOSE, 0, 0);
                           }));
    EXPECT_GE(before, 1u);
    EXPECT_EQ(after, before);
    EXPECT_NE(title.find(ToAnsi("[进程已结束]")), std::string::npos) << title;

    LVITEMA item = {}; // no selection
    item.stateMask = LVIS_SELECTED;
    SendMessageA(listWindow, LVM_SETITEMSTATE, -1, reinterpret_cast<LPARAM>(&item));
    EXPECT_FALSE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_THREADS, 0); },
                            [](HWND dialog) { EndDialog(dialog, 0); }));
}

TEST_F(ThreadsTest, LongNamesAreCutToTheTitlesRoomAndTheListAndHeaderFollowTheSize) {
    ProcessEntry entry = MakeEntry(0x7FFF0010, std::string(259, 'n').c_str());
    ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
    ASSERT_EQ(SelectProcessById(0x7FFF0010), 1);
    std::string caption;
    SIZE sizes[3] = {};
    int headerWidth = 0;
    ASSERT_TRUE(WithDialog(
        [] { SendMessageA(mainWindow, WM_COMMAND, IDM_THREADS, 0); },
        [&](HWND dialog) {
            char text[400];
            GetWindowTextA(dialog, text, sizeof text);
            caption = text;
            HWND list = GetDlgItem(dialog, IDC_THREAD_LIST);
            auto listSize = [&] {
                RECT rect;
                GetWindowRect(list, &rect);
                return SIZE{rect.right - rect.left, rect.bottom - rect.top};
            };
            RECT window;
            GetWindowRect(dialog, &window);
            int width = window.right - window.left;
            int height = window.bottom - window.top;
            sizes[0] = listSize();
            SetWindowPos(dialog, nullptr, 0, 0, width + 50, height + 30, SWP_NOMOVE | SWP_NOZORDER);
            sizes[1] = listSize();
            RECT header;
            GetWindowRect(GetDlgItem(dialog, IDC_THREAD_HEADER), &header);
            headerWidth = header.right - header.left;
            // Too small for any list: it keeps its size.
            SetWindowPos(dialog, nullptr, 0, 0, 60, 40, SWP_NOMOVE | SWP_NOZORDER);
            sizes[2] = listSize();
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }));
    std::string prefix = ToAnsi("线程 -- ");
    // The name gives way to the id.
    const std::string id = " (2147418128)";
    EXPECT_EQ(caption, prefix + std::string(258 - prefix.size() - 1 - id.size(), 'n') + id);
    EXPECT_EQ(sizes[1].cx, sizes[0].cx + 50);
    EXPECT_EQ(sizes[1].cy, sizes[0].cy + 30);
    EXPECT_EQ(headerWidth, sizes[1].cx); // the header follows the width
    EXPECT_EQ(sizes[2].cx, sizes[1].cx);
    EXPECT_EQ(sizes[2].cy, sizes[1].cy);
}

} // namespace
