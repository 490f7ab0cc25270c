// Ending a process together with every process below it in the tree.
#ifndef TOLVANE_DETAILS_ENDTREE_H
#define TOLVANE_DETAILS_ENDTREE_H

#include <windows.h>

// Command handler: asks, naming the selected process and how many processes
// below it will end, then ends them, the deepest first, and names in one
// message those that could not be ended.
LRESULT EndSelectedProcessTree(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
