// The main process list: nodes merged from each refresh pass, their rows in
// the report list view, highlights, sorting, cell texts and the status text.
#ifndef TOLVANE_VIEWS_PROCESSLIST_H
#define TOLVANE_VIEWS_PROCESSLIST_H

#include <windows.h>
#include <commctrl.h>

#include "sysinfo/process_entry.h"

// A row's record: a whole copy of the entry the back-end handed over, whose
// links, flags and mark time belong to the list.
typedef ProcessEntry ProcessNode;

enum NodeFlags {
    NODE_SEEN = 0x1,
    NODE_FILTERED_OUT = 0x4,
    NODE_NEW = 0x8,
    NODE_GONE = 0x10,
    NODE_HAS_ROW = 0x20, // the node backs a row of the list view
    // The module filter took the row away; the node stays known so that the
    // next pass asks the process only what may change, and the row comes
    // back when the filter lets the process in again.
    NODE_HIDDEN = 0x40,
    // The process ended and another one took its id: the node keeps its
    // row until it has been shown gone, but lookups by id no longer find it.
    NODE_RETIRED = 0x80,
    NODE_EXPIRED = 0x1000,
};

enum { HIGHLIGHT_MILLISECONDS = 2000 };

// Low 16 bits: string id of the caption; high 16 bits: width in pixels. A
// table ends with a definition whose string id is 0.
typedef DWORD ColumnDef;

enum CellKind {
    CELL_NAME = 0,
    CELL_ID = 1,
    CELL_PRIORITY = 2,
    CELL_THREADS = 3,
    CELL_TYPE = 4,
    CELL_PATH = 5,
};

struct ColumnSet {
    ColumnDef* columns; // writable: the stored widths replace the defaults
    const int* order;   // column index -> CellKind
    int count;
};

struct SortParam {
    int listId;
    int column;
    int direction;
};

extern ColumnSet activeColumns;
extern ProcessNode* processListHead;
extern int sortColumn;
extern int sortDirection;
extern int arrowColumn;
extern int refreshSuspended;

// Chooses the family's column table; run once before the stored widths are applied.
void ActivateColumnSet();
int GetColumnWidth(int column);
void SetColumnWidth(int column, WORD width);

HWND CreateListView(HWND parent, DWORD style, DWORD exStyle, const ColumnDef* columns, int count,
                    int id);
int InsertColumns(HWND list, const ColumnDef* columns, int count);

ProcessNode* FindNode(DWORD processId, DWORD kind);
int MergeEntry(HWND list, const ProcessEntry* entry);
void RefreshPass(HWND list);
void RefreshProcessList();
void ReloadProcessList();
void ClearProcessList(HWND list);
void RemoveStaleRows(HWND list, int force);
// Clears the filter's mark on every node, so that the next pass shows every
// process again.
void ClearFilterMarks();
void ExpireHighlights();
ProcessNode* GetRowNode(int index);
DWORD GetSelectedProcess(HWND list, char* buffer, int length);
int SelectProcessById(DWORD processId);
void UpdateStatusText(ProcessNode* node);
int CALLBACK CompareNodes(LPARAM a, LPARAM b, LPARAM param);
void UpdateSortArrow(HWND list, int reload);
// Moves a list header's sort arrow from `*shownColumn` to `column`, pointing
// up for an ascending and down for a descending order.
void PlaceSortArrow(HWND list, int* shownColumn, int column, int direction);
// Sets the format and bitmap of one column of a header control.
void SetHeaderBitmap(HWND header, int column, int format, HBITMAP bitmap);
// The main window's WM_NOTIFY handling for the list and the toolbar.
LRESULT OnProcessListNotify(HWND window, WPARAM wParam, NMHDR* header);

#endif
