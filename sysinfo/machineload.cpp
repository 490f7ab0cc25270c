#include "sysinfo/machineload.h"
#include "sysinfo/platform.h"
#include "sysinfo/process_entry.h"

MachineLoadApi machineLoadApi;
int machineCpuPercent = -1;
int memoryLoadPercent = -1;

static int entryPointsResolved = 0;
static ULONGLONG lastIdle = 0;
static ULONGLONG lastBusy = 0; // kernel (idle included) plus user time
static int haveSample = 0;

static void ResolveMachineLoad() {
    if (entryPointsResolved) {
        return;
    }
    entryPointsResolved = 1;
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    ResolveEntryPoint(kernel, "GetSystemTimes", machineLoadApi.getSystemTimes);
    ResolveEntryPoint(kernel, "GlobalMemoryStatusEx", machineLoadApi.globalMemoryStatusEx);
}

void ResetMachineLoad() {
    haveSample = 0;
    machineCpuPercent = -1;
}

void SampleMachineLoad() {
    ResolveMachineLoad();
    FILETIME idle, kernel, user;
    if (machineLoadApi.getSystemTimes && machineLoadApi.getSystemTimes(&idle, &kernel, &user)) {
        ULONGLONG idleNow = FileTimeValue(idle);
        ULONGLONG totalNow = FileTimeValue(kernel) + FileTimeValue(user);
        // The kernel time counts the idle time too: the use is the rest.
        if (haveSample && totalNow > lastBusy && idleNow >= lastIdle) {
            ULONGLONG total = totalNow - lastBusy;
            ULONGLONG idleSpent = idleNow - lastIdle;
            ULONGLONG used = idleSpent < total ? total - idleSpent : 0;
            machineCpuPercent = static_cast<int>((used * 200 + total) / (2 * total));
            machineCpuPercent = machineCpuPercent > 100 ? 100 : machineCpuPercent;
        }
        lastIdle = idleNow;
        lastBusy = totalNow;
        haveSample = 1;
    } else {
        machineCpuPercent = -1;
    }
    MEMORYSTATUSEX memory;
    memory.dwLength = sizeof memory;
    if (machineLoadApi.globalMemoryStatusEx && machineLoadApi.globalMemoryStatusEx(&memory) &&
        memory.ullTotalPhys > 0) {
        ULONGLONG available =
            memory.ullAvailPhys < memory.ullTotalPhys ? memory.ullAvailPhys : memory.ullTotalPhys;
        ULONGLONG inUse = memory.ullTotalPhys - available;
        memoryLoadPercent =
            static_cast<int>((inUse * 200 + memory.ullTotalPhys) / (2 * memory.ullTotalPhys));
    } else {
        memoryLoadPercent = -1;
    }
}
