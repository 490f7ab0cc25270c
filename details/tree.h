// The process tree window: every process of the main list under its parent,
// a navigator that selects in the main list.
#ifndef TOLVANE_DETAILS_TREE_H
#define TOLVANE_DETAILS_TREE_H

#include "views/processnode.h"

#include <windows.h>

// Raised while the window changes the tree itself, so that the selection
// changes it makes are not echoed to the main list.
extern int treeBusy;

// Command handler: opens the window with the main list's selection selected.
LRESULT OpenProcessTree(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
INT_PTR CALLBACK TreeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Fills the tree from the main list's nodes, writing each item into the
// save file when one is open.
void BuildProcessTree(HWND tree, DWORD selectedId);
// Whether the child's parent is the node's process: its parent id, and a
// child is younger than its parent and, when the id went to a new process
// since, older than that one.
int IsChildProcess(const ProcessNode* child, const ProcessNode* node);
// Moves a dialog right by the width of the main list's name column.
void PlaceBesideNameColumn(HWND dialog);

#endif
