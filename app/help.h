// The help file and the About box.
#ifndef TOLVANE_APP_HELP_H
#define TOLVANE_APP_HELP_H

#include <windows.h>

// Command handlers: open the help file beside the program, named after it,
// where the system can show it, otherwise the help page shipped beside the
// program (a message names it when it is missing); and show the About box.
LRESULT ShowHelp(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
LRESULT ShowAbout(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
