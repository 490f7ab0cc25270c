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
extern const VersionKey moduleSummaryKeys[];

void ReadVersionStrings(const char* path, HWND dialog, const VersionKey* keys, char* output,
                        int size);
void GetVersionSummary(const char* path, const char* fallbackName, char* output, int size);

// Command handler: the version window of the selected process.
LRESULT OpenVersionWindow(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
