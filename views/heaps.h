// The heaps window and the heap blocks window (Windows 95 family): the heaps
// of the selected process with their totals, and the blocks of one heap.
#ifndef TOLVANE_VIEWS_HEAPS_H
#define TOLVANE_VIEWS_HEAPS_H

#include <windows.h>

// The heap whose blocks the heap blocks window shows.
extern DWORD selectedHeapId;

// Command handler: opens the heaps window for the selected process.
LRESULT OpenHeapsWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
// Empties the list box (when given) and lists the heaps, or the blocks of one
// heap, of the process; the list shows its first rows afterwards.
void FillHeaps(HWND listBox, DWORD processId);
void FillHeapBlocks(HWND listBox, DWORD processId, DWORD heapId);
INT_PTR CALLBACK HeapsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK HeapBlocksDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
