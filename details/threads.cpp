#include "details/threads.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/backend.h"
#include "sysinfo/chosenprocess.h"
#include "views/processlist.h"
#include "views/savelist.h"

#include <string.h>

enum { THREAD_HEADER_TEXT = 494 };

static HWND threadList;
static RECT threadsClientRect;

LRESULT OpenThreadsWindow(HWND, WPARAM, WPARAM, LPARAM) {
    DWORD processId = BuildDetailTitle(threadsTitlePrefix);
    selectedProcessId = processId;
    if (processId != 0) {
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_THREADS), mainWindow, ThreadsDlgProc, 0);
    }
    ReleaseChosenProcess(&chosenProcess);
    return 0;
}

int RefreshThreadList(HWND listBox, DWORD processId) {
    SendMessageA(listBox, WM_SETREDRAW, FALSE, 0);
    LRESULT top = SendMessageA(listBox, LB_GETTOPINDEX, 0, 0);
    SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
    int result = ListThreads(listBox, processId);
    SendMessageA(listBox, LB_SETTOPINDEX, top, 0);
    SendMessageA(listBox, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listBox, nullptr, TRUE);
    return result;
}

int ResizeToClient(HWND dialog, HWND control, LPARAM newSize, RECT* stored) {
    RECT rect;
    GetWindowRect(control, &rect);
    int width = rect.right - rect.left + (LOWORD(newSize) - stored->right);
    int height = rect.bottom - rect.top + (HIWORD(newSize) - stored->bottom);
    if (width <= 0 || height <= 0) {
        return 0;
    }
    SetWindowPos(control, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    GetClientRect(dialog, stored);
    return 1;
}

INT_PTR CALLBACK ThreadsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    static const int tabStops[] = {40};
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        SetWindowTextA(dialog, detailText);
        threadList = GetDlgItem(dialog, IDC_THREAD_LIST);
        GetClientRect(dialog, &threadsClientRect);
        SetListHeader(dialog, IDC_THREAD_LIST, IDC_THREAD_HEADER, THREAD_HEADER_TEXT, 1, tabStops);
        RefreshThreadList(threadList, selectedProcessId);
        if (threadsRefreshSeconds != 0) {
            SetTimer(dialog, REFRESH_TIMER_ID, RefreshPeriodMilliseconds(threadsRefreshSeconds),
                     nullptr);
        }
        return TRUE;
    case WM_TIMER:
        if (!DetailProcessEnded(dialog)) {
            RefreshThreadList(threadList, selectedProcessId);
        }
        return TRUE;
    case WM_VKEYTOITEM:
        // This window saves on S alone, without Ctrl.
        if (LOWORD(wParam) == 'S' || LOWORD(wParam) == VK_F2) {
            SaveListBoxRows(dialog, threadList);
        } else if (LOWORD(wParam) == VK_F5 && !DetailProcessEnded(dialog)) {
            RefreshThreadList(threadList, selectedProcessId);
        }
        return -1;
    case WM_SIZE: {
        // The header follows the window's width, as the list does.
        HWND header = GetDlgItem(dialog, IDC_THREAD_HEADER);
        RECT headerRect;
        GetWindowRect(header, &headerRect);
        if (ResizeToClient(dialog, threadList, lParam, &threadsClientRect)) {
            SetWindowPos(header, nullptr, 0, 0, LOWORD(lParam), headerRect.bottom - headerRect.top,
                         SWP_NOMOVE | SWP_NOZORDER);
        }
        return FALSE;
    }
    default:
        return EndDetailDialog(dialog, message, wParam);
    }
}
