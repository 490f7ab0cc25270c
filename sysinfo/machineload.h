// The load of the whole machine: its processor use over the last period and
// the share of its physical memory in use. Both functions are resolved by
// name (GetSystemTimes came with Windows XP SP1, GlobalMemoryStatusEx with
// Windows 2000); without them the figure stays unknown.
#ifndef TOLVANE_SYSINFO_MACHINELOAD_H
#define TOLVANE_SYSINFO_MACHINELOAD_H

#include <windows.h>

struct MachineLoadApi {
    BOOL(WINAPI* getSystemTimes)(FILETIME* idle, FILETIME* kernel, FILETIME* user);
    BOOL(WINAPI* globalMemoryStatusEx)(MEMORYSTATUSEX* status);
};
extern MachineLoadApi machineLoadApi;

// Whole percents; -1 while unknown (the processor use needs two samples).
extern int machineCpuPercent;
extern int memoryLoadPercent;

// Takes one sample: the processor use since the previous one, and the
// memory in use now.
void SampleMachineLoad();
// Forgets the previous sample: the next one starts the measurement anew.
void ResetMachineLoad();

#endif
