// Start-up: platform detection, settings, the single-instance rule, the
// back-end, privileges, the window classes and the main window.
#ifndef TOLVANE_APP_STARTUP_H
#define TOLVANE_APP_STARTUP_H

#include <windows.h>

#define DIALOG_CLASS_NAME "TOLVANE95DLG"

extern char
    mainClassName[260];     // class of the main window, accelerator table name, message box caption
extern char mainTitle[260]; // caption of the main window and tip of the tray icon
extern HINSTANCE appInstance;
extern HICON smallAppIcon;
extern HICON fallbackWindowIcon;

// Window-title texts loaded once at start-up and kept for the life of the process.
extern char* noWindowTitleText;
extern char* processTreeTitle;
extern char* startupInfoTitlePrefix;
extern char* threadsTitlePrefix;
extern char* priorityTitlePrefix;
extern char* memoryTitlePrefix;
extern char* heapsTitlePrefix;
extern char* affinityTitlePrefix;

void PreloadTitleTexts();
int RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
int RegisterDialogClass(HINSTANCE instance);
// Translates an accelerator key of the message loop; nonzero when it did.
// Keys typed in the main window's children (the list has the focus most of
// the time) are commands of the main window.
int TranslateMainAccelerator(HACCEL accelerators, MSG* message);
// 1 to run the message loop, 0 to end the program at once.
int StartUp(HINSTANCE instance, int showCommand);

#endif
