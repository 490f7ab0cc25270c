// Module lists on the NT family. Every process-status call about another
// process's modules walks that process's loader list again, so a list of N
// modules costs 3N + 1 such walks; one Toolhelp module snapshot costs one.
// The snapshot is used wherever kernel32 has Toolhelp; both give the same
// rows, in load order, with the paths in ordinary form.
#include "sysinfo/ntbackend.h"
#include "sysinfo/platform.h"
#include "sysinfo/toolhelp.h"

struct SnapshotVisit {
    ModuleVisitor visitor;
    DWORD userValue;
};

static int VisitWithOrdinaryPath(DWORD userValue, HWND window, const char* moduleName,
                                 DWORD baseAddress, DWORD imageSize, const char* fullPath) {
    const SnapshotVisit* visit = reinterpret_cast<const SnapshotVisit*>(userValue);
    char path[260];
    lstrcpynA(path, fullPath, sizeof path);
    NormalizePathText(path, sizeof path);
    return visit->visitor(visit->userValue, window, moduleName, baseAddress, imageSize, path);
}

int ListModulesBySnapshot(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue) {
    // A snapshot of process id 0 would be one of this process.
    if (processId == 0) {
        return 1;
    }
    SnapshotVisit visit = {visitor, userValue};
    ListModulesToolhelp(window, processId, VisitWithOrdinaryPath,
                        static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(&visit)));
    return 1;
}

int ListModulesNt(HWND window, DWORD processId, ModuleVisitor visitor, DWORD userValue) {
    const ToolhelpApi& api = toolhelpApi;
    if (api.createToolhelp32Snapshot && api.module32First && api.module32Next) {
        return ListModulesBySnapshot(window, processId, visitor, userValue);
    }
    return ListModulesPsapi(window, processId, visitor, userValue);
}
