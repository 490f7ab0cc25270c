// Starting the system's debugger on the selected process, after a dialog in
// which the user may name a project file for the debugger to open; the last
// project chosen for each executable name is remembered.
#ifndef TOLVANE_DETAILS_DEBUGGER_H
#define TOLVANE_DETAILS_DEBUGGER_H

#include <windows.h>

#define AEDEBUG_KEY "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"

enum {
    DEBUGGER_TEMPLATE_SIZE = 260,
    // The cut template (259 bytes) with the process id in place of its
    // placeholder (at most 9 bytes longer), a blank, a project path of 259
    // bytes in quotes and the terminating zero.
    DEBUG_COMMAND_SIZE = 544,
};

// Command handler of the debug command.
LRESULT DebugSelectedProcess(HWND window, WPARAM wParam, WPARAM notifyCode, LPARAM lParam);
INT_PTR CALLBACK AttachDebuggerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void BrowseProjectFile(HWND dialog);
// Appends a blank and the project path to the debugger's command line, in
// quotes when the path holds a blank.
void AppendProjectArgument(char* command, const char* project);

// The configured debugger command: the "Debugger" value of the "AeDebug"
// profile section, or on the NT family, when that gives nothing, the same
// value of the system's registry key. Its length; 0 when none is set.
int ReadDebuggerTemplate(char* buffer);
// The template for a process (null: any): a 64-bit process seen from the
// 32-bit program takes the 64-bit system's setting, a 32-bit process seen
// from the 64-bit program the 32-bit layer's. Where only a 32-bit debugger
// is set for a 64-bit process, `*onlyThirtyTwoBit` says so and the result
// is 0.
int ReadDebuggerTemplateFor(HANDLE process, char* buffer, int* onlyThirtyTwoBit);
// Ends the template after its first placeholder. Returns 1 when the result
// may be formatted with the process id: it has no placeholder, or exactly
// one, an integer conversion (%d, %i, %u, %x or %X, optionally with l).
int CutDebuggerTemplate(char* text);

// The file name of a path without its folder and its last extension.
void ExecutableBaseName(const char* path, char* buffer, int size);
void RememberProject(const char* executablePath, const char* projectPath);
// The project last chosen for the executable's name, or "".
const char* LookUpProject(const char* executablePath);

#endif
