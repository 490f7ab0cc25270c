// The autorun option: a shortcut to the running executable in the user's
// Startup folder. Whether the option is on is whether that file exists.
#ifndef TOLVANE_APP_AUTORUN_H
#define TOLVANE_APP_AUTORUN_H

#include <windows.h>

struct ShortcutPaths {
    char linkPath[260]; // empty when the Startup folder is unknown
    char targetPath[260];
};

void BuildShortcutPaths(ShortcutPaths* paths);
int GetSpecialFolderPath(int folderId, char* buffer);
int ShortcutExists(const ShortcutPaths* paths);
int CreateShortcut(const char* target, const char* link, const char* description, int showCommand);
int RemoveShortcut(const ShortcutPaths* paths);
int AutorunShortcutExists();
int SetAutorun(int wanted);
LRESULT OnAutorunCommand(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
