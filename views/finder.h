// The find-window tool: drag the toolbar's finder over a window to select
// the process that owns it.
#ifndef TOLVANE_VIEWS_FINDER_H
#define TOLVANE_VIEWS_FINDER_H

#include <windows.h>

extern int findDragging;

void BeginFindDrag();
LRESULT OnFindMouseMove(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT EndFindDrag(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_CAPTURECHANGED: a drag whose capture another window took ends unselected.
LRESULT OnFindCaptureChanged(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND HighlightWindow(HWND window);
void DrawWindowFrame(HWND window);
int SelectWindowProcess(HWND window);

#endif
