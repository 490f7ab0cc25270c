// The main process list: its column sets and the list-view control.
#ifndef TOLVANE_VIEWS_PROCESSLIST_H
#define TOLVANE_VIEWS_PROCESSLIST_H

#include <windows.h>

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

extern ColumnSet activeColumns;

// Chooses the family's column table; run once before the stored widths are applied.
void ActivateColumnSet();
int GetColumnWidth(int column);
void SetColumnWidth(int column, WORD width);

HWND CreateListView(HWND parent, DWORD style, DWORD exStyle, const ColumnDef* columns, int count,
                    int id);
int InsertColumns(HWND list, const ColumnDef* columns, int count);

extern int refreshSuspended;

void ReloadProcessList();
void RefreshProcessList();
void ExpireHighlights();

#endif
