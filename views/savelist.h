// Saving lists to text files: the Save As dialog, the shared save file that
// detail windows write into while they refill, and the main list's save.
#ifndef TOLVANE_VIEWS_SAVELIST_H
#define TOLVANE_VIEWS_SAVELIST_H

#include <windows.h>
#include <stdio.h>

extern char chosenFilePath[260];

// Turns a filter text's '|' separators into terminating zeros in place,
// leaving the second bytes of double-byte characters alone.
void SplitFilterText(char* text);
char* ChooseSaveFileName(HWND owner);
FILE* OpenSaveFile(HWND owner);
FILE* CurrentSaveFile();
void CloseSaveFile();
void SaveListBoxRows(HWND owner, HWND listBox);
// Command handler: writes the main list to a file the user chooses.
LRESULT SaveProcessList(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
