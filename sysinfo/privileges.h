// Privileges of Tolvane's own token, the processor count and the process
// affinity functions, all resolved by name at run time.
#ifndef TOLVANE_SYSINFO_PRIVILEGES_H
#define TOLVANE_SYSINFO_PRIVILEGES_H

#include <windows.h>

struct PrivilegeApi {
    BOOL(WINAPI* openProcessToken)(HANDLE process, DWORD access, HANDLE* token);
    BOOL(WINAPI* lookupPrivilegeValueA)(const char* system, const char* name, LUID* luid);
    BOOL(WINAPI* adjustTokenPrivileges)
    (HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* state, DWORD length,
     TOKEN_PRIVILEGES* previous, DWORD* returned);
};

struct AffinityApi {
    BOOL(WINAPI* getProcessAffinityMask)
    (HANDLE process, DWORD_PTR* processMask, DWORD_PTR* systemMask);
    BOOL(WINAPI* setProcessAffinityMask)(HANDLE process, DWORD_PTR mask);
    // The machine's processors over all processor groups (NT 6.1 on), and
    // the older count of the system's own width (NT 5.1 on); where both are
    // missing, the system information of this program's width.
    DWORD(WINAPI* getActiveProcessorCount)(WORD group);
    void(WINAPI* getNativeSystemInfo)(SYSTEM_INFO* info);
};

extern PrivilegeApi privilegeApi;
extern AffinityApi affinityApi;
extern DWORD processorCount;         // 0 until CountProcessors has run, then at least 1
extern DWORD_PTR systemAffinityMask; // Tolvane's system mask, 1 when it could not be read
// Every active processor of the machine, over all processor groups: the
// processor time of the process table is counted on all of them, so shares
// of the machine are taken of this many. Set by CountProcessors.
extern DWORD machineProcessorCount;

// Enables or changes one privilege in the token of `process`; the result of
// AdjustTokenPrivileges, or 0 when the call could not be made.
BOOL EnablePrivilege(HANDLE process, const char* privilegeName, DWORD attributes);
DWORD CountProcessors();
DWORD_PTR QueryProcessAffinity(HANDLE process, DWORD_PTR* systemMask);
BOOL SetProcessAffinity(HANDLE process, DWORD_PTR mask);

#endif
