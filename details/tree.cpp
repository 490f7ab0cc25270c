#include "details/tree.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "details/threads.h"
#include "res/resource.h"
#include "views/processlist.h"
#include "views/savelist.h"

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

int treeBusy = 0;
static HWND treeWindow;
static RECT treeClientRect;
static WNDPROC treeViewProc;

void PlaceBesideNameColumn(HWND dialog) {
    RECT rect;
    GetWindowRect(dialog, &rect);
    int shift = static_cast<int>(SendMessageA(listWindow, LVM_GETCOLUMNWIDTH, 0, 0));
    MoveWindow(dialog, rect.left + shift, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               FALSE);
}

// Whether the child's parent is the node's process. A process is older than
// its children; and when the node's id went to a new process since, the
// children made after that one are the new process's.
int IsChildProcess(const ProcessNode* child, const ProcessNode* node) {
    if (child->parentProcessId != node->processId) {
        return 0;
    }
    if (node->createTime && child->createTime && child->createTime < node->createTime) {
        return 0;
    }
    if (!(node->flags & NODE_RETIRED)) {
        return 1;
    }
    const ProcessNode* current = FindNode(node->processId, node->kind);
    return !current || !current->createTime || !child->createTime ||
           child->createTime < current->createTime;
}

// Which process each item stands for, its id with its creation time: the
// list's nodes may go while the tree shows, and an id may name a new process.
struct ItemIdentity {
    DWORD processId;
    ULONGLONG createTime;
};
static ItemIdentity* itemIdentities = nullptr;
static int itemIdentityCount = 0;
static int itemIdentityCapacity = 0;

// The item value of the node's process: its place in the identities, -1
// when there is no room.
static LPARAM NoteItemIdentity(const ProcessNode* node) {
    if (itemIdentityCount == itemIdentityCapacity) {
        int capacity = itemIdentityCapacity ? itemIdentityCapacity * 2 : 256;
        void* grown = realloc(itemIdentities, capacity * sizeof(ItemIdentity));
        if (!grown) {
            return -1;
        }
        itemIdentities = static_cast<ItemIdentity*>(grown);
        itemIdentityCapacity = capacity;
    }
    itemIdentities[itemIdentityCount].processId = node->processId;
    itemIdentities[itemIdentityCount].createTime = node->createTime;
    return itemIdentityCount++;
}

// Places the node under `parent`, then its children: the nodes from its own
// place towards the newest whose parent it is. The placed mark is set before
// the children are looked for, so a cycle of parents ends.
static void PlaceTreeNode(ProcessNode* node, HWND tree, HTREEITEM parent, DWORD selectedId,
                          int depth) {
    if (node->flags & NODE_SEEN) {
        return;
    }
    // One label at a time: it is used up before the children are placed, and
    // a long chain of parents must not put a buffer on the stack per level.
    static char label[300];
    FormatProcessLabel(label, sizeof label, node->name, node->processId);
    TVINSERTSTRUCTA insert;
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM;
    insert.item.state = TVIS_EXPANDED;
    insert.item.stateMask = TVIS_EXPANDED;
    insert.item.pszText = label;
    insert.item.lParam = NoteItemIdentity(node);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item && node->processId == selectedId && !(node->flags & NODE_RETIRED)) {
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    }
    FILE* file = CurrentSaveFile();
    if (file) {
        fprintf(file, "%*s%s\n", depth * 2, "", label);
    }
    node->flags |= NODE_SEEN;
    for (ProcessNode* child = node; child; child = child->prev) {
        if (IsChildProcess(child, node)) {
            PlaceTreeNode(child, tree, item, selectedId, depth + 1);
        }
    }
}

void BuildProcessTree(HWND tree, DWORD selectedId) {
    CompleteProcessList(listWindow);
    if (!processListHead) {
        return;
    }
    SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    itemIdentityCount = 0;
    ProcessNode* oldest = processListHead;
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->flags &= ~NODE_SEEN;
        oldest = node;
    }
    // From the oldest node to the newest: whatever is not placed yet is a root.
    for (ProcessNode* node = oldest; node; node = node->prev) {
        PlaceTreeNode(node, tree, TVI_ROOT, selectedId, 0);
    }
    SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
    LPARAM caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (caret) {
        SendMessageA(tree, TVM_ENSUREVISIBLE, 0, caret);
    }
}

LRESULT OpenProcessTree(HWND, WPARAM, WPARAM, LPARAM) {
    int length = LoadStringA(appInstance, IDS_TREE_TITLE, detailText, 259);
    detailText[length > 0 ? length : 0] = 0;
    selectedProcessId = GetSelectedProcess(listWindow, nullptr, 0);
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_PROCESS_TREE), mainWindow, TreeDlgProc, 0);
    return 0;
}

static void RebuildTree(int refresh) {
    treeBusy++;
    if (refresh) {
        RefreshPass(listWindow);
    }
    selectedProcessId = GetSelectedProcess(listWindow, nullptr, 0);
    BuildProcessTree(treeWindow, selectedProcessId);
    treeBusy--;
}

// Selects the row of the item's process, that very process: never one
// that took its id since.
static void SelectItemProcess(HTREEITEM item) {
    TVITEMA read;
    read.mask = TVIF_PARAM;
    read.hItem = item;
    read.lParam = -1;
    SendMessageA(treeWindow, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&read));
    if (read.lParam < 0 || read.lParam >= itemIdentityCount) {
        return;
    }
    const ItemIdentity& identity = itemIdentities[read.lParam];
    // A process without a time is the one its id names.
    SelectProcessByIdentity(identity.processId, identity.createTime);
}

static void OnTreeNotify(NMHDR* header) {
    if (header->idFrom != IDC_TREE) {
        return;
    }
    if (header->code == TVN_KEYDOWN) {
        WORD key = reinterpret_cast<NMTVKEYDOWN*>(header)->wVKey;
        if (key == 'S' || key == VK_F2) {
            if (OpenSaveFile(GetParent(treeWindow))) {
                RebuildTree(0);
                CloseSaveFile();
            }
        } else if (key == VK_F5) {
            RebuildTree(1);
        }
    } else if (header->code == TVN_SELCHANGEDA && treeBusy == 0) {
        HTREEITEM item = reinterpret_cast<NMTREEVIEWA*>(header)->itemNew.hItem;
        if (item) {
            SelectItemProcess(item);
        }
    }
}

// The tree view as the user meets it:
// - taking the focus without a selected item, it would select its first
//   item, which is not the user's choice and would make a click on that
//   item do nothing: the tree stays without a selection;
// - without a selection the arrow keys would do nothing: the first of them
//   selects the first item, as a click on it would;
// - the save key is no letter to look an item up by.
static LRESULT CALLBACK TreeViewKeysProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR && (wParam == 'S' || wParam == 's')) {
        return 0;
    }
    LPARAM caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (message == WM_KEYDOWN && !caret && wParam >= VK_PRIOR && wParam <= VK_DOWN) {
        LPARAM first = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_FIRSTVISIBLE, 0);
        if (first) {
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, first);
            return 0;
        }
    }
    if (message == WM_SETFOCUS && !caret) {
        treeBusy++;
        LRESULT result = CallWindowProcA(treeViewProc, tree, message, wParam, lParam);
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, 0);
        treeBusy--;
        return result;
    }
    return CallWindowProcA(treeViewProc, tree, message, wParam, lParam);
}

INT_PTR CALLBACK TreeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        PlaceBesideNameColumn(dialog);
        GetClientRect(dialog, &treeClientRect);
        treeWindow = GetDlgItem(dialog, IDC_TREE);
        treeViewProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            treeWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TreeViewKeysProc)));
        SetWindowTextA(dialog, detailText);
        treeBusy++;
        // An open module filter ends: the tree shows every process.
        if (refreshSuspended) {
            RefreshProcessList();
        }
        BuildProcessTree(treeWindow, selectedProcessId);
        SetFocus(treeWindow);
        treeBusy--;
        refreshSuspended = 1;
        return FALSE;
    case WM_SIZE:
        ResizeToClient(dialog, treeWindow, lParam, &treeClientRect);
        return FALSE;
    case WM_NOTIFY:
        OnTreeNotify(reinterpret_cast<NMHDR*>(lParam));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    case WM_DESTROY:
        refreshSuspended = 0;
        return FALSE;
    default:
        return FALSE;
    }
}
