// Tolvane's options: process-wide values with defaults, read from and written
// to text values under one registry key of the current user.
#ifndef TOLVANE_APP_SETTINGS_H
#define TOLVANE_APP_SETTINGS_H

#include <windows.h>

#define SETTINGS_KEY "Software\\Marvik\\tolvane95"

enum {
    RECENT_PROJECT_COUNT = 5,
    // The smallest main window that still shows its toolbar and a few rows.
    MIN_WINDOW_WIDTH = 320,
    MIN_WINDOW_HEIGHT = 200,
    // The longest period a timer takes, in whole seconds.
    MAX_REFRESH_SECONDS = USER_TIMER_MAXIMUM / 1000,
};

extern int windowWidth;
extern int windowHeight;
extern int useSysTray;
extern int startMinimized;
extern int colorize;
extern int allowMultipleInstances;
extern int hexProcessId;
// The main list's processor and memory columns, and the load in the status
// bar and the tray icon (NT family only).
extern int resourceColumns;
extern int mainRefreshSeconds;
extern int threadsRefreshSeconds;
extern int modulesRefreshSeconds;
extern int memoryRefreshSeconds;
extern char recentProjects[RECENT_PROJECT_COUNT][260];
extern int recentProjectsChanged;

LONG LoadSettings();
LONG SaveSettings();
// Writes the one value that a second copy of the program reads at its start,
// so that the option takes effect at once.
LONG SaveMultipleInstancesSetting();
// A period in seconds cut to the longest timer.
int ClampRefreshSeconds(long seconds);

INT_PTR CALLBACK RefreshTimesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Command handler: runs the refresh-times dialog and takes over its values.
LRESULT OnRefreshTimesCommand(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);

#endif
