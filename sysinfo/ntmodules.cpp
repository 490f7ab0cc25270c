// Module lists on the NT family. Every process-status call about another
// process's modules walks that process's loader list again, so a list of N
// modules costs 3N + 1 such walks; one Toolhelp module snapshot costs one.
// The snapshot is used wherever kernel32 has Toolhelp; both give the same
// rows, in load order, with the paths in ordinary form. Where the system
// refuses the snapshot of a process of the other width, that process's
// own loader list is read in its width.
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "sysinfo/remotelayout.h"
#include "sysinfo/toolhelp.h"
#include "sysinfo/wow64.h"

struct SnapshotVisit {
    ModuleVisitor visitor;
    ULONG_PTR userValue;
};

static int VisitWithOrdinaryPath(ULONG_PTR userValue, HWND window, const char* moduleName,
                                 ULONGLONG baseAddress, DWORD imageSize, const char* fullPath) {
    const SnapshotVisit* visit = reinterpret_cast<const SnapshotVisit*>(userValue);
    char path[260];
    lstrcpynA(path, fullPath, sizeof path);
    NormalizePathText(path, sizeof path);
    return visit->visitor(visit->userValue, window, moduleName, baseAddress, imageSize, path);
}

// The modules of one snapshot of the process; 0 when the system gave none.
static int VisitSnapshot(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue) {
    SnapshotVisit visit = {visitor, userValue};
    return ListModulesToolhelp(window, processId, VisitWithOrdinaryPath,
                               reinterpret_cast<ULONG_PTR>(&visit));
}

int ListModulesBySnapshot(HWND window, DWORD processId, ModuleVisitor visitor,
                          ULONG_PTR userValue) {
    // A snapshot of process id 0 would be one of this process.
    if (processId != 0) {
        VisitSnapshot(window, processId, visitor, userValue);
    }
    return 1;
}

// A 64-bit process seen from this 32-bit program has neither a snapshot
// nor a process-status module list: its own loader list, or its memory map.
// 0 when the process is not such a one.
static int ListSixtyFourBitModules(HWND window, DWORD processId, ModuleVisitor visitor,
                                   DWORD userValue) {
    if (processId == 0 || !RunsInThirtyTwoBitLayer()) {
        return 0;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) {
        return 0;
    }
    int result =
        IsSixtyFourBitProcess(process) ? ListModules64(process, window, visitor, userValue) : 0;
    CloseHandle(process);
    return result;
}

// A process of the system's 32-bit layer seen from this 64-bit program,
// whose module snapshot the system refuses: its own loader list, read in
// its width. 0 when the process is not such a one or the list cannot be read.
static int ListThirtyTwoBitModules(HWND window, DWORD processId, ModuleVisitor visitor,
                                   ULONG_PTR userValue) {
    if (sizeof(void*) == 4 || processId == 0) {
        return 0;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) {
        return 0;
    }
    RemoteProcess remote;
    int result = FindRemoteProcess(process, &remote) && remote.layout == &remoteLayout32
                     ? ListModulesLoader(remote, window, visitor, userValue)
                     : 0;
    CloseHandle(process);
    return result;
}

int ListModulesNt(HWND window, DWORD processId, ModuleVisitor visitor, ULONG_PTR userValue) {
    int sixtyFourBit = ListSixtyFourBitModules(window, processId, visitor, userValue);
    if (sixtyFourBit) {
        return sixtyFourBit;
    }
    const ToolhelpApi& api = toolhelpApi;
    if (api.createToolhelp32Snapshot && api.module32First && api.module32Next) {
        if (processId != 0 && !VisitSnapshot(window, processId, visitor, userValue)) {
            ListThirtyTwoBitModules(window, processId, visitor, userValue);
        }
        return 1;
    }
    return ListModulesPsapi(window, processId, visitor, userValue);
}
