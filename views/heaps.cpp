#include "views/heaps.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "views/savelist.h"

#include <stdlib.h>

enum { BLOCK_HEADER_TEXT = 492, HEAP_HEADER_TEXT = 493, HEAP_ROW_SIZE = 100 };

DWORD selectedHeapId;
static HWND heapList;
static HWND heapBlockList;

static void BeginRefill(HWND listBox) {
    SendMessageA(listBox, WM_SETREDRAW, FALSE, 0);
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
}

static void EndRefill(HWND listBox) {
    SendMessageA(listBox, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listBox, nullptr, TRUE);
}

void FillHeaps(HWND listBox, DWORD processId) {
    if (listBox) {
        BeginRefill(listBox);
    }
    ListHeaps(listBox, processId);
    if (listBox) {
        EndRefill(listBox);
    }
}

void FillHeapBlocks(HWND listBox, DWORD processId, DWORD heapId) {
    if (listBox) {
        BeginRefill(listBox);
    }
    ListHeapBlocks(listBox, processId, heapId);
    if (listBox) {
        EndRefill(listBox);
    }
}

LRESULT OpenHeapsWindow(HWND, WPARAM, WPARAM, LPARAM) {
    selectedProcessId = BuildDetailTitle(heapsTitlePrefix);
    if (selectedProcessId != 0) {
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_HEAPS), mainWindow, HeapsDlgProc, 0);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}

// The heap id that the selected row begins with; 0 without one.
static DWORD SelectedHeapId(HWND listBox) {
    LRESULT row = SendMessageA(listBox, LB_GETCURSEL, 0, 0);
    if (row < 0 || SendMessageA(listBox, LB_GETTEXTLEN, row, 0) >= HEAP_ROW_SIZE) {
        return 0;
    }
    char text[HEAP_ROW_SIZE];
    text[0] = 0;
    if (SendMessageA(listBox, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text)) < 0) {
        return 0;
    }
    return strtoul(text, nullptr, 16);
}

INT_PTR CALLBACK HeapsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    static const int tabStops[] = {40, 80, 124, 168, 204, 248};
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        heapList = GetDlgItem(dialog, IDC_HEAP_LIST);
        SetWindowTextA(dialog, detailText);
        SetListHeader(dialog, IDC_HEAP_LIST, IDC_HEAP_HEADER, HEAP_HEADER_TEXT, 6, tabStops);
        FillHeaps(heapList, selectedProcessId);
        return TRUE;
    case WM_VKEYTOITEM:
        if (LOWORD(wParam) == 'S' || LOWORD(wParam) == VK_F2) {
            SaveListBoxRows(dialog, heapList);
        } else if (LOWORD(wParam) == VK_F5 && !DetailProcessEnded(dialog)) {
            FillHeaps(heapList, selectedProcessId);
        }
        return -1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        } else if (LOWORD(wParam) == IDC_HEAP_LIST && HIWORD(wParam) == LBN_DBLCLK) {
            selectedHeapId = SelectedHeapId(heapList);
            if (selectedHeapId != 0) {
                DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_HEAP_BLOCKS), dialog,
                                HeapBlocksDlgProc, 0);
            }
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK HeapBlocksDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    static const int tabStops[] = {40, 80, 120, 160};
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        heapBlockList = GetDlgItem(dialog, IDC_HEAP_BLOCK_LIST);
        SetListHeader(dialog, IDC_HEAP_BLOCK_LIST, IDC_HEAP_BLOCK_HEADER, BLOCK_HEADER_TEXT, 4,
                      tabStops);
        FillHeapBlocks(heapBlockList, selectedProcessId, selectedHeapId);
        return TRUE;
    default:
        return EndDetailDialog(dialog, message, wParam);
    }
}
