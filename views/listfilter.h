// The main list's filter box at the toolbar's right end: while it holds
// text, the list shows only the processes whose name, full path or id (as
// the list shows it) contains that text.
#ifndef TOLVANE_VIEWS_LISTFILTER_H
#define TOLVANE_VIEWS_LISTFILTER_H

#include <windows.h>

#include "views/processnode.h"

enum { LIST_FILTER_SIZE = 260, FILTER_BOX_WIDTH = 160, FILTER_BOX_MIN_WIDTH = 60 };

extern HWND filterBox;
// What the box holds; empty while the list is not filtered.
extern char listFilterText[LIST_FILTER_SIZE];

// Whether the process passes the filter (every process while it is empty).
int MatchesListFilter(const ProcessNode* node);
// Creates the box as a child of the main window, over the toolbar; null
// when it cannot be made (the list then simply has no filter).
HWND CreateFilterBox(HWND parent, HFONT font);
// Puts the box at the right end of a toolbar of that width and height,
// after its last button.
void PlaceFilterBox(HWND toolbar, int toolbarWidth, int toolbarHeight);
// Ctrl+E and Ctrl+F: the box takes the focus with its text selected.
LRESULT FocusFilterBox(HWND, WPARAM, WPARAM, LPARAM);
// The box's notifications: each change of its text applies at once.
LRESULT OnFilterBoxCommand(HWND, WPARAM, WPARAM, LPARAM);

#endif
