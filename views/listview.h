// List-view helpers that every window with a report list uses: columns from
// a table of definitions, and the sort arrows in the header.
#ifndef TOLVANE_VIEWS_LISTVIEW_H
#define TOLVANE_VIEWS_LISTVIEW_H

#include <windows.h>
#include <commctrl.h>

// Low 16 bits: string id of the caption; high 16 bits: width in pixels. A
// table ends with a definition whose string id is 0.
typedef DWORD ColumnDef;

HWND CreateListView(HWND parent, DWORD style, DWORD exStyle, const ColumnDef* columns, int count,
                    int id);
int InsertColumns(HWND list, const ColumnDef* columns, int count);
// Inserts one column at `index` with the given LVCFMT_ alignment, at least
// as wide as its caption beside the sort arrow; 0 on failure.
int InsertColumn(HWND list, int index, ColumnDef definition, int format);
// Widens a column that is too narrow to show the text whole.
void WidenColumnFor(HWND list, int column, const char* text);
// Widens a column that is too narrow for `count` of the widest of `digits`:
// the room of the longest number of that many digits.
void WidenColumnForDigits(HWND list, int column, const char* digits, int count);

// Moves a list header's sort arrow from `*shownColumn` to `column`, pointing
// up for an ascending and down for a descending order.
void PlaceSortArrow(HWND list, int* shownColumn, int column, int direction);
// Sets the format and bitmap of one column of a header control.
void SetHeaderBitmap(HWND header, int column, int format, HBITMAP bitmap);

// The arrow bitmaps shown before new system colours came.
struct ArrowBitmaps {
    HBITMAP ascending;
    HBITMAP descending;
};
// New system colours: the next placed arrow loads the bitmaps again in them.
// Returns the bitmaps shown so far, for EndArrowReload.
ArrowBitmaps BeginArrowReload();
// Gives every header that showed the old bitmaps the new ones, then deletes
// the old ones (kept when a header could not be followed).
void EndArrowReload(ArrowBitmaps old);

#endif
