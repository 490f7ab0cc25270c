#include "app/help.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"

LRESULT ShowHelp(HWND, WPARAM, WPARAM, LPARAM) {
    // Room for the program's path and the new extension.
    char path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 0;
    }
    path[length] = 0;
    // The extension of the file name only: a folder's dot is not one.
    char* slash = FindLastByte(path, '\\');
    char* dot = FindLastByte(slash ? slash : path, '.');
    if (dot) {
        *dot = 0;
    }
    lstrcatA(path, ".hlp");
    // A missing file is reported by the help system.
    WinHelpA(mainWindow, path, HELP_CONTENTS, 0);
    return 0;
}

LRESULT ShowAbout(HWND, WPARAM, WPARAM, LPARAM) {
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), mainWindow, AboutDlgProc, 0);
    return 0;
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ApplyDialogFont(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
