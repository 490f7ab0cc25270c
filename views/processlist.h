// The main process list: nodes merged from each refresh pass, their rows in
// the report list view, highlights, the view kept in place across a pass,
// the selection and the status text. Its column sets, node table, order and
// cell texts, and notifications have files of their own, included here for
// the windows that use the list.
#ifndef TOLVANE_VIEWS_PROCESSLIST_H
#define TOLVANE_VIEWS_PROCESSLIST_H

#include <windows.h>
#include <commctrl.h>

#include "views/columns.h"
#include "views/listcells.h"
#include "views/listview.h"
#include "views/nodetable.h"
#include "views/processnode.h"

enum {
    HIGHLIGHT_MILLISECONDS = 2000,
    // A slice of reading processes a pass left waiting, and the timer that
    // starts the next one while input waits.
    SLICE_MILLISECONDS = 30,
    SLICE_TIMER_MILLISECONDS = 10,
};

extern int refreshSuspended;

int MergeEntry(HWND list, const ProcessEntry* entry);
void RefreshPass(HWND list);
// One slice: deletes the rows of ended processes a pass left for later,
// reads processes the pass left waiting and gives them their rows, keeping
// the view; schedules the next slice while work is left.
void ReadWaitingRows(HWND list);
// Does what the slices would do, at once, for a window that walks the list.
void CompleteProcessList(HWND list);
// The node of a Win32 process, read at once if it waits; null when the
// list does not know the process.
ProcessNode* FindOrReadNode(DWORD processId);
void RefreshProcessList();
void ReloadProcessList();
void ClearProcessList(HWND list);
void RemoveStaleRows(HWND list, int force);
// Clears the filter's mark on every node, so that the next pass shows every
// process again.
void ClearFilterMarks();
// The filter box's text changed: rows go for the processes it leaves out
// and come back for those it lets in, the view and the selection kept.
void ApplyListFilter(HWND list);
void ExpireHighlights();
ProcessNode* GetRowNode(int index);
ProcessNode* GetSelectedNode(HWND list);
DWORD GetSelectedProcess(HWND list, char* buffer, int length);
int SelectProcessById(DWORD processId);
// Selects the row of that very process, its id with its creation time (0:
// the process the id names now); 1 when it has one.
int SelectProcessByIdentity(DWORD processId, ULONGLONG createTime);
void UpdateStatusText(ProcessNode* node);
// The process's state changed by an action: its row is drawn again and,
// when it is selected, the commands and the status bar follow.
void ShowNodeState(ProcessNode* node);
// A row is being deleted: its node goes with it, unless the module filter
// only took the row away.
void ReleaseRowNode(HWND list, int row);
// The main window's WM_NOTIFY handling for the list and the toolbar.
LRESULT OnProcessListNotify(HWND window, WPARAM wParam, NMHDR* header);

#endif
