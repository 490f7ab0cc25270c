// The main list's order and texts: how two rows compare under a column's
// sort, the header's arrow for it, and the text of each cell.
#ifndef TOLVANE_VIEWS_LISTCELLS_H
#define TOLVANE_VIEWS_LISTCELLS_H

#include <windows.h>
#include <commctrl.h>

struct SortParam {
    int listId;
    int column;
    int direction;
};

extern int sortColumn;
extern int sortDirection;
extern int arrowColumn;

int CALLBACK CompareNodes(LPARAM a, LPARAM b, LPARAM param);
void UpdateSortArrow(HWND list, int reload);
// Fills a cell's text from the row's node when the list paints it.
void GetCellText(NMLVDISPINFOA* info);

#endif
