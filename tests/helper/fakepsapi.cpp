// A process-status library that lacks GetModuleFileNameExW: loaded in place
// of the system's to check that start-up refuses an incomplete library.
extern "C" {
__declspec(dllexport) int GetModuleInformation() {
    return 0;
}
__declspec(dllexport) int GetModuleFileNameExA() {
    return 0;
}
__declspec(dllexport) int GetModuleBaseNameA() {
    return 0;
}
__declspec(dllexport) int EnumProcessModules() {
    return 0;
}
__declspec(dllexport) int EnumProcesses() {
    return 0;
}
}
