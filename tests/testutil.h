// Helpers shared by the tests: paths of the built programs, child processes,
// message pumping, modal dialogs driven from a timer, the settings key.
#ifndef TOLVANE_TESTS_TESTUTIL_H
#define TOLVANE_TESTS_TESTUTIL_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The program the tests were built with: tolvane.exe, or tolvane64.exe
// beside the 64-bit tests.
#ifdef _WIN64
#define PROGRAM_FILE "tolvane64.exe"
#else
#define PROGRAM_FILE "tolvane.exe"
#endif

// An address as lists show it: eight hexadecimal digits in the 32-bit
// program, twelve (the whole 64-bit user address space) in the 64-bit one.
std::string AddressText(unsigned long long address);

// The folder of the running test executable, where tolvane.exe and tvhelper.exe lie.
std::string BinDir();
std::string BinPath(const char* fileName);

// UTF-8 source text converted to the ANSI code page (936 here).
std::string ToAnsi(const char* utf8);
// The text in lower case, for comparing paths as the file system does.
std::string Lower(std::string text);

struct Child {
    PROCESS_INFORMATION info;
    bool started;
};
Child StartChild(const std::string& commandLine);
// The exit code, or -1 when the child did not end within the time.
long WaitChild(Child& child, DWORD milliseconds);
void EndChild(Child& child);

// Starts the command as a process that takes over `id`, the id of a
// process that has ended. Wine gives freed ids of processes and threads out
// again first in, first out, once its table of ids is full and enough are
// free: threads that end at once take the ids ahead of it. `release` is
// called while the id is still held (it drops the program's handles, by a
// refresh pass say). The child is not started, or has another id, when the
// id did not come round.
Child StartChildOnFreedId(DWORD id, const std::string& commandLine,
                          const std::function<void()>& release);
// Whether a process with the id can still be opened: some handle holds it.
bool ProcessIdHeld(DWORD id);

// Dispatches this thread's messages for the given time.
void PumpMessages(DWORD milliseconds);
// When set, the pumps hand each message to it first, as the program's loop
// does with its accelerators; a nonzero result means it was taken.
extern int (*pumpTranslate)(MSG* message);
// Dispatches messages until the condition holds or the time runs out.
bool PumpUntil(const std::function<bool()>& condition, DWORD milliseconds);

// A key pressed in a list view, with or without Ctrl (and Shift) held
// down, and the messages it caused dispatched.
void PressKey(HWND list, int key, bool control, bool shift = false);

// Runs `modal` (which enters a modal loop) and calls `action` on the first
// dialog window of this thread once it shows. Returns whether the action ran.
bool WithDialog(const std::function<void()>& modal, const std::function<void(HWND)>& action);
// The same for dialogs that open one after another, also one over another:
// each action runs on the next dialog not met before. Returns how many ran.
size_t WithDialogs(const std::function<void()>& modal,
                   const std::vector<std::function<void(HWND)>>& actions);

// Like WithDialog, for the enabled dialog of the given window class, so that
// it also finds a dialog opened inside another dialog's action.
bool WithDialogOfClass(const char* className, const std::function<void()>& modal,
                       const std::function<void(HWND)>& action);
// Runs `action`; the texts of the message box it shows (answered with
// `answer`), or "" when none appeared.
std::string MessageOf(const std::function<void()>& action, int answer = IDOK);
// The texts of a dialog's controls, one after another.
std::string DialogTexts(HWND dialog);
// Types a full path into the Save As dialog and saves.
void SaveAsIn(HWND saveDialog, const std::string& path);
// A file's bytes, or "<missing>".
std::string ReadFileBytes(const std::string& path);

// Presses and releases a key through the system's input, as a user's
// keyboard does: it reaches the foreground window.
void PressKey(WORD key);

// A top-level window of another process with this class (null for any) and caption.
HWND FindProcessWindow(DWORD processId, const char* className, const char* caption,
                       DWORD milliseconds);

// A cell of a list view that belongs to another process, read through a
// buffer allocated inside that process.
std::string RemoteListText(HWND list, int row, int column);
int RemoteRowCount(HWND list);

// A window's text, a list box's rows, a cell of this process's list view.
std::string WindowText(HWND window);
std::vector<std::string> ListBoxRows(HWND listBox);
std::string ListViewText(HWND list, int row, int column);

// The three controls the start-up window hands to its reader: two edits
// and a sorted list box.
struct StartupControls {
    StartupControls();
    ~StartupControls();
    int Read(int (*reader)(DWORD, HWND, HWND, HWND), DWORD processId) {
        return reader(processId, commandLine, environment, directory);
    }
    HWND commandLine, directory, environment;
};

// Makes Wine report the given Windows version ("win98") to one executable name.
void SetWineAppVersion(const char* exeName, const char* version);

void DeleteSettingsKey();
void SetSettingsText(const char* name, const char* text);
void SetSettingsBinary(const char* name, const void* data, DWORD size);
std::string GetSettingsText(const char* name);
bool SettingsValueExists(const char* name);

// Starts a command of the host (through /bin/sh) without waiting for it.
bool StartHostCommand(const std::string& command);
// Runs a command of the host (through /bin/sh), dispatching this thread's
// messages until it has done. False when it did not finish in time.
bool HostCommand(const std::string& command, DWORD milliseconds = 10000);
// Runs xdotool on the X display with the arguments (its commands may be
// chained, "key Down sleep 0.3 key Return"), dispatching this thread's
// messages until it has done. False when it did not finish in time.
bool Xdotool(const std::string& arguments, DWORD milliseconds = 10000);
// A point of a window's client area on the screen, and xdotool's arguments
// for a click there (button 1 left, 3 right; count 2 a double click).
POINT ScreenPoint(HWND window, int x, int y);
std::string XdotoolClick(POINT point, int button, int count = 1);
// The title of the window that holds the X keyboard focus, as the X server
// sees it (UTF-8), or "" when none does.
std::string XFocusTitle();
// The places of the windows in the X server's stack of their parent's
// children (all given windows share one parent), 0 the topmost; -1 for a
// window the server does not list there.
std::vector<int> XStackIndexes(const std::vector<HWND>& windows);

#endif
