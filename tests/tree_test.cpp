// The process tree window over nodes the test arranges in the real main list.
#include "app/mainwnd.h"
#include "app/settings.h"
#include "details/tree.h"
#include "listfixture.h"
#include "res/resource.h"
#include "testutil.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

// The tree's items, two blanks per level, one per line; the selected one
// is marked with '*'.
std::string TreeText(HWND tree, HTREEITEM item, int depth) {
    std::string text;
    HTREEITEM selected =
        reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                 reinterpret_cast<LPARAM>(item)))) {
        char label[300];
        TVITEMA read;
        read.mask = TVIF_TEXT;
        read.hItem = item;
        read.pszText = label;
        read.cchTextMax = sizeof label;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&read));
        text += std::string(depth * 2, ' ') + label + (item == selected ? "*" : "") + "\n";
        HTREEITEM child = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        text += TreeText(tree, child, depth + 1);
    }
    return text;
}

std::string WholeTree(HWND dialog) {
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    return TreeText(
        tree, reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0);
}

class TreeTest : public ListFixture {
  protected:
    void SetUp() override {
        CreateMainWindowFor(1);
        // Merged oldest first: D entered the list before its parent E, F is its
        // own parent, G's parent has no node, H has no row.
        Add(10, "a.exe", 0);
        Add(20, "b.exe", 10);
        Add(30, "c.exe", 20);
        Add(5, "d.exe", 40);
        Add(40, "e.exe", 10);
        Add(50, "f.exe", 50);
        Add(60, "g.exe", 999);
        ProcessEntry hidden = MakeEntry(70, "h.exe", 0, KIND_WIN32, 10);
        hidden.flags = ENTRY_NO_ACCESS;
        MergeEntry(listWindow, &hidden);
    }
    void TearDown() override {
        hexProcessId = 0;
        ListFixture::TearDown();
    }
    void Add(DWORD id, const char* name, DWORD parent, ULONGLONG created = 0) {
        ProcessEntry entry = MakeEntry(id, name, 32, KIND_WIN32, parent);
        entry.createTime = created;
        MergeEntry(listWindow, &entry);
    }
    bool InTree(const std::function<void(HWND)>& action) {
        return WithDialog([] { SendMessageA(mainWindow, WM_COMMAND, IDM_PROCESS_TREE, 0); },
                          [&](HWND dialog) {
                              action(dialog);
                              SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                          });
    }
};

TEST_F(TreeTest, ParentsOrderAndRootsFollowTheListsAge) {
    SelectProcessById(30);
    std::string shown;
    int suspendedWhileOpen = 0;
    DWORD selectedAfterBuild = 0;
    ASSERT_TRUE(InTree([&](HWND dialog) {
        shown = WholeTree(dialog);
        suspendedWhileOpen = refreshSuspended;
        // Building the tree selected its item without echoing to the list.
        selectedAfterBuild = GetSelectedProcess(listWindow, nullptr, 0);
    }));
    EXPECT_EQ(shown, "a.exe (10)\n"
                     "  b.exe (20)\n"
                     "    c.exe (30)*\n"
                     "  e.exe (40)\n"
                     "  h.exe (70)\n"
                     "d.exe (5)\n"
                     "f.exe (50)\n"
                     "g.exe (60)\n");
    EXPECT_EQ(suspendedWhileOpen, 1);
    EXPECT_EQ(refreshSuspended, 0);
    EXPECT_EQ(selectedAfterBuild, 30u);
}

// An id given to a new process: the children made before it stay under the
// process that had the id, those made after go under the new one.
TEST_F(TreeTest, ChildrenOfAReusedIdGoUnderTheProcessOfTheirTime) {
    Add(80, "old.exe", 0, 10);
    Add(81, "before.exe", 80, 15);
    Add(80, "new.exe", 0, 20);
    Add(82, "after.exe", 80, 25);
    std::string shown, selected;
    ASSERT_TRUE(InTree([&](HWND dialog) {
        shown = WholeTree(dialog);
        // The old process's item selects its own row, not the new owner's.
        HWND tree = GetDlgItem(dialog, IDC_TREE);
        HTREEITEM item = TreeView_GetRoot(tree);
        while (item && TreeText(tree, item, 0).rfind("old.exe", 0) != 0) {
            item = TreeView_GetNextSibling(tree, item);
        }
        TreeView_SelectItem(tree, item);
        ProcessNode* node = GetSelectedNode(listWindow);
        selected = node ? node->name : "";
    }));
    EXPECT_NE(shown.find("old.exe (80)\n  before.exe (81)\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("new.exe (80)\n  after.exe (82)\n"), std::string::npos) << shown;
    EXPECT_EQ(selected, "old.exe") << shown;
}

TEST_F(TreeTest, HexLabelsAndClickingAnItemSelectsItsProcess) {
    hexProcessId = 1;
    DWORD afterClick = 0, afterHidden = 1;
    std::string shown;
    DWORD afterOpening = 1;
    ASSERT_TRUE(InTree([&](HWND dialog) {
        // Nothing was selected in the list, and opening the tree selects nothing there.
        afterOpening = GetSelectedProcess(listWindow, nullptr, 0);
        shown = WholeTree(dialog);
        HWND tree = GetDlgItem(dialog, IDC_TREE);
        HTREEITEM root =
            reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        HTREEITEM b = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(b));
        afterClick = GetSelectedProcess(listWindow, nullptr, 0);
        // h.exe has no row: the list's selection is cleared.
        HTREEITEM e = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(b)));
        HTREEITEM h = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(e)));
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(h));
        afterHidden = GetSelectedProcess(listWindow, nullptr, 0);
    }));
    EXPECT_EQ(afterOpening, 0u);
    EXPECT_EQ(shown.substr(0, 9), "a.exe (a)");
    EXPECT_NE(shown.find("\n  b.exe (14)\n"), std::string::npos);
    EXPECT_EQ(afterClick, 20u);
    EXPECT_EQ(afterHidden, 0u);
}

// Typed and clicked for real: the tree opens without a selection, a click on
// its first item selects it, and S saves without looking an item up.
TEST_F(TreeTest, ARealClickSelectsTheFirstItemAndSSavesOnly) {
    HTREEITEM selectedAtOpening = nullptr;
    DWORD afterClick = 0, afterSave = 0;
    bool saveOpened = false;
    ASSERT_TRUE(InTree([&](HWND dialog) {
        HWND tree = GetDlgItem(dialog, IDC_TREE);
        selectedAtOpening =
            reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        LPARAM first = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        // The item's handle goes in where the rectangle comes back.
        RECT rect;
        memcpy(&rect, &first, sizeof first);
        SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
        Xdotool(XdotoolClick(ScreenPoint(tree, rect.left + 5, (rect.top + rect.bottom) / 2), 1));
        afterClick = GetSelectedProcess(listWindow, nullptr, 0);
        saveOpened = WithDialogOfClass(
            "#32770", [] { Xdotool("key s"); },
            [](HWND save) { PostMessageA(save, WM_CLOSE, 0, 0); });
        afterSave = GetSelectedProcess(listWindow, nullptr, 0);
    }));
    EXPECT_EQ(selectedAtOpening, nullptr);
    EXPECT_EQ(afterClick, 10u); // a.exe
    EXPECT_TRUE(saveOpened);
    EXPECT_EQ(afterSave, 10u);
}

TEST_F(TreeTest, SavedTreeIsIndentedTwoBlanksPerLevel) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string file = std::string(folder) + "tolvane-tree.txt";
    DeleteFileA(file.c_str());
    ASSERT_TRUE(InTree([&](HWND dialog) {
        HWND tree = GetDlgItem(dialog, IDC_TREE);
        WithDialogOfClass(
            "#32770", [&] { SendMessageA(tree, WM_KEYDOWN, 'S', 0); },
            [&](HWND save) { SaveAsIn(save, file); });
    }));
    EXPECT_EQ(ReadFileBytes(file), "a.exe (10)\r\n"
                                   "  b.exe (20)\r\n"
                                   "    c.exe (30)\r\n"
                                   "  e.exe (40)\r\n"
                                   "  h.exe (70)\r\n"
                                   "d.exe (5)\r\n"
                                   "f.exe (50)\r\n"
                                   "g.exe (60)\r\n");
    DeleteFileA(file.c_str());
}

} // namespace
