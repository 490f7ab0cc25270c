// Entry point: start-up, then the one message loop of the program.
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    if (!StartUp(instance, showCommand)) {
        return 0;
    }
    // Resource names compare without regard to case: "Tolvane" finds TOLVANE.
    HACCEL accelerators = LoadAcceleratorsA(instance, mainClassName);
    if (!RegisterDialogClass(instance)) {
        return 0;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        if (!TranslateMainAccelerator(accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
