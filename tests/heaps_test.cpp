// The heaps and heap blocks windows, opened from a real main window of the
// Windows 95 family. This Wine has no heap lists (and its Heap32First ends
// the process), so a Windows 95 system's heaps are played through the
// toolhelpApi table.
#include "listfixture.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "testutil.h"
#include "views/heaps.h"

#include <string.h>

#include <map>
#include <string>
#include <vector>

namespace {

// The heaps are played, but the process is real: the window checks that the
// process it shows still runs before it refills, and an id that names no
// process is one that has ended.
const DWORD PROCESS = GetCurrentProcessId();

struct FakeBlock {
    DWORD address;
    DWORD size;
    DWORD flags;
};

struct FakeHeap {
    DWORD id;
    DWORD flags;
    std::vector<FakeBlock> blocks;
};

std::map<DWORD, std::vector<FakeHeap>> fakeHeaps;     // by process id
std::map<HANDLE, std::pair<DWORD, size_t>> heapWalks; // snapshot: process, next heap

HANDLE WINAPI FakeSnapshot(DWORD flags, DWORD processId) {
    HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (flags == TH32CS_SNAPHEAPLIST) {
        heapWalks[handle] = {processId, 0};
    }
    return handle;
}

BOOL WINAPI NoProcess(HANDLE, PROCESSENTRY32*) {
    return FALSE;
}

BOOL WINAPI NextHeap(HANDLE snapshot, HEAPLIST32* list) {
    auto walk = heapWalks.find(snapshot);
    if (walk == heapWalks.end() || list->dwSize != sizeof(HEAPLIST32)) {
        return FALSE;
    }
    const std::vector<FakeHeap>& heaps = fakeHeaps[walk->second.first];
    if (walk->second.second >= heaps.size()) {
        return FALSE;
    }
    const FakeHeap& heap = heaps[walk->second.second++];
    list->th32ProcessID = walk->second.first;
    list->th32HeapID = heap.id;
    list->dwFlags = heap.flags;
    return TRUE;
}

BOOL FillBlock(HEAPENTRY32* entry, DWORD processId, ULONG_PTR heapId, DWORD index) {
    for (const FakeHeap& heap : fakeHeaps[processId]) {
        if (heap.id == heapId && index < heap.blocks.size()) {
            entry->dwAddress = heap.blocks[index].address;
            entry->dwBlockSize = heap.blocks[index].size;
            entry->dwFlags = heap.blocks[index].flags;
            entry->th32ProcessID = processId;
            entry->th32HeapID = heapId;
            entry->dwResvd = index + 1;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI FirstBlock(HEAPENTRY32* entry, DWORD processId, ULONG_PTR heapId) {
    return entry->dwSize == sizeof(HEAPENTRY32) && FillBlock(entry, processId, heapId, 0);
}

BOOL WINAPI NextBlock(HEAPENTRY32* entry) {
    return FillBlock(entry, entry->th32ProcessID, entry->th32HeapID, entry->dwResvd);
}

std::vector<std::string> Rows(HWND listBox) {
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        char row[400] = "";
        SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
        rows.push_back(row);
    }
    return rows;
}

std::string Text(HWND window) {
    char text[400] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// A double click on a row, as the mouse gives it to the list box.
void DoubleClickRow(HWND listBox, int row) {
    RECT rect = {};
    SendMessageA(listBox, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    LPARAM point = MAKELPARAM(rect.left + 5, (rect.top + rect.bottom) / 2);
    SendMessageA(listBox, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(listBox, WM_LBUTTONUP, 0, point);
    SendMessageA(listBox, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    SendMessageA(listBox, WM_LBUTTONUP, 0, point);
}

class HeapsTest : public ListFixture {
  protected:
    void SetUp() override {
        // Loads the back-end first, so that it does not replace the fakes.
        PrepareProgramClasses();
        savedToolhelp = toolhelpApi;
        toolhelpApi.createToolhelp32Snapshot = FakeSnapshot;
        toolhelpApi.process32First = NoProcess;
        toolhelpApi.process32Next = NoProcess;
        toolhelpApi.heap32ListFirst = NextHeap;
        toolhelpApi.heap32ListNext = NextHeap;
        toolhelpApi.heap32First = FirstBlock;
        toolhelpApi.heap32Next = NextBlock;
        fakeHeaps.clear();
        fakeHeaps[PROCESS] = {
            {0x00520000, 0, {{0x00520010, 100, LF32_FIXED}, {0x00520080, 28, LF32_FREE}}},
            {0x00410000,
             HF32_DEFAULT,
             {{0x00410020, 16, LF32_FIXED}, {0x00410040, 48, LF32_FREE}, {0x00410080, 200, 0}}},
            {0x00630000, HF32_SHARED, {}},
        };
    }
    void TearDown() override {
        ListFixture::TearDown();
        toolhelpApi = savedToolhelp;
    }
    void OpenFor95() {
        CreateMainWindowFor(0, true);
        PreloadTitleTexts();
        SetRefreshTimer(0);
        ProcessEntry entry = MakeEntry(PROCESS, "kernel.exe");
        ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
        ASSERT_EQ(SelectProcessById(PROCESS), 1);
        SendMessageA(mainWindow, MSG_LIST_EVENT, static_cast<WPARAM>(NM_CLICK), IDC_LIST_MAIN);
    }
    ToolhelpApi savedToolhelp;
};

TEST_F(HeapsTest, HeapRowsWithTotalsAndADoubleClickOpensTheBlocksOfThatHeap) {
    OpenFor95();
    EXPECT_FALSE(Grayed(IDM_HEAPS));
    std::string caption, header, blocksCaption, blocksHeader;
    std::vector<std::string> heaps, blocks;
    size_t ran = WithDialogs([] { SendMessageA(mainWindow, WM_COMMAND, IDM_HEAPS, 0); },
                             {[&](HWND dialog) {
                                  caption = Text(dialog);
                                  header = Text(GetDlgItem(dialog, IDC_HEAP_HEADER));
                                  HWND list = GetDlgItem(dialog, IDC_HEAP_LIST);
                                  heaps = Rows(list);
                                  DoubleClickRow(list, 1);
                                  PostMessageA(dialog, WM_CLOSE, 0, 0);
                              },
                              [&](HWND dialog) {
                                  blocksCaption = Text(dialog);
                                  blocksHeader = Text(GetDlgItem(dialog, IDC_HEAP_BLOCK_HEADER));
                                  blocks = Rows(GetDlgItem(dialog, IDC_HEAP_BLOCK_LIST));
                                  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                              }});
    ASSERT_EQ(ran, 2u);
    EXPECT_EQ(caption, ToAnsi("堆 -- ") + WithSelectedId("kernel.exe"));
    EXPECT_EQ(header, ToAnsi("堆ID\t大小\t已用\t剩余\t标志"));
    // Sorted by heap id; total, used and free bytes, then the flags.
    ASSERT_EQ(heaps.size(), 3u);
    EXPECT_EQ(heaps[0], "00410000\t     264\t     216\t      48\t" + ToAnsi("默认") + " ");
    EXPECT_EQ(heaps[1], "00520000\t     128\t     100\t      28\t ");
    EXPECT_EQ(heaps[2], "00630000\t       0\t       0\t       0\t " + ToAnsi("共享"));
    // The blocks of the heap double-clicked, under the template's own title.
    EXPECT_EQ(blocksCaption, ToAnsi("堆块"));
    EXPECT_EQ(blocksHeader, ToAnsi("地址\t大小\t标志"));
    EXPECT_EQ(blocks, (std::vector<std::string>{"00520010\t00000100\t",
                                                "00520080\t00000028\t" + ToAnsi("空闲")}));
    EXPECT_EQ(selectedHeapId, 0x00520000u);
}

TEST_F(HeapsTest, F5RefillsFromTheTopAndSSaves) {
    std::vector<FakeHeap> many;
    for (DWORD i = 0; i < 40; i++) {
        many.push_back({0x01000000 + i * 0x10000, 0, {{0x01000010 + i * 0x10000, i, 0}}});
    }
    fakeHeaps[PROCESS] = many;
    OpenFor95();
    std::string file = BinDir() + "\\heaps-saved.txt";
    DeleteFileA(file.c_str());
    std::vector<std::string> before, after;
    int top = -1;
    ASSERT_TRUE(WithDialog(
        [] { SendMessageA(mainWindow, WM_COMMAND, IDM_HEAPS, 0); },
        [&](HWND dialog) {
            HWND list = GetDlgItem(dialog, IDC_HEAP_LIST);
            before = Rows(list);
            SendMessageA(list, LB_SETTOPINDEX, 20, 0);
            fakeHeaps[PROCESS].push_back({0x00010000, 0, {}});
            SendMessageA(dialog, WM_VKEYTOITEM, VK_F5, reinterpret_cast<LPARAM>(list));
            after = Rows(list);
            top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
            WithDialogOfClass(
                "#32770",
                [&] { SendMessageA(dialog, WM_VKEYTOITEM, 'S', reinterpret_cast<LPARAM>(list)); },
                [&](HWND save) { SaveAsIn(save, file); });
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }));
    ASSERT_EQ(before.size(), 40u);
    ASSERT_EQ(after.size(), 41u);
    EXPECT_EQ(after[0].substr(0, 9), "00010000\t");
    EXPECT_EQ(top, 0);
    std::string expected;
    for (const std::string& row : after) {
        expected += row + "\r\n";
    }
    EXPECT_EQ(ReadFileBytes(file), expected);
    DeleteFileA(file.c_str());
}

TEST_F(HeapsTest, DoubleClicksWithoutAHeapIdOpenNothing) {
    OpenFor95();
    size_t ran = WithDialogs([] { SendMessageA(mainWindow, WM_COMMAND, IDM_HEAPS, 0); },
                             {[&](HWND dialog) {
                                  HWND list = GetDlgItem(dialog, IDC_HEAP_LIST);
                                  SendMessageA(list, LB_RESETCONTENT, 0, 0);
                                  // An empty list, then a row that is no number.
                                  DoubleClickRow(list, 0);
                                  SendMessageA(list, LB_ADDSTRING, 0,
                                               reinterpret_cast<LPARAM>("zz\tnot a heap"));
                                  DoubleClickRow(list, 0);
                                  PostMessageA(dialog, WM_CLOSE, 0, 0);
                              },
                              [&](HWND dialog) { EndDialog(dialog, 0); }});
    EXPECT_EQ(ran, 1u);
}

TEST_F(HeapsTest, TheNtFamilyHasNoHeapsItemAndEmptyLists) {
    CreateMainWindowFor(1, true);
    PreloadTitleTexts();
    EXPECT_EQ(GetMenuState(GetMenu(mainWindow), IDM_HEAPS, MF_BYCOMMAND), static_cast<UINT>(-1));
    ProcessEntry entry = MakeEntry(PROCESS, "kernel.exe");
    ASSERT_EQ(MergeEntry(listWindow, &entry), 1);
    ASSERT_EQ(SelectProcessById(PROCESS), 1);
    size_t rows = 99;
    ASSERT_TRUE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_HEAPS, 0); },
                           [&](HWND dialog) {
                               rows = Rows(GetDlgItem(dialog, IDC_HEAP_LIST)).size();
                               PostMessageA(dialog, WM_CLOSE, 0, 0);
                           }));
    EXPECT_EQ(rows, 0u);
    // No selection: the command opens nothing.
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED;
    SendMessageA(listWindow, LVM_SETITEMSTATE, -1, reinterpret_cast<LPARAM>(&item));
    EXPECT_FALSE(WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_HEAPS, 0); },
                            [](HWND dialog) { EndDialog(dialog, 0); }));
}

} // namespace
