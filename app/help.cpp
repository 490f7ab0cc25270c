#include "app/help.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"

#include <shellapi.h>

// The help page that ships beside the program, written from its user guide;
// one page serves both programs.
static const char helpPageName[] = "tolvane-help.html";

// The help engine of Windows Vista and later shows no help file of the kind
// the program names: only the 95 family and the NT family before version 6
// can show it.
static int HelpFilesShown() {
    DWORD version = GetVersion();
    return (version & 0x80000000) != 0 || LOBYTE(LOWORD(version)) < 6;
}

// Names the page that could not be shown, with the system's reason.
static void ReportHelpFailure(UINT formatId, const char* page, DWORD error) {
    char format[260];
    char subject[sizeof format + MAX_PATH + 32];
    LoadStringA(appInstance, formatId, format, sizeof format);
    wsprintfA(subject, format, page);
    // The menu that chose the command is painted away before the message.
    UpdateWindow(mainWindow);
    ShowSystemError(mainWindow, subject, error);
}

LRESULT ShowHelp(HWND, WPARAM, WPARAM, LPARAM) {
    // Room for the program's path and the longer of the two names put in
    // place of its own.
    char path[MAX_PATH + sizeof helpPageName];
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
    if (HelpFilesShown() && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        WinHelpA(mainWindow, path, HELP_CONTENTS, 0);
        return 0;
    }
    // Otherwise the page beside the program, in the system's browser.
    lstrcpyA(slash ? slash + 1 : path, helpPageName);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        ReportHelpFailure(IDS_HELP_MISSING, path, ERROR_FILE_NOT_FOUND);
        return 0;
    }
    INT_PTR opened = reinterpret_cast<INT_PTR>(
        ShellExecuteA(mainWindow, "open", path, nullptr, nullptr, SW_SHOWNORMAL));
    if (opened <= 32) {
        // The small results are system error codes, but for the one that
        // says no program is set for the page's kind of file.
        ReportHelpFailure(IDS_HELP_NOT_OPENED, path,
                          opened == SE_ERR_NOASSOC ? ERROR_NO_ASSOCIATION
                                                   : static_cast<DWORD>(opened));
    }
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
