#include "app/help.h"
#include "app/dbcs.h"
#include "app/mainwnd.h"
#include "app/startup.h"
#include "app/uiops.h"
#include "res/resource.h"

#include <shellapi.h>

// The README files that ship beside the program: the Chinese one in code
// page 936, the English one in UTF-8. A system of that code page reads the
// Chinese one first.
static const char* const readmeNames[2] = {"README-zh.txt", "README-en.txt"};

// Opens a text file with the system's viewer for text files; where none is
// set (as on Wine), with Notepad, which every Windows has.
static int OpenTextFile(const char* file, const char* folder) {
    if (reinterpret_cast<INT_PTR>(
            ShellExecuteA(mainWindow, "open", file, nullptr, folder, SW_SHOWNORMAL)) > 32) {
        return 1;
    }
    char quoted[MAX_PATH + 24];
    wsprintfA(quoted, "\"%s\"", file);
    return reinterpret_cast<INT_PTR>(ShellExecuteA(mainWindow, "open", "notepad.exe", quoted,
                                                   folder, SW_SHOWNORMAL)) > 32;
}

// Opens a README beside the program (`path`, a file in the program's
// folder); 1 when one was opened.
static int OpenShippedReadme(const char* path) {
    char folder[MAX_PATH];
    CopyText(folder, sizeof folder, path);
    char* slash = FindLastByte(folder, '\\');
    if (!slash) {
        return 0;
    }
    slash[1] = 0;
    int first = GetACP() == 936 ? 0 : 1;
    for (int i = 0; i < 2; i++) {
        char readme[MAX_PATH + 16];
        lstrcpyA(readme, folder);
        lstrcatA(readme, readmeNames[(first + i) % 2]);
        if (GetFileAttributesA(readme) != INVALID_FILE_ATTRIBUTES && OpenTextFile(readme, folder)) {
            return 1;
        }
    }
    return 0;
}

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
    // No help file ships: the README beside the program stands in for it.
    // Without either, the help system reports the missing file.
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && OpenShippedReadme(path)) {
        return 0;
    }
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
