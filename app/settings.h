// Tolvane's options: process-wide values with defaults, read from and written
// to text values under one registry key of the current user.
#ifndef TOLVANE_APP_SETTINGS_H
#define TOLVANE_APP_SETTINGS_H

#include <windows.h>

#define SETTINGS_KEY "Software\\Marvik\\tolvane95"

enum { RECENT_PROJECT_COUNT = 5 };

extern int windowWidth;
extern int windowHeight;
extern int useSysTray;
extern int startMinimized;
extern int colorize;
extern int allowMultipleInstances;
extern int hexProcessId;
extern int mainRefreshSeconds;
extern int threadsRefreshSeconds;
extern int modulesRefreshSeconds;
extern int memoryRefreshSeconds;
extern char recentProjects[RECENT_PROJECT_COUNT][260];
extern int recentProjectsChanged;

LONG LoadSettings();
LONG SaveSettings();

INT_PTR CALLBACK RefreshTimesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Command handler: runs the refresh-times dialog and takes over its values.
LRESULT OnRefreshTimesCommand(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
