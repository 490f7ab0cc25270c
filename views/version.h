// Version resources of executable files: the values of the version window
// and the one-line summary shown in status bars and saved lists.
#ifndef TOLVANE_VIEWS_VERSION_H
#define TOLVANE_VIEWS_VERSION_H

#include <windows.h>

// One row of a key table. In the dialog's table `control` is the id of the
// edit that shows the value; in a summary table it is a mode: 0 always try
// the key, negative only when the key before it produced nothing. A null
// format stands for "%s\t". A table ends with a row whose key is null.
struct VersionKey {
    int control;
    const char* key;
    const char* format;
};

extern const VersionKey versionDialogKeys[];
extern const VersionKey versionSummaryKeys[];

void ReadVersionStrings(const char* path, HWND dialog, const VersionKey* keys, char* output,
                        int size);
void GetVersionSummary(const char* path, const char* fallbackName, char* output, int size);

// A file's creation (which 0) or last-write (which 1) time; eight zero bytes
// and 0 when the file cannot be opened or the time read.
int ReadFileTime(const char* path, FILETIME* time, int which);
int FormatFileTime(const FILETIME* time, char* buffer, int size, const char* separator);
int GetFileTimeText(const char* path, char* buffer, int size, const char* separator, int which);
INT_PTR CALLBACK VersionDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Command handler: the version window of the selected process.
LRESULT OpenVersionWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
