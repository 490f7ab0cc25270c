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
enum { FILTER_TEXT_SIZE = 262 };
// A file dialog's filter list from a string-table text with '|' separators,
// into a buffer of FILTER_TEXT_SIZE bytes.
void LoadFilterText(UINT stringId, char* buffer);
char* ChooseSaveFileName(HWND owner);
// The shared save file. Its stream writes a temporary file beside the
// chosen one; closing it replaces the chosen file with the temporary one
// when every write succeeded, and otherwise deletes the temporary file,
// leaves the chosen one as it was and shows the system's error text.
FILE* OpenSaveFile(HWND owner);
// Makes `path` the shared save file's target without asking the user.
FILE* StartSaveFile(HWND owner, const char* path);
FILE* CurrentSaveFile();
// Returns 1 when the chosen file now holds what was written.
int CloseSaveFile();
void SaveListBoxRows(HWND owner, HWND listBox);
// Command handler: writes the main list to a file the user chooses.
LRESULT SaveProcessList(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
