// The start-up information of another process: its command line, current
// directory and environment, read out of its memory. Two readers: the NT
// family's, which finds the data by the layout of Tolvane's own process (or,
// where that layout does not hold, through the process's own parameter
// block), and the Windows 95 family's, which follows the system's
// per-process records.
#ifndef TOLVANE_SYSINFO_STARTINFO_H
#define TOLVANE_SYSINFO_STARTINFO_H

#include <windows.h>

enum {
    REMOTE_READ_LIMIT = 65536, // bytes of one read of another process
    STARTUP_DIRECTORY_CHARS = 260,
};

// Learnt once from Tolvane's own process, and used for every other process.
extern const WCHAR* startupEnvironmentAddress;
extern const WCHAR* startupDirectoryAddress; // null when not found
extern int startupCalibrated;

// Fills the command-line and directory controls (SetWindowTextA) and adds
// each environment string to the list box (may be null). 1 when anything
// was filled in. Routed by the Windows family.
int ReadStartupInfo(DWORD processId, HWND commandLine, HWND environment, HWND directory);
int ReadStartupInfoNt(DWORD processId, HWND commandLine, HWND environment, HWND directory);
int ReadStartupInfo95(DWORD processId, HWND commandLine, HWND environment, HWND directory);
// Runs once: 1 when the directory or the environment address is known.
int CalibrateStartupAddresses();
// The directory area in Tolvane's own process: back from the command line
// over it, the image path and the DLL search path, to the zero that ends
// the 260-character area before them. Null when the walk would leave the
// committed region.
const WCHAR* FindDirectoryArea(const WCHAR* commandLine);

// Up to `limit` bytes at `address` in the process, never past the end of the
// committed region that holds it: a new buffer with two zero bytes after
// what was read (free() it), or null. `bytes` gets the count read.
char* ReadRemoteBlock(HANDLE process, const void* address, DWORD limit, DWORD* bytes);
// A block of wide characters (at most 65536 bytes), null when its first
// character is 0. `count` gets the characters read.
WCHAR* ReadRemoteWide(HANDLE process, const void* address, DWORD* count);
// A new zero-terminated ANSI copy of the wide characters [first, last), or null.
char* WideRangeToAnsi(const WCHAR* first, const WCHAR* last);

// The process's own parameter block, found through its environment block of
// the native process information: the same controls as ReadStartupInfo.
// `leaveOutDrives` leaves out the environment entries that begin with "=".
int ReadOwnParameterBlock(HANDLE process, HWND commandLine, HWND environment, HWND directory,
                          int leaveOutDrives);
// Windows 95 family: the process database of a process id (0 when the
// address is not in the shared arena), and the environment record that the
// database at that address leads to.
DWORD ProcessDatabaseOf(DWORD processId);
int ReadEnvironmentRecord(DWORD database, HWND commandLine, HWND environment, HWND directory);

#endif
