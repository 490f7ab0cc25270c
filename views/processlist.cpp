#include "views/processlist.h"
#include "app/dbcs.h"
#include "app/trayload.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/machineload.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"
#include "sysinfo/processhandles.h"
#include "sysinfo/suspend.h"
#include "views/figures.h"
#include "views/finder.h"
#include "views/listfilter.h"
#include "views/passview.h"
#include "views/version.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

ProcessNode* processListHead = nullptr;
int refreshSuspended = 0;

static DWORD lastStatusProcessId = static_cast<DWORD>(-1);
static int lastStatusCount = -1;
static int lastStatusTotal = -1;
static int lastStatusSuspended = 0;
static int lastStatusCpu = -1;
static int lastStatusMemory = -1;
static char processCountSuffix[260];
static char cpuStatusFormat[260];
static char memoryStatusFormat[260];
static char filteredCountFormat[260];
static int processCountSuffixLoaded = 0;

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

void ReleaseRowNode(HWND list, int row) {
    ProcessNode* node = ItemNode(list, row);
    if (node && (node->flags & NODE_HIDDEN)) {
        node->flags &= ~NODE_HAS_ROW;
    } else if (node) {
        UnlinkNode(node);
        free(node);
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

// `figures`: the mask of figure cells whose text changed (MergeFigures).
static void NoteSortKeyChange(const ProcessNode* node, const ProcessEntry* entry, int figures) {
    if (sortColumn < 0 || sortColumn >= activeColumns.count) {
        return;
    }
    int kind = activeColumns.order[sortColumn];
    if ((kind == CELL_PRIORITY && node->priorityClass != entry->priorityClass) ||
        (kind == CELL_THREADS && node->threadCount != entry->threadCount) ||
        (figures & (1 << kind))) {
        sortKeyChanged = 1;
    }
}

static void SortRows(HWND list) {
    SortParam param = {IDC_LIST_MAIN, sortColumn, sortDirection};
    SendMessageA(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&param),
                 reinterpret_cast<LPARAM>(CompareNodes));
}

// One row before the rows are put in order again: its node and whether it
// is selected or has the focus.
struct RowPlace {
    ProcessNode* node;
    UINT state;
};

// Puts the rows in the order the header's arrow shows after a pass changed
// sort keys. The rows mostly stand in order already: each node moves to
// its row, and only the rows that get another node are rewritten and
// drawn again. The selection and the focus go with their processes; the
// rows in view stay in view.
static void ReorderRows(HWND list) {
    int count = RowCount(list);
    RowPlace* rows = count > 0 ? static_cast<RowPlace*>(malloc(count * sizeof(RowPlace))) : nullptr;
    if (!rows) {
        if (count > 0) {
            SortRows(list);
        }
        return;
    }
    for (int row = 0; row < count; row++) {
        rows[row].node = ItemNode(list, row);
        rows[row].state = static_cast<UINT>(
            SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED | LVIS_FOCUSED));
    }
    SortParam param = {IDC_LIST_MAIN, sortColumn, sortDirection};
    ProcessNode** before = static_cast<ProcessNode**>(malloc(count * sizeof(ProcessNode*)));
    for (int row = 0; before && row < count; row++) {
        before[row] = rows[row].node;
    }
    // Insertion: few steps for rows that are nearly in order; equal rows
    // keep their order.
    for (int row = 1; row < count; row++) {
        RowPlace moving = rows[row];
        int place = row;
        while (place > 0 && rows[place - 1].node && moving.node &&
               CompareNodes(reinterpret_cast<LPARAM>(moving.node),
                            reinterpret_cast<LPARAM>(rows[place - 1].node),
                            reinterpret_cast<LPARAM>(&param)) < 0) {
            rows[place] = rows[place - 1];
            place--;
        }
        rows[place] = moving;
    }
    int top = TopRow(list);
    int perPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    // Selections are cleared before any is set, so that the one selection
    // of the list never stands on two rows.
    for (int pass = 0; pass < 2 && before; pass++) {
        for (int row = 0; row < count; row++) {
            if (rows[row].node == before[row] ||
                (pass == 0) != !(rows[row].state & LVIS_SELECTED)) {
                continue;
            }
            LVITEMA item;
            item.mask = LVIF_PARAM | LVIF_STATE;
            item.iItem = row;
            item.iSubItem = 0;
            item.lParam = reinterpret_cast<LPARAM>(rows[row].node);
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            item.state = rows[row].state;
            SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            RECT bounds;
            bounds.left = LVIR_BOUNDS;
            if (row >= top && row <= top + perPage &&
                SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) {
                InvalidateRect(list, &bounds, FALSE);
            }
        }
    }
    if (!before) {
        SortRows(list);
    }
    free(before);
    free(rows);
}

// Gives the node its row at its sorted place; 0 when the list refused it.
static int InsertNodeRow(HWND list, ProcessNode* node) {
    int index = SortedRowIndex(list, node);
    NoteRowChange(list);
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

static void MarkFilterMatch(ProcessNode* node) {
    node->flags =
        MatchesListFilter(node) ? node->flags & ~NODE_UNMATCHED : node->flags | NODE_UNMATCHED;
}

// A process met for the first time: its row, unless the filter box's text
// leaves it out, which keeps its node without one.
static int InsertRowUnlessFiltered(HWND list, ProcessNode* node) {
    MarkFilterMatch(node);
    if (node->flags & NODE_UNMATCHED) {
        node->flags |= NODE_HIDDEN;
        return 1;
    }
    return InsertNodeRow(list, node);
}

// Both creation times known and different: the id was given to a new
// process since the node's process was reported.
static int IsAnotherProcess(const ProcessNode* node, const ProcessEntry* entry) {
    return IsOtherProcessTime(node->createTime, entry->createTime);
}

// The node's process has ended: it is no longer found by its id, and the
// pass, which does not see it, treats its row as that of a vanished process.
static void RetireNode(ProcessNode* node) {
    RemoveFromNodeTable(node);
    node->flags |= NODE_RETIRED;
}

static int IsRowSelected(HWND list, int row);

int MergeEntry(HWND list, const ProcessEntry* entry) {
    ProcessNode* node = FindNode(entry->processId, entry->kind);
    if (node && IsAnotherProcess(node, entry)) {
        RetireNode(node);
        node = nullptr;
    }
    // A time not known when the process was met (it was being created).
    if (node && !node->createTime) {
        node->createTime = entry->createTime;
    }
    if (node && (node->flags & ENTRY_NO_ACCESS)) {
        node->flags |= NODE_SEEN;
        if (entry->flags & ENTRY_NO_ACCESS) {
            // Without a row, its figures still count (the busiest process).
            if (resourceColumns) {
                MergeFigures(node, entry);
            }
            return 1;
        }
        // Readable now (it was still starting, or a new process took over the
        // id): it becomes what a process met for the first time becomes.
        ProcessNode* next = node->next;
        ProcessNode* prev = node->prev;
        *node = *entry;
        node->next = next;
        node->prev = prev;
        StartFigures(node);
        node->flags = NODE_SEEN | NODE_NEW;
        node->markTime = Now() + HIGHLIGHT_MILLISECONDS;
        return InsertRowUnlessFiltered(list, node);
    }
    if (node) {
        node->flags |= NODE_SEEN;
        // The figures change from pass to pass: only their cells that show
        // another text are drawn again.
        int figures = resourceColumns ? MergeFigures(node, entry) : 0;
        if (!(node->flags & NODE_EXPIRED) && node->priorityClass == entry->priorityClass &&
            node->threadCount == entry->threadCount && node->affinityMask == entry->affinityMask &&
            node->suspendState == entry->suspendState) {
            if (figures) {
                NoteSortKeyChange(node, entry, figures);
                int row = (node->flags & NODE_HAS_ROW) && !IsPassRedrawOff(list)
                              ? FindNodeRow(list, node)
                              : -1;
                if (row != -1) {
                    RedrawFigureCells(list, row, figures);
                }
            }
            return 1;
        }
        node->flags &= ~NODE_EXPIRED;
        NoteSortKeyChange(node, entry, figures);
        // Also a node without a row keeps up, for when its row comes back.
        node->priorityClass = entry->priorityClass;
        node->threadCount = entry->threadCount;
        node->affinityMask = entry->affinityMask;
        int suspendChange = node->suspendState != entry->suspendState;
        node->suspendState = entry->suspendState;
        int row = FindNodeRow(list, node);
        if (row != -1) {
            InvalidateRowTexts(list, row);
            // The selected process's commands and description follow its state.
            if (suspendChange && IsRowSelected(list, row)) {
                UpdateCommandStates(node);
                UpdateStatusText(node);
            }
        }
        return 1;
    }

    node = static_cast<ProcessNode*>(malloc(sizeof(ProcessNode)));
    if (!node) {
        return 0;
    }
    *node = *entry;
    StartFigures(node);
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
    return InsertRowUnlessFiltered(list, node);
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
    return (node->flags & (NODE_HIDDEN | NODE_SEEN | NODE_FILTERED_OUT | NODE_UNMATCHED |
                           ENTRY_NO_ACCESS)) == (NODE_HIDDEN | NODE_SEEN);
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

// Set when a pass left rows of ended processes to delete to the next slice.
static int staleRowsLeft = 0;

void RemoveStaleRows(HWND list, int force) {
    // The filter's removal keeps the view as a pass does: the rows in view
    // stay in place, and many rows going or coming back draw once.
    int ownView = force && !IsPassViewOf(list);
    if (ownView) {
        BeginPassView(list);
        if (FilterRowChanges(list) > BURST_ROW_CHANGES) {
            StopPassRedraw(list);
        }
    }
    // A pass's deletions stop after a slice's time; the next slice goes on
    // with them, so that the window answers while hundreds of rows go.
    DWORD start = Now();
    staleRowsLeft = 0;
    for (int row = RowCount(list) - 1; row >= 0; row--) {
        if (!force && Now() - start >= SLICE_MILLISECONDS) {
            staleRowsLeft = 1;
            break;
        }
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
            // Many rows marked at once are drawn with the whole list when the
            // pass ends, not asked for their texts one by one.
            NoteRowChange(list);
            if (!IsPassRedrawOff(list)) {
                InvalidateRowTexts(list, row);
            }
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

// After a pass that left processes waiting or rows to delete, slices do
// the rest while the window goes on answering: each slice is started by a
// message posted to the main window, or by a short timer when input waits
// (a posted message would be taken before it), and draws the list once.

// The window the next slice was asked of, null when none is: a window
// destroyed with its message still queued does not keep the next one's
// slices from being asked.
static HWND sliceScheduledFor = nullptr;

static void ScheduleWaitingRows() {
    if (sliceScheduledFor == mainWindow || !mainWindow) {
        return;
    }
    int asked = GetInputState()
                    ? SetTimer(mainWindow, SLICE_TIMER_ID, SLICE_TIMER_MILLISECONDS, nullptr) != 0
                    : PostMessageA(mainWindow, MSG_READ_WAITING, 0, 0) != 0;
    sliceScheduledFor = asked ? mainWindow : nullptr;
}

// What follows any change of rows: with no row selected, the commands and
// the status bar's process count follow the list.
static void AfterRowsChanged(HWND list) {
    if (SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 0) {
        UpdateCommandStates(nullptr);
        UpdateStatusText(nullptr);
    }
}

void ReadWaitingRows(HWND list) {
    if (sliceScheduledFor) {
        KillTimer(sliceScheduledFor, SLICE_TIMER_ID);
        sliceScheduledFor = nullptr;
    }
    // A slice whose work was done meanwhile (a window read the waiting
    // processes) changes nothing: switching the list's drawing off and on
    // would repaint it whole.
    if (!staleRowsLeft && ReadWaitingProcesses(list, 0) == 0) {
        return;
    }
    BeginPassView(list);
    // A row inserted while the list draws costs it several times the reading
    // of the process: the slice draws the list once, at its end.
    StopPassRedraw(list);
    if (staleRowsLeft) {
        RemoveStaleRows(list, 0);
    }
    // A slice that spent its time deleting reads nothing.
    int left = ReadWaitingProcesses(list, staleRowsLeft ? 0 : SLICE_MILLISECONDS);
    EndPassView(list);
    AfterRowsChanged(list);
    // Messages other programs send wait no longer than the reading; then the
    // list and the status bar's count are painted, since the next slice's
    // message would come before the paints.
    MSG sent;
    PeekMessageA(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    RedrawWindow(mainWindow, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (left > 0 || staleRowsLeft) {
        ScheduleWaitingRows();
    }
}

ProcessNode* FindOrReadNode(DWORD processId) {
    ProcessNode* node = FindNode(processId, KIND_WIN32);
    // A node whose process has ended may have left its id to a new process
    // that waits for its slice.
    if ((node && !(node->flags & NODE_GONE)) || !listWindow) {
        return node;
    }
    BeginPassView(listWindow);
    int read = ReadWaitingProcess(listWindow, processId);
    EndPassView(listWindow);
    if (read) {
        AfterRowsChanged(listWindow);
    }
    return FindNode(processId, KIND_WIN32);
}

void CompleteProcessList(HWND list) {
    if (ReadWaitingProcesses(list, 0) == 0 && !staleRowsLeft) {
        return;
    }
    BeginPassView(list);
    while (staleRowsLeft) {
        RemoveStaleRows(list, 0);
    }
    ReadWaitingProcesses(list, -1);
    EndPassView(list);
    AfterRowsChanged(list);
}

void RefreshPass(HWND list) {
    for (ProcessNode* node = processListHead; node; node = node->next) {
        node->flags &= ~NODE_SEEN;
    }
    BeginPassView(list);
    sortKeyChanged = 0;
    EnumerateProcesses(list);
    if (resourceColumns && ntFamily) {
        SampleMachineLoad();
    }
    if (sortKeyChanged) {
        ReorderRows(list);
    }
    ShowHiddenRows(list);
    RemoveStaleRows(list, 0);
    EndPassView(list);
    DropUnreportedRowlessNodes();
    AfterRowsChanged(list);
    ShowTrayLoad();
    if (ReadWaitingProcesses(list, 0) > 0 || staleRowsLeft) {
        ScheduleWaitingRows();
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
    staleRowsLeft = 0;
    // Starting over: the back-end reads every process whole again.
    ForgetLearnedProcesses();
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
    ULONGLONG createTime;
};

static ProcessKey RowKey(HWND list, int row) {
    ProcessKey key = {0, 0, 0, 0};
    ProcessNode* node = row == -1 ? nullptr : ItemNode(list, row);
    if (node) {
        key = {1, node->processId, node->kind, node->createTime};
    }
    return key;
}

// The row of the remembered process, or -1; a process still waiting to be
// read is read first. A process that took the id since is another one.
static int KeyRow(HWND list, const ProcessKey& key) {
    if (key.present && key.kind == KIND_WIN32) {
        FindOrReadNode(key.processId);
    }
    ProcessNode* node = key.present ? FindNode(key.processId, key.kind) : nullptr;
    if (!node || IsOtherProcessTime(node->createTime, key.createTime)) {
        return -1;
    }
    return (node->flags & NODE_HAS_ROW) ? FindNodeRow(list, node) : -1;
}

// Selects the row as the user left it, and the commands and the status bar
// follow it.
static void RestoreSelectedRow(HWND list, int row) {
    LVITEMA item;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    ProcessNode* node = ItemNode(list, row);
    UpdateCommandStates(node);
    UpdateStatusText(node);
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
        RestoreSelectedRow(listWindow, selectedRow);
    }
    SendMessageA(listWindow, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listWindow, nullptr, TRUE);
}

// The process selected when the filter last changed: a row the filter took
// away is selected again when a later text lets it back in.
static ProcessKey filterSelection = {0, 0, 0, 0};

void ApplyListFilter(HWND list) {
    if (SelectedRow(list) != -1) {
        filterSelection = RowKey(list, SelectedRow(list));
    }
    int changes = 0;
    for (ProcessNode* node = processListHead; node; node = node->next) {
        DWORD before = node->flags & NODE_UNMATCHED;
        MarkFilterMatch(node);
        changes += before != (node->flags & NODE_UNMATCHED);
    }
    if (changes == 0) {
        AfterRowsChanged(list);
        return;
    }
    // As a pass does: the rows in view stay, many changes draw once.
    int ownView = !IsPassViewOf(list);
    if (ownView) {
        BeginPassView(list);
        if (changes > BURST_ROW_CHANGES) {
            StopPassRedraw(list);
        }
    }
    for (int row = RowCount(list) - 1; row >= 0; row--) {
        ProcessNode* node = ItemNode(list, row);
        if (node && (node->flags & NODE_UNMATCHED)) {
            BeforeRowDeleted(list, row);
            node->flags |= NODE_HIDDEN;
            SendMessageA(list, LVM_DELETEITEM, row, 0);
        }
    }
    ShowHiddenRows(list);
    if (ownView) {
        EndPassView(list);
    }
    int selectedRow = SelectedRow(list) == -1 ? KeyRow(list, filterSelection) : -1;
    if (selectedRow != -1) {
        RestoreSelectedRow(list, selectedRow);
    }
    AfterRowsChanged(list);
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

ProcessNode* GetSelectedNode(HWND list) {
    int row = SelectedRow(list);
    return row == -1 ? nullptr : ItemNode(list, row);
}

DWORD GetSelectedProcess(HWND list, char* buffer, int length) {
    ProcessNode* node = GetSelectedNode(list);
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

// Whether the row's node is the process sought: by its id alone, the process
// the id names now (the row of a process whose id went to a new one stays
// for a while, but the id means the new process); with a creation time, that
// very process, also when it has ended since.
static int IsSoughtProcess(const ProcessNode* node, DWORD processId, ULONGLONG createTime) {
    if (!node || node->processId != processId) {
        return 0;
    }
    return createTime ? !IsOtherProcessTime(node->createTime, createTime)
                      : !(node->flags & NODE_RETIRED);
}

int SelectProcessById(DWORD processId) {
    return SelectProcessByIdentity(processId, 0);
}

int SelectProcessByIdentity(DWORD processId, ULONGLONG createTime) {
    // A process that waits to be read gets its row first.
    FindOrReadNode(processId);
    int rows = RowCount(listWindow);
    for (int row = 0; row < rows; row++) {
        ProcessNode* node = ItemNode(listWindow, row);
        if (IsSoughtProcess(node, processId, createTime)) {
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

void ShowNodeState(ProcessNode* node) {
    int row = (node->flags & NODE_HAS_ROW) ? FindNodeRow(listWindow, node) : -1;
    if (row == -1) {
        return;
    }
    InvalidateRowTexts(listWindow, row);
    if (IsRowSelected(listWindow, row)) {
        UpdateCommandStates(node);
        UpdateStatusText(node);
    }
}

void UpdateStatusText(ProcessNode* node) {
    DWORD processId = node ? node->processId : 0;
    int suspended = node && IsProcessSuspended(node);
    if (processId != lastStatusProcessId || suspended != lastStatusSuspended) {
        lastStatusProcessId = processId;
        lastStatusSuspended = suspended;
        lastStatusCount = -1;
        if (node) {
            // A suspended process's description begins with its state.
            char summary[300];
            int length = suspended ? LoadStringA(appInstance, IDS_SUSPENDED_STATE, summary, 32) : 0;
            if (length) {
                length += wsprintfA(summary + length, " - ");
            }
            GetVersionSummary(node->path, node->name, summary + length, 260);
            SetWindowTextA(statusWindow, summary);
        }
    }
    if (node) {
        return;
    }
    int count = RowCount(listWindow);
    // While a filter leaves processes out: how many of all are shown.
    int total = count;
    for (ProcessNode* node = processListHead; node; node = node->next) {
        total += (node->flags & (NODE_HIDDEN | NODE_HAS_ROW | NODE_SEEN | ENTRY_NO_ACCESS)) ==
                 (NODE_HIDDEN | NODE_SEEN);
    }
    if (!listFilterText[0] && total == count) {
        total = -1;
    }
    // With the resource columns: the load of the machine after the count.
    int showLoad = resourceColumns && ntFamily;
    int cpu = showLoad ? machineCpuPercent : -1;
    int memory = showLoad ? memoryLoadPercent : -1;
    if (count != lastStatusCount || total != lastStatusTotal || cpu != lastStatusCpu ||
        memory != lastStatusMemory) {
        lastStatusCount = count;
        lastStatusTotal = total;
        lastStatusCpu = cpu;
        lastStatusMemory = memory;
        if (!processCountSuffixLoaded) {
            processCountSuffixLoaded = 1;
            LoadStringA(appInstance, IDS_PROCESS_COUNT_SUFFIX, processCountSuffix,
                        sizeof processCountSuffix);
            LoadStringA(appInstance, IDS_STATUS_CPU, cpuStatusFormat, 200);
            LoadStringA(appInstance, IDS_STATUS_MEMORY, memoryStatusFormat, 200);
            LoadStringA(appInstance, IDS_FILTERED_COUNT, filteredCountFormat, 200);
        }
        char text[900];
        int length = total >= 0 ? wsprintfA(text, filteredCountFormat, count, total)
                                : wsprintfA(text, "%d %s", count, processCountSuffix);
        if (cpu >= 0) {
            length += wsprintfA(text + length, "    ");
            length += wsprintfA(text + length, cpuStatusFormat, cpu);
        }
        if (memory >= 0) {
            length += wsprintfA(text + length, "    ");
            wsprintfA(text + length, memoryStatusFormat, memory);
        }
        SetWindowTextA(statusWindow, text);
    }
}
