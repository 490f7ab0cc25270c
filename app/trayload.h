// The tray icon while the resource columns are on: a bar filled as far as
// the machine's processor is in use, and a tip with that use and the
// busiest process.
#ifndef TOLVANE_APP_TRAYLOAD_H
#define TOLVANE_APP_TRAYLOAD_H

#include <windows.h>

// Brings the tray icon up to date after a pass: the bar is drawn again only
// when the whole percent changed, the tip only when its text did. With the
// option off, the icon and tip go back to the program's own.
void ShowTrayLoad();
// While the window hides in the tray its list does not refresh: with the
// load shown, a timer of its own (`hidden` 1) keeps sampling the machine's
// load for the icon, until the window comes back (`hidden` 0).
void FollowLoadWhileHidden(int hidden);
// The load icon and its tip while the load is shown, else null.
HICON TrayLoadIcon(char* tip, int size);

#endif
