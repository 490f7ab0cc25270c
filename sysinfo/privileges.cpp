#include "sysinfo/privileges.h"
#include "sysinfo/platform.h"

#include <string.h>

PrivilegeApi privilegeApi;
AffinityApi affinityApi;
DWORD processorCount = 0;
DWORD_PTR systemAffinityMask = 0;
DWORD machineProcessorCount = 1;

static int privilegeApiResolved = 0;

// Slots already filled are kept: the entry points are looked up only where
// nothing is there yet.
template <typename T> static void ResolveIfEmpty(HMODULE module, const char* name, T& slot) {
    if (!slot) {
        ResolveEntryPoint(module, name, slot);
    }
}

BOOL EnablePrivilege(HANDLE process, const char* privilegeName, DWORD attributes) {
    if (!privilegeApiResolved) {
        privilegeApiResolved = 1;
        HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
        if (advapi) {
            ResolveIfEmpty(advapi, "OpenProcessToken", privilegeApi.openProcessToken);
            ResolveIfEmpty(advapi, "LookupPrivilegeValueA", privilegeApi.lookupPrivilegeValueA);
            ResolveIfEmpty(advapi, "AdjustTokenPrivileges", privilegeApi.adjustTokenPrivileges);
        }
    }
    if (!privilegeApi.openProcessToken || !privilegeApi.lookupPrivilegeValueA ||
        !privilegeApi.adjustTokenPrivileges) {
        return 0;
    }
    HANDLE token = nullptr;
    if (!privilegeApi.openProcessToken(process, TOKEN_ADJUST_PRIVILEGES, &token)) {
        return 0;
    }
    TOKEN_PRIVILEGES privileges;
    if (!privilegeApi.lookupPrivilegeValueA(nullptr, privilegeName,
                                            &privileges.Privileges[0].Luid)) {
        CloseHandle(token);
        return 0;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    BOOL result =
        privilegeApi.adjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
    return result;
}

// The machine's active processors over all groups; the older count where
// the newer call is missing; the affinity count where neither answers.
static DWORD CountMachineProcessors() {
    enum { ALL_PROCESSOR_GROUPS = 0xFFFF };
    if (affinityApi.getActiveProcessorCount) {
        DWORD count = affinityApi.getActiveProcessorCount(ALL_PROCESSOR_GROUPS);
        if (count != 0) {
            return count;
        }
    }
    SYSTEM_INFO info;
    memset(&info, 0, sizeof info);
    if (affinityApi.getNativeSystemInfo) {
        affinityApi.getNativeSystemInfo(&info);
    } else {
        GetSystemInfo(&info);
    }
    return info.dwNumberOfProcessors != 0 ? info.dwNumberOfProcessors : processorCount;
}

DWORD CountProcessors() {
    if (processorCount != 0) {
        return processorCount;
    }
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    ResolveIfEmpty(kernel, "GetProcessAffinityMask", affinityApi.getProcessAffinityMask);
    ResolveIfEmpty(kernel, "SetProcessAffinityMask", affinityApi.setProcessAffinityMask);
    ResolveIfEmpty(kernel, "GetActiveProcessorCount", affinityApi.getActiveProcessorCount);
    ResolveIfEmpty(kernel, "GetNativeSystemInfo", affinityApi.getNativeSystemInfo);
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (affinityApi.getProcessAffinityMask && affinityApi.setProcessAffinityMask &&
        affinityApi.getProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) {
        systemAffinityMask = systemMask;
        DWORD bits = 0;
        for (DWORD_PTR mask = systemAffinityMask; mask != 0; mask &= mask - 1) {
            bits++;
        }
        processorCount = bits;
    }
    if (processorCount == 0) {
        processorCount = 1;
        systemAffinityMask = 1;
    }
    machineProcessorCount = CountMachineProcessors();
    return processorCount;
}

DWORD_PTR QueryProcessAffinity(HANDLE process, DWORD_PTR* systemMask) {
    DWORD_PTR processAffinity = systemAffinityMask;
    DWORD_PTR systemAffinity = systemAffinityMask;
    if (processorCount > 1 && affinityApi.getProcessAffinityMask) {
        affinityApi.getProcessAffinityMask(process, &processAffinity, &systemAffinity);
    }
    if (systemMask) {
        *systemMask = systemAffinity;
    }
    return processAffinity;
}

BOOL SetProcessAffinity(HANDLE process, DWORD_PTR mask) {
    if (processorCount <= 1) {
        return 1;
    }
    if (!affinityApi.setProcessAffinityMask) {
        return 0;
    }
    return affinityApi.setProcessAffinityMask(process, mask);
}
