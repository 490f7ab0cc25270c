#include "views/processlist.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "views/finder.h"
#include "views/version.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#define COLUMN(stringId, width) (static_cast<DWORD>(stringId) | (static_cast<DWORD>(width) << 16))

static ColumnDef family95Columns[] = {
    COLUMN(IDS_COL_NAME, 100),
    COLUMN(IDS_COL_ID, 75),
    COLUMN(IDS_COL_PRIORITY, 75),
    COLUMN(IDS_COL_THREADS, 55),
    COLUMN(IDS_COL_TYPE, 50),
    COLUMN(IDS_COL_PATH, 250),
    0,
};
static const int family95Order[] = {CELL_NAME,    CELL_ID,   CELL_PRIORITY,
                                    CELL_THREADS, CELL_TYPE, CELL_PATH};

static ColumnDef ntColumns[] = {
    COLUMN(IDS_COL_NAME, 100),
    COLUMN(IDS_COL_ID, 75),
    COLUMN(IDS_COL_PRIORITY, 75),
    COLUMN(IDS_COL_PATH, 250),
    0,
};
static const int ntOrder[] = {CELL_NAME, CELL_ID, CELL_PRIORITY, CELL_PATH};

ColumnSet activeColumns;
ProcessNode* processListHead = nullptr;
int sortColumn = 0;
int sortDirection = 1;
int arrowColumn = -1;
int refreshSuspended = 0;

static HBITMAP ascendingArrow;
static HBITMAP descendingArrow;
static int arrowBitmapsNeeded = 1;

static DWORD lastStatusProcessId = static_cast<DWORD>(-1);
static int lastStatusCount = -1;
static char processCountSuffix[260];
static int processCountSuffixLoaded = 0;

static char priorityNames[6][260];
static int priorityNamesLoaded = 0;
static char cellText[260];

void ActivateColumnSet() {
    if (ntFamily) {
        activeColumns.columns = ntColumns;
        activeColumns.order = ntOrder;
    } else {
        activeColumns.columns = family95Columns;
        activeColumns.order = family95Order;
    }
    int count = 0;
    while (LOWORD(activeColumns.columns[count]) != 0) {
        count++;
    }
    activeColumns.count = count;
}

int GetColumnWidth(int column) {
    return HIWORD(activeColumns.columns[column]);
}

void SetColumnWidth(int column, WORD width) {
    activeColumns.columns[column] = COLUMN(LOWORD(activeColumns.columns[column]), width);
}

int InsertColumns(HWND list, const ColumnDef* columns, int count) {
    for (int i = 0; i < count; i++) {
        char caption[261];
        int length = LoadStringA(appInstance, LOWORD(columns[i]), caption, 260);
        caption[length > 0 ? length : 0] = 0;
        LVCOLUMNA column;
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = HIWORD(columns[i]);
        column.pszText = caption;
        column.cchTextMax = 0;
        column.iSubItem = i;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column)) == -1) {
            return 0;
        }
    }
    return 1;
}

HWND CreateListView(HWND parent, DWORD style, DWORD exStyle, const ColumnDef* columns, int count,
                    int id) {
    InitCommonControls();
    RECT client;
    GetClientRect(parent, &client);
    HWND list = CreateWindowExA(
        exStyle, "SysListView32", "", style, client.left, client.top, client.right, client.bottom,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), appInstance, nullptr);
    if (!list) {
        return nullptr;
    }
    if (!InsertColumns(list, columns, count)) {
        DestroyWindow(list);
        return nullptr;
    }
    return list;
}

static DWORD Now() {
    return static_cast<DWORD>(clock());
}

static ProcessNode* ItemNode(HWND list, int index) {
    LVITEMA item;
    item.mask = LVIF_PARAM;
    item.iItem = index;
    item.iSubItem = 0;
    item.lParam = 0;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        return nullptr;
    }
    return reinterpret_cast<ProcessNode*>(item.lParam);
}

static int RowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

static int SelectedRow(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
}

// Makes the list view ask for the row's texts from `firstColumn` on again
// when it paints.
static void InvalidateRowTexts(HWND list, int row, int firstColumn = 0) {
    LVITEMA item;
    item.pszText = LPSTR_TEXTCALLBACKA;
    for (int column = firstColumn; column < activeColumns.count; column++) {
        item.iSubItem = column;
        SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    }
}

static void RemoveFromNodeTable(ProcessNode* node);

static void UnlinkNode(ProcessNode* node) {
    RemoveFromNodeTable(node);
    if (node->prev) {
        node->prev->next = node->next;
    } else {
        processListHead = node->next;
    }
    if (node->next) {
        node->next->prev = node->prev;
    }
}

// Nodes by (process id, kind): open addressing with linear probing, at most
// half full. The table is built from the node list whenever it must grow; a
// removal moves later entries back so that no probe stops at a hole.
static ProcessNode** nodeTable = nullptr;
static DWORD nodeTableSize = 0; // a power of two
static DWORD nodeTableCount = 0;

static DWORD NodeHome(DWORD processId, DWORD kind) {
    DWORD mixed = (processId ^ (kind << 28)) * 2654435761u;
    return (mixed ^ (mixed >> 15)) & (nodeTableSize - 1);
}

// Forgets every entry; also right when the node list was emptied by hand.
static void ResetNodeTable() {
    if (nodeTable) {
        memset(nodeTable, 0, nodeTableSize * sizeof nodeTable[0]);
    }
    nodeTableCount = 0;
}

static void PlaceNode(ProcessNode* node) {
    DWORD slot = NodeHome(node->processId, node->kind);
    while (nodeTable[slot]) {
        slot = (slot + 1) & (nodeTableSize - 1);
    }
    nodeTable[slot] = node;
    nodeTableCount++;
}

// Builds a table of the given size from the node list; without memory the
// lookups walk the list until a later build succeeds.
static void RebuildNodeTable(DWORD size) {
    free(nodeTable);
    nodeTable = static_cast<ProcessNode**>(calloc(size, sizeof nodeTable[0]));
    nodeTableSize = nodeTable ? size : 0;
    nodeTableCount = 0;
    if (nodeTable) {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            if (!(node->flags & NODE_RETIRED)) {
                PlaceNode(node);
            }
        }
    }
}

// Called once the node is linked at the head.
static void AddToNodeTable(ProcessNode* node) {
    if (nodeTable && (nodeTableCount + 1) * 2 <= nodeTableSize) {
        PlaceNode(node);
        return;
    }
    DWORD size = nodeTableSize ? nodeTableSize * 2 : 1024;
    while ((nodeTableCount + 1) * 2 > size) {
        size *= 2;
    }
    RebuildNodeTable(size);
}

static void RemoveFromNodeTable(ProcessNode* node) {
    if (!nodeTable) {
        return;
    }
    DWORD mask = nodeTableSize - 1;
    DWORD hole = NodeHome(node->processId, node->kind);
    while (nodeTable[hole] != node) {
        if (!nodeTable[hole]) {
            return;
        }
        hole = (hole + 1) & mask;
    }
    nodeTable[hole] = nullptr;
    nodeTableCount--;
    // Move back every later entry of the run whose probe passed the hole.
    for (DWORD slot = (hole + 1) & mask; nodeTable[slot]; slot = (slot + 1) & mask) {
        DWORD home = NodeHome(nodeTable[slot]->processId, nodeTable[slot]->kind);
        bool reachable =
            hole <= slot ? (home > hole && home <= slot) : (home > hole || home <= slot);
        if (!reachable) {
            nodeTable[hole] = nodeTable[slot];
            nodeTable[slot] = nullptr;
            hole = slot;
        }
    }
}

ProcessNode* FindNode(DWORD processId, DWORD kind) {
    if (!processListHead) {
        ResetNodeTable();
        return nullptr;
    }
    if (!nodeTable) {
        for (ProcessNode* node = processListHead; node; node = node->next) {
            if (node->processId == processId && node->kind == kind &&
                !(node->flags & NODE_RETIRED)) {
                return node;
            }
        }
        return nullptr;
    }
    for (DWORD slot = NodeHome(processId, kind); nodeTable[slot];
         slot = (slot + 1) & (nodeTableSize - 1)) {
        if (nodeTable[slot]->processId == processId && nodeTable[slot]->kind == kind) {
            return nodeTable[slot];
        }
    }
    return nullptr;
}

// What a refresh pass notes while it runs: how many rows it inserted or
// deleted, and the view to keep. Rows inserted or deleted above the first
// visible row move `anchorRow`, the index the first visible row had before
// the pass, so that the pass can scroll it back into place.
struct PassView {
    HWND list; // null outside a pass
    int rowChanges;
    int redrawOff;
    int scrolled;
    int anchorRow;
    int selectedWasVisible;
};
static PassView passView;

enum { BURST_ROW_CHANGES = 4 };

// Before the first row change of a scrolled list, and once a pass has
// changed more than a few rows, the list stops drawing until the pass ends.
static void NoteRowChange() {
    passView.rowChanges++;
    if (!passView.redrawOff && (passView.scrolled || passView.rowChanges > BURST_ROW_CHANGES)) {
        SendMessageA(passView.list, WM_SETREDRAW, FALSE, 0);
        passView.redrawOff = 1;
    }
}

static void NoteRowInserted(HWND list, int row) {
    if (list != passView.list) {
        return;
    }
    if (passView.scrolled && row <= passView.anchorRow) {
        passView.anchorRow++;
    }
}

static void BeforeRowDeleted(HWND list, int row) {
    if (list != passView.list) {
        return;
    }
    NoteRowChange();
    if (passView.scrolled && row < passView.anchorRow) {
        passView.anchorRow--;
    }
}

static int FindNodeRow(HWND list, const ProcessNode* node) {
    LVFINDINFOA find;
    memset(&find, 0, sizeof find);
    find.flags = LVFI_PARAM;
    find.lParam = reinterpret_cast<LPARAM>(node);
    return static_cast<int>(SendMessageA(list, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(&find)));
}

// The index at which the node's row belongs: after every row that does not
// sort after it, found by halving (rows keep their order between sorts,
// except a row whose sort key changed since).
static int SortedRowIndex(HWND list, const ProcessNode* node) {
    if (sortColumn == -1) {
        return 0;
    }
    SortParam param = {IDC_LIST_MAIN, sortColumn, sortDirection};
    int low = 0;
    int high = RowCount(list);
    while (low < high) {
        int middle = low + (high - low) / 2;
        ProcessNode* rowNode = ItemNode(list, middle);
        if (rowNode &&
            CompareNodes(reinterpret_cast<LPARAM>(node), reinterpret_cast<LPARAM>(rowNode),
                         reinterpret_cast<LPARAM>(&param)) < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// Set when a pass changed a value the list is sorted by: the pass sorts the
// rows again, so that they keep the order the header's arrow shows.
static int sortKeyChanged = 0;

static void NoteSortKeyChange(const ProcessNode* node, const ProcessEntry* entry) {
    if (sortColumn < 0 || sortColumn >= activeColumns.count) {
        return;
    }
    int kind = activeColumns.order[sortColumn];
    if ((kind == CELL_PRIORITY && node->priorityClass != entry->priorityClass) ||
        (kind == CELL_THREADS && node->threadCount != entry->threadCount)) {
        sortKeyChanged = 1;
    }
}

static void SortRows(HWND list) {
    SortParam param = {IDC_LIST_MAIN, sortColumn, sortDirection};
    SendMessageA(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&param),
                 reinterpret_cast<LPARAM>(CompareNodes));
}

// Gives the node its row at its sorted place; 0 when the list refused it.
static int InsertNodeRow(HWND list, ProcessNode* node) {
    int index = SortedRowIndex(list, node);
    if (list == passView.list) {
        NoteRowChange();
    }
    LVITEMA item;
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = index;
    item.iSubItem = 0;
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.iImage = 0;
    item.lParam = reinterpret_cast<LPARAM>(node);
    int row =
        static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row == -1) {
        return 0;
    }
    node->flags |= NODE_HAS_ROW;
    NoteRowInserted(list, row);
    // The inserted item carries the first column's marker already.
    InvalidateRowTexts(list, row, 1);
    return 1;
}

// Both creation times known and different: the id was given to a new
// process since the node's process was reported.
static int IsAnotherProcess(const ProcessNode* node, const ProcessEntry* entry) {
    return node->createTime != 0 && entry->createTime != 0 && node->createTime != entry->createTime;
}

// The node's process has ended: it is no longer found by its id, and the
// pass, which does not see it, treats its row as that of a vanished process.
static void RetireNode(ProcessNode* node) {
    RemoveFromNodeTable(node);
    node->flags |= NODE_RETIRED;
}

int MergeEntry(HWND list, const ProcessEntry* entry) {
    ProcessNode* node = FindNode(entry->processId, entry->kind);
    if (node && IsAnotherProcess(node, entry)) {
        RetireNode(node);
        node = nullptr;
    }
    if (node && (node->flags & ENTRY_NO_ACCESS)) {
        node->flags |= NODE_SEEN;
        if (entry->flags & ENTRY_NO_ACCESS) {
            return 1;
        }
        // Readable now (it was still starting, or a new process took over the
        // id): it becomes what a process met for the first time becomes.
        ProcessNode* next = node->next;
        ProcessNode* prev = node->prev;
        *node = *entry;
        node->next = next;
        node->prev = prev;
        node->flags = NODE_SEEN | NODE_NEW;
        node->markTime = Now() + HIGHLIGHT_MILLISECONDS;
        return InsertNodeRow(list, node);
    }
    if (node) {
        node->flags |= NODE_SEEN;
        if (!(node->flags & NODE_EXPIRED) && node->priorityClass == entry->priorityClass &&
            node->threadCount == entry->threadCount && node->affinityMask == entry->affinityMask) {
            return 1;
        }
        node->flags &= ~NODE_EXPIRED;
        NoteSortKeyChange(node, entry);
        // Also a node without a row keeps up, for when its row comes back.
        node->priorityClass = entry->priorityClass;
        node->threadCount = entry->threadCount;
        node->affinityMask = entry->affinityMask;
        int row = FindNodeRow(list, node);
        if (row != -1) {
            InvalidateRowTexts(list, row);
        }
        return 1;
    }

    node = static_cast<ProcessNode*>(malloc(sizeof(ProcessNode)));
    if (!node) {
        return 0;
    }
    *node = *entry;
    node->next = processListHead;
    node->prev = nullptr;
    if (processListHead) {
        processListHead->prev = node;
    }
    processListHead = node;
    AddToNodeTable(node);
    node->flags = (entry->flags & ENTRY_NO_ACCESS) | NODE_SEEN | NODE_NEW;
    node->markTime = Now() + HIGHLIGHT_MILLISECONDS;
    if (node->flags & ENTRY_NO_ACCESS) {
        return 1;
    }
    return InsertNodeRow(list, node);
}

// Nodes kept without a row (no access, or an insertion that failed) are
// dropped once a pass no longer reports them, so that a process that later
// receives the same id is shown.
static void DropUnreportedRowlessNodes() {
    ProcessNode* node = processListHead;
    while (node) {
        ProcessNode* next = node->next;
        if (!(node->flags & (NODE_SEEN | NODE_HAS_ROW))) {
            UnlinkNode(node);
            free(node);
        }
        node = next;
    }
}

static int IsRowSelected(HWND list, int row) {
    return (SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

// Gives the rows back to reported processes that the filter took away and
// now lets in.
static int ShowsAgain(const ProcessNode* node) {
    return (node->flags & (NODE_HIDDEN | NODE_SEEN | NODE_FILTERED_OUT | ENTRY_NO_ACCESS)) ==
           (NODE_HIDDEN | NODE_SEEN);
}

static void ShowHiddenRows(HWND list) {
    for (ProcessNode* node = processListHead; node; node = node->next) {
        if (ShowsAgain(node)) {
            node->flags &= ~NODE_HIDDEN;
            InsertNodeRow(list, node);
        }
    }
}

// How many rows the filter's removal deletes or gives back: a list view
// that draws while a row goes scrolls the rows below it on the screen.
static int FilterRowChanges(HWND list) {
    int changes = 0;
    for (int row = RowCount(list) - 1; row >= 0; row--) {
        ProcessNode* node = ItemNode(list, row);
        if (node && ((node->flags & NODE_FILTERED_OUT) || !(node->flags & NODE_SEEN))) {
            changes++;
        }
    }
    for (ProcessNode* node = processListHead; node; node = node->next) {
        changes += ShowsAgain(node);
    }
    return changes;
}

void ClearFilterMarks() {
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->flags &= ~NODE_FILTERED_OUT;
    }
}

static void BeginPassView(HWND list);
static void EndPassView(HWND list);

void RemoveStaleRows(HWND list, int force) {
    // The filter's removal keeps the view as a pass does: the rows in view
    // stay in place, and many rows going or coming back draw once.
    int ownView = force && passView.list != list;
    if (ownView) {
        BeginPassView(list);
        if (FilterRowChanges(list) > BURST_ROW_CHANGES) {
            SendMessageA(list, WM_SETREDRAW, FALSE, 0);
            passView.redrawOff = 1;
        }
    }
    for (int row = RowCount(list) - 1; row >= 0; row--) {
        ProcessNode* node = ItemNode(list, row);
        if (!node) {
            continue;
        }
        if ((node->flags & NODE_FILTERED_OUT) ||
            (!(node->flags & NODE_SEEN) && (force || (node->flags & NODE_EXPIRED)))) {
            BeforeRowDeleted(list, row);
            // A running process that the filter leaves out keeps its node.
            if (force && (node->flags & (NODE_FILTERED_OUT | NODE_SEEN)) ==
                             (NODE_FILTERED_OUT | NODE_SEEN)) {
                node->flags |= NODE_HIDDEN;
            }
            SendMessageA(list, LVM_DELETEITEM, row, 0);
        } else if (node->flags & NODE_SEEN) {
            continue;
        } else if (node->flags & NODE_GONE) {
            continue;
        } else {
            InvalidateRowTexts(list, row);
            node->flags = (node->flags & ~NODE_NEW) | NODE_GONE;
            node->markTime = Now() + HIGHLIGHT_MILLISECONDS;
            // Only the selected row decides the command states.
            if (IsRowSelected(list, row)) {
                UpdateCommandStates(node);
            }
        }
    }
    if (force) {
        ShowHiddenRows(list);
    }
    if (ownView) {
        EndPassView(list);
    }
}

static int TopRow(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
}

static int IsRowInView(HWND list, int row) {
    int top = TopRow(list);
    int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    return row >= top && row < top + (perPage > 0 ? perPage : 1);
}

// Scrolls the list so that `row` is its first visible row, as far as the
// list's length allows.
static void ScrollRowToTop(HWND list, int row) {
    int top = TopRow(list);
    if (row == top || RowCount(list) == 0) {
        return;
    }
    RECT bounds;
    bounds.left = LVIR_BOUNDS;
    if (!SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)) ||
        bounds.bottom <= bounds.top) {
        return;
    }
    SendMessageA(list, LVM_SCROLL, 0, (row - top) * (bounds.bottom - bounds.top));
}

static void BeginPassView(HWND list) {
    memset(&passView, 0, sizeof passView);
    passView.list = list;
    passView.anchorRow = TopRow(list);
    passView.scrolled = passView.anchorRow > 0;
    int selected = SelectedRow(list);
    passView.selectedWasVisible = selected != -1 && IsRowInView(list, selected);
}

// Puts the rows that were in view back where they were, keeps the selected
// row in view, and draws the list once if the pass had stopped its drawing.
static void EndPassView(HWND list) {
    if (passView.scrolled && passView.rowChanges > 0) {
        ScrollRowToTop(list, passView.anchorRow);
    }
    int selected = SelectedRow(list);
    if (passView.selectedWasVisible && selected != -1 && !IsRowInView(list, selected)) {
        SendMessageA(list, LVM_ENSUREVISIBLE, selected, FALSE);
    }
    if (passView.redrawOff) {
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    }
    passView.list = nullptr;
}

void RefreshPass(HWND list) {
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->flags &= ~NODE_SEEN;
    }
    BeginPassView(list);
    sortKeyChanged = 0;
    EnumerateProcesses(list);
    if (sortKeyChanged) {
        SortRows(list);
    }
    ShowHiddenRows(list);
    RemoveStaleRows(list, 0);
    EndPassView(list);
    DropUnreportedRowlessNodes();
    if (SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 0) {
        UpdateCommandStates(nullptr);
        UpdateStatusText(nullptr);
    }
}

void RefreshProcessList() {
    if (refreshSuspended) {
        SetWindowTextA(mainWindow, mainTitle);
        SendMessageA(toolbarWindow, TB_CHECKBUTTON, IDM_MODULE_USAGE, FALSE);
        refreshSuspended = 0;
    }
    ClearFilterMarks();
    RefreshPass(listWindow);
}

void ClearProcessList(HWND list) {
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (processListHead) {
        ProcessNode* next = processListHead->next;
        free(processListHead);
        processListHead = next;
    }
    ResetNodeTable();
}

// A process by its identity, remembered across a reload.
struct ProcessKey {
    int present;
    DWORD processId;
    DWORD kind;
};

static ProcessKey RowKey(HWND list, int row) {
    ProcessKey key = {0, 0, 0};
    ProcessNode* node = row == -1 ? nullptr : ItemNode(list, row);
    if (node) {
        key = {1, node->processId, node->kind};
    }
    return key;
}

// The row of the remembered process after the reload, or -1.
static int KeyRow(HWND list, const ProcessKey& key) {
    ProcessNode* node = key.present ? FindNode(key.processId, key.kind) : nullptr;
    return node && (node->flags & NODE_HAS_ROW) ? FindNodeRow(list, node) : -1;
}

void ReloadProcessList() {
    UpdateSortArrow(listWindow, 0);
    ProcessKey selected = RowKey(listWindow, SelectedRow(listWindow));
    ProcessKey top = RowKey(listWindow, TopRow(listWindow));
    // The list is rebuilt from nothing: paint it once, when it is complete.
    SendMessageA(listWindow, WM_SETREDRAW, FALSE, 0);
    ClearProcessList(listWindow);
    RefreshProcessList();
    // The rows in view and the selected process, if they still run, are
    // where they were, and the commands and status bar follow the selection.
    int topRow = KeyRow(listWindow, top);
    if (topRow != -1) {
        ScrollRowToTop(listWindow, topRow);
    }
    int selectedRow = KeyRow(listWindow, selected);
    if (selectedRow != -1) {
        LVITEMA item;
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(listWindow, LVM_SETITEMSTATE, selectedRow, reinterpret_cast<LPARAM>(&item));
        SendMessageA(listWindow, LVM_ENSUREVISIBLE, selectedRow, FALSE);
        ProcessNode* node = ItemNode(listWindow, selectedRow);
        UpdateCommandStates(node);
        UpdateStatusText(node);
    }
    SendMessageA(listWindow, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listWindow, nullptr, TRUE);
}

void ExpireHighlights() {
    DWORD now = Now();
    for (ProcessNode* node = processListHead; node; node = node->next) {
        if ((node->flags & (NODE_NEW | NODE_GONE)) && node->markTime <= now) {
            node->flags = (node->flags & ~(NODE_NEW | NODE_GONE)) | NODE_EXPIRED;
        }
    }
}

ProcessNode* GetRowNode(int index) {
    if (index == -1 || !listWindow) {
        return nullptr;
    }
    return ItemNode(listWindow, index);
}

DWORD GetSelectedProcess(HWND list, char* buffer, int length) {
    int row = SelectedRow(list);
    if (row == -1) {
        return 0;
    }
    ProcessNode* node = ItemNode(list, row);
    if (!node) {
        return 0;
    }
    if (buffer && length != 0) {
        const char* field = length > 0 ? node->path : node->name;
        int count = length > 0 ? length : -length;
        if (count > 260) {
            count = 260;
        }
        // The copy always ends inside the buffer, also when it cut the text.
        CopyText(buffer, count, field);
    }
    return node->processId;
}

int SelectProcessById(DWORD processId) {
    int rows = RowCount(listWindow);
    for (int row = 0; row < rows; row++) {
        ProcessNode* node = ItemNode(listWindow, row);
        if (node && node->processId == processId) {
            LVITEMA item;
            item.stateMask = LVIS_SELECTED;
            item.state = LVIS_SELECTED;
            SendMessageA(listWindow, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
            SendMessageA(listWindow, LVM_ENSUREVISIBLE, row, TRUE);
            UpdateCommandStates(node);
            UpdateStatusText(node);
            return 1;
        }
    }
    int selected = SelectedRow(listWindow);
    if (selected != -1) {
        LVITEMA item;
        item.stateMask = LVIS_SELECTED;
        item.state = 0;
        SendMessageA(listWindow, LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&item));
    }
    UpdateCommandStates(nullptr);
    UpdateStatusText(nullptr);
    return 0;
}

void UpdateStatusText(ProcessNode* node) {
    DWORD processId = node ? node->processId : 0;
    if (processId != lastStatusProcessId) {
        lastStatusProcessId = processId;
        lastStatusCount = -1;
        if (node) {
            char summary[260];
            GetVersionSummary(node->path, node->name, summary, sizeof summary);
            SetWindowTextA(statusWindow, summary);
        }
    }
    if (node) {
        return;
    }
    int count = RowCount(listWindow);
    if (count != lastStatusCount) {
        lastStatusCount = count;
        if (!processCountSuffixLoaded) {
            processCountSuffixLoaded = 1;
            LoadStringA(appInstance, IDS_PROCESS_COUNT_SUFFIX, processCountSuffix,
                        sizeof processCountSuffix);
        }
        char text[300];
        wsprintfA(text, "%d %s", count, processCountSuffix);
        SetWindowTextA(statusWindow, text);
    }
}

static int CompareNumbers(DWORD a, DWORD b) {
    return a > b ? 1 : (a < b ? -1 : 0);
}

int CALLBACK CompareNodes(LPARAM first, LPARAM second, LPARAM parameter) {
    const SortParam* param = reinterpret_cast<const SortParam*>(parameter);
    if (param->listId != IDC_LIST_MAIN || param->column >= activeColumns.count ||
        param->column < 0) {
        return 0;
    }
    const ProcessNode* a = reinterpret_cast<const ProcessNode*>(first);
    const ProcessNode* b = reinterpret_cast<const ProcessNode*>(second);
    // A 16-bit task sorts in the place of the NTVDM process that runs it;
    // tasks of one NTVDM are compared with each other.
    if ((a->kind == KIND_WOW_TASK || b->kind == KIND_WOW_TASK) &&
        !(a->kind == KIND_WOW_TASK && b->kind == KIND_WOW_TASK &&
          a->parentProcessId == b->parentProcessId)) {
        if (a->kind == KIND_WOW_TASK) {
            a = FindNode(a->parentProcessId, KIND_WIN32);
        }
        if (b->kind == KIND_WOW_TASK) {
            b = FindNode(b->parentProcessId, KIND_WIN32);
        }
        if (!a || !b) {
            return 0;
        }
    }
    int result;
    switch (activeColumns.order[param->column]) {
    case CELL_NAME:
        result = lstrcmpiA(a->name, b->name);
        if (result == 0) {
            result = CompareNumbers(a->processId, b->processId);
        }
        break;
    case CELL_ID:
        result = CompareNumbers(a->processId, b->processId);
        break;
    case CELL_PRIORITY:
        result = CompareNumbers(a->priorityClass, b->priorityClass);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    case CELL_THREADS:
        result = CompareNumbers(a->threadCount, b->threadCount);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    case CELL_TYPE:
        result = CompareNumbers(a->kind, b->kind);
        if (result == 0) {
            result = lstrcmpiA(a->name, b->name);
        }
        break;
    case CELL_PATH:
        result = lstrcmpiA(a->path, b->path);
        if (result == 0) {
            result = CompareNumbers(a->processId, b->processId);
        }
        break;
    default:
        result = -1;
        break;
    }
    return param->direction < 0 ? -result : result;
}

void SetHeaderBitmap(HWND header, int column, int format, HBITMAP bitmap) {
    HDITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = HDI_FORMAT | HDI_BITMAP;
    item.fmt = format;
    item.hbm = bitmap;
    SendMessageA(header, HDM_SETITEMA, column, reinterpret_cast<LPARAM>(&item));
}

// The headers the arrows were put into: the main list's and those of open
// detail windows. A colour change gives each of them the new bitmaps before
// the old ones go, so no header ever shows a deleted bitmap.
enum { ARROW_HEADER_CAPACITY = 8 };
static HWND arrowHeaders[ARROW_HEADER_CAPACITY];
static int arrowHeadersLost = 0; // a header could not be remembered: old bitmaps stay

static void RememberArrowHeader(HWND header) {
    int unused = -1;
    for (int i = 0; i < ARROW_HEADER_CAPACITY; i++) {
        if (arrowHeaders[i] == header) {
            return;
        }
        if (unused == -1 && (!arrowHeaders[i] || !IsWindow(arrowHeaders[i]))) {
            unused = i;
        }
    }
    if (unused == -1) {
        arrowHeadersLost = 1;
    } else {
        arrowHeaders[unused] = header;
    }
}

static void ReplaceShownArrows(HBITMAP oldAscending, HBITMAP oldDescending) {
    for (HWND header : arrowHeaders) {
        if (!header || !IsWindow(header)) {
            continue;
        }
        int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
        for (int column = 0; column < count; column++) {
            HDITEMA item;
            memset(&item, 0, sizeof item);
            item.mask = HDI_FORMAT | HDI_BITMAP;
            if (!SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item)) ||
                !(item.fmt & HDF_BITMAP) || !item.hbm) {
                continue;
            }
            if (item.hbm == oldAscending) {
                SetHeaderBitmap(header, column, item.fmt, ascendingArrow);
            } else if (item.hbm == oldDescending) {
                SetHeaderBitmap(header, column, item.fmt, descendingArrow);
            }
        }
    }
}

void PlaceSortArrow(HWND list, int* shownColumn, int column, int direction) {
    if (arrowBitmapsNeeded) {
        arrowBitmapsNeeded = 0;
        ascendingArrow = static_cast<HBITMAP>(LoadImageA(appInstance, MAKEINTRESOURCEA(IDB_SORT_UP),
                                                         IMAGE_BITMAP, 16, 16, LR_LOADMAP3DCOLORS));
        descendingArrow =
            static_cast<HBITMAP>(LoadImageA(appInstance, MAKEINTRESOURCEA(IDB_SORT_DOWN),
                                            IMAGE_BITMAP, 16, 16, LR_LOADMAP3DCOLORS));
    }
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    RememberArrowHeader(header);
    if (*shownColumn != column && *shownColumn != -1) {
        SetHeaderBitmap(header, *shownColumn, HDF_STRING, nullptr);
    }
    *shownColumn = column;
    SetHeaderBitmap(header, column, HDF_STRING | HDF_BITMAP | HDF_BITMAP_ON_RIGHT,
                    direction < 0 ? descendingArrow : ascendingArrow);
}

void UpdateSortArrow(HWND list, int reload) {
    // New system colours: the arrows are loaded again in them, and the old
    // bitmaps go once every header that showed them holds the new ones.
    HBITMAP oldAscending = nullptr;
    HBITMAP oldDescending = nullptr;
    if (reload) {
        oldAscending = ascendingArrow;
        oldDescending = descendingArrow;
        arrowBitmapsNeeded = 1;
    }
    PlaceSortArrow(list, &arrowColumn, sortColumn, sortDirection);
    if (!reload) {
        return;
    }
    ReplaceShownArrows(oldAscending, oldDescending);
    if (arrowHeadersLost) {
        return;
    }
    if (oldAscending) {
        DeleteObject(oldAscending);
    }
    if (oldDescending) {
        DeleteObject(oldDescending);
    }
}

static void LoadPriorityNames() {
    for (int i = 0; i < 6; i++) {
        LoadStringA(appInstance, IDS_PRIORITY_REALTIME + i, priorityNames[i], 260);
    }
}

// The name of a priority class; strings 408 to 413 hold real time, high,
// normal, idle, below normal and above normal.
static const char* PriorityClassName(DWORD priorityClass) {
    switch (priorityClass) {
    case REALTIME_PRIORITY_CLASS:
        return priorityNames[0];
    case HIGH_PRIORITY_CLASS:
        return priorityNames[1];
    case NORMAL_PRIORITY_CLASS:
        return priorityNames[2];
    case IDLE_PRIORITY_CLASS:
        return priorityNames[3];
    case BELOW_NORMAL_PRIORITY_CLASS:
        return priorityNames[4];
    case ABOVE_NORMAL_PRIORITY_CLASS:
        return priorityNames[5];
    default:
        return "";
    }
}

static void FormatPriority(const ProcessNode* node, char* text) {
    const char* name = PriorityClassName(node->priorityClass);
    int length;
    if (name[0] == 0 && node->basePriority == 0) {
        length = wsprintfA(text, "-");
    } else if (ntFamily) {
        length = wsprintfA(text, "%s", name);
    } else {
        length = wsprintfA(text, "%d  (%s)", node->basePriority, name);
    }
    if (node->affinityMask != 0 && processorCount > 1 && node->affinityMask != systemAffinityMask) {
        wsprintfA(text + length, ",0x%x", node->affinityMask);
    }
}

static void GetCellText(NMLVDISPINFOA* info) {
    if (!priorityNamesLoaded) {
        priorityNamesLoaded = 1;
        LoadPriorityNames();
    }
    int column = info->item.iSubItem;
    if (column < 0 || column >= activeColumns.count) {
        return;
    }
    ProcessNode* node = reinterpret_cast<ProcessNode*>(info->item.lParam);
    if (!node) {
        return;
    }
    switch (activeColumns.order[column]) {
    case CELL_NAME:
        info->item.pszText = node->name;
        return;
    case CELL_PATH:
        info->item.pszText = node->path;
        return;
    case CELL_ID:
        if (node->kind == KIND_WOW_TASK) {
            wsprintfA(cellText, hexProcessId ? "(%x)" : "(%u)", node->processId);
        } else {
            wsprintfA(cellText, hexProcessId ? "%x" : "%u", node->processId);
        }
        break;
    case CELL_PRIORITY:
        FormatPriority(node, cellText);
        break;
    case CELL_THREADS:
        wsprintfA(cellText, "%d", node->threadCount);
        break;
    case CELL_TYPE:
        wsprintfA(cellText, "%d-Bit", node->kind != KIND_WIN32 ? 16 : 32);
        break;
    default:
        return;
    }
    info->item.pszText = cellText;
}

static LRESULT OnCustomDraw(NMHDR* header) {
    if (!colorize || mainRefreshSeconds == 0) {
        return CDRF_DODEFAULT;
    }
    NMCUSTOMDRAW* draw = reinterpret_cast<NMCUSTOMDRAW*>(header);
    if (draw->dwDrawStage == CDDS_PREPAINT) {
        return CDRF_NOTIFYITEMDRAW;
    }
    if (draw->dwDrawStage != CDDS_ITEMPREPAINT) {
        return 0;
    }
    // Other controls' items carry no node; only the list's rows are coloured.
    if (header->hwndFrom == listWindow) {
        NMLVCUSTOMDRAW* item = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        const ProcessNode* node = reinterpret_cast<const ProcessNode*>(draw->lItemlParam);
        if (node && (node->flags & NODE_NEW)) {
            item->clrTextBk = RGB(150, 255, 255);
        } else if (node && (node->flags & NODE_GONE)) {
            item->clrTextBk = RGB(255, 200, 200);
        }
    }
    return CDRF_NEWFONT;
}

static void OnColumnClick(WPARAM controlId, NMLISTVIEW* click) {
    int column = click->iSubItem;
    sortDirection = column == sortColumn ? -sortDirection : 1;
    sortColumn = column;
    SortParam param = {static_cast<int>(controlId), column, sortDirection};
    SendMessageA(listWindow, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&param),
                 reinterpret_cast<LPARAM>(CompareNodes));
    UpdateSortArrow(listWindow, 0);
}

struct ToolTipRow {
    UINT commandId;
    UINT stringId;
};

static const ToolTipRow toolTips[] = {
    {IDM_REFRESH, 17},      {IDM_TERMINATE, 18},    {IDM_DEBUG, 19},        {IDM_THREADS, 20},
    {IDM_VERSION, 25},      {IDM_SWITCH_TO, 26},    {IDM_MODULES, 21},      {IDM_MEMORY, 22},
    {IDM_HEAPS, 24},        {IDM_PRIORITY, 23},     {IDM_FINDER, 27},       {IDM_SAVE_LIST, 28},
    {IDM_PROCESS_TREE, 29}, {IDM_MODULE_USAGE, 30}, {IDM_APPLICATIONS, 32}, {IDM_STARTUP_INFO, 34},
    {IDM_COPY_PATH, 35},
};

static void OnToolTipText(NMTTDISPINFOA* info) {
    for (const ToolTipRow& row : toolTips) {
        if (row.commandId == info->hdr.idFrom) {
            info->lpszText = MAKEINTRESOURCEA(row.stringId);
            break;
        }
    }
    info->hinst = appInstance;
}

LRESULT OnProcessListNotify(HWND window, WPARAM wParam, NMHDR* header) {
    switch (header->code) {
    case LVN_GETDISPINFOA:
        if (wParam == IDC_LIST_MAIN) {
            GetCellText(reinterpret_cast<NMLVDISPINFOA*>(header));
        }
        return 0;
    case LVN_COLUMNCLICK:
        OnColumnClick(wParam, reinterpret_cast<NMLISTVIEW*>(header));
        return 0;
    case LVN_DELETEITEM: {
        ProcessNode* node =
            ItemNode(header->hwndFrom, reinterpret_cast<NMLISTVIEW*>(header)->iItem);
        if (node && (node->flags & NODE_HIDDEN)) {
            node->flags &= ~NODE_HAS_ROW;
        } else if (node) {
            UnlinkNode(node);
            free(node);
        }
        return 0;
    }
    case NM_CUSTOMDRAW:
        return OnCustomDraw(header);
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK:
    case LVN_KEYDOWN:
        if (wParam == IDC_LIST_MAIN) {
            if (header->code == LVN_KEYDOWN) {
                OnMainListKey(reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey);
            }
            PostMessageA(window, MSG_LIST_EVENT, header->code, IDC_LIST_MAIN);
        }
        return 0;
    case TBN_BEGINDRAG:
        if (wParam == IDC_TOOLBAR && reinterpret_cast<NMTOOLBARA*>(header)->iItem == IDM_FINDER &&
            !findDragging) {
            BeginFindDrag();
        }
        return 0;
    case TTN_NEEDTEXTA:
        OnToolTipText(reinterpret_cast<NMTTDISPINFOA*>(header));
        return 0;
    default:
        return 0;
    }
}
