// Counters of what a process holds: kernel handles, GDI objects, USER
// objects and committed private memory. The system's own counters
// (GetProcessHandleCount, GetGuiResources) answer 0 on some systems; these
// count the objects in the tables themselves. Each counter is checked by
// creating 100 objects before its figures are trusted.
#ifndef TOLVANE_BENCH_OBJECTCOUNT_H
#define TOLVANE_BENCH_OBJECTCOUNT_H

#include <windows.h>

// Handles of this process in the system's handle table; -1 when the table
// cannot be read.
long CountHandles();

// GDI objects of this process in the handle table the system keeps for it,
// whose address the process environment block holds: entries of 24 bytes
// with the object's type at offset 14, 0 for a free entry. -1 without a table.
int CountTableObjects();
// GetGuiResources' count of GDI objects.
int CountGuiResources();
// Whichever of the two counts 100 new brushes as 100 more; null for neither.
int (*GdiCounter())();

// Windows of this process: top-level, message-only and every child.
int CountWindows();
// Menus of this process, found by asking each entry of the USER handle
// table whether it is a menu; -1 when the table cannot be walked.
int CountMenus();

// Committed private memory of this process in bytes, summed over its regions.
SIZE_T PrivateBytes();
// GetProcessMemoryInfo's private usage and working set, in bytes.
SIZE_T PrivateUsage();
SIZE_T WorkingSet();

#endif
