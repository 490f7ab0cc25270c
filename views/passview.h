// The main list's view kept in place across a refresh pass: the rows in
// view stay where they were while rows come and go above them, the selected
// row stays in view, and a pass that changes many rows draws the list once.
#ifndef TOLVANE_VIEWS_PASSVIEW_H
#define TOLVANE_VIEWS_PASSVIEW_H

#include <windows.h>
#include <commctrl.h>

// More row changes than this in one pass draw the list once, at its end.
enum { BURST_ROW_CHANGES = 4 };

// Notes the view of the list before a pass changes its rows.
void BeginPassView(HWND list);
// Puts the rows that were in view back where they were, keeps the selected
// row in view, and draws the list once if the pass had stopped its drawing.
void EndPassView(HWND list);
// Whether a pass view of this list is open.
int IsPassViewOf(HWND list);
// Stops the list's drawing until the pass view ends.
void StopPassRedraw(HWND list);
// Whether the open pass view of this list has stopped its drawing.
int IsPassRedrawOff(HWND list);

// What a pass does to the rows of the list of the open pass view; nothing
// for another list.
void NoteRowChange(HWND list);
void NoteRowInserted(HWND list, int row);
void BeforeRowDeleted(HWND list, int row);

// The index of the first visible row.
int TopRow(HWND list);
// Scrolls the list so that `row` is its first visible row, as far as the
// list's length allows.
void ScrollRowToTop(HWND list, int row);

#endif
