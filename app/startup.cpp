#include "app/startup.h"
#include "app/mainwnd.h"
#include "app/settings.h"
#include "app/uiops.h"
#include "res/resource.h"
#include "sysinfo/platform.h"
#include "sysinfo/privileges.h"

// How long a second copy waits for the first to take its restore request.
enum { FIRST_COPY_WAIT_MILLISECONDS = 2000 };

char mainClassName[260];
char mainTitle[260];
HINSTANCE appInstance;
HICON smallAppIcon;
HICON fallbackWindowIcon;

char* noWindowTitleText;
char* processTreeTitle;
char* startupInfoTitlePrefix;
char* threadsTitlePrefix;
char* priorityTitlePrefix;
char* memoryTitlePrefix;
char* heapsTitlePrefix;
char* affinityTitlePrefix;

struct PreloadedText {
    char** text;
    UINT stringId;
};

static const PreloadedText preloadedTexts[] = {
    {&noWindowTitleText, IDS_NO_WINDOW_TITLE},
    {&processTreeTitle, IDS_TREE_TITLE},
    {&startupInfoTitlePrefix, IDS_STARTUP_PREFIX},
    {&threadsTitlePrefix, IDS_THREADS_PREFIX},
    {&priorityTitlePrefix, IDS_PRIORITY_PREFIX},
    {&memoryTitlePrefix, IDS_MEMORY_PREFIX},
    {&heapsTitlePrefix, IDS_HEAPS_PREFIX},
    {&affinityTitlePrefix, IDS_AFFINITY_PREFIX},
    {nullptr, 0},
};

void PreloadTitleTexts() {
    for (const PreloadedText* row = preloadedTexts; row->text && !*row->text; row++) {
        *row->text = LoadText(row->stringId);
    }
}

int RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TOLVANE));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = mainClassName;
    windowClass.hIconSm = smallAppIcon;
    if (RegisterClassExA(&windowClass)) {
        return 1;
    }
    WNDCLASSA plainClass;
    plainClass.style = windowClass.style;
    plainClass.lpfnWndProc = windowClass.lpfnWndProc;
    plainClass.cbClsExtra = 0;
    plainClass.cbWndExtra = 0;
    plainClass.hInstance = instance;
    plainClass.hIcon = windowClass.hIcon;
    plainClass.hCursor = windowClass.hCursor;
    plainClass.hbrBackground = windowClass.hbrBackground;
    plainClass.lpszMenuName = windowClass.lpszMenuName;
    plainClass.lpszClassName = mainClassName;
    return RegisterClassA(&plainClass) ? 1 : 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
    return CreateWindowExA(0, mainClassName, mainTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, windowWidth, windowHeight, nullptr, nullptr, instance,
                           nullptr);
}

// Every dialog template names this class: the system dialog class with the
// program's icon.
int RegisterDialogClass(HINSTANCE instance) {
    WNDCLASSA dialogClass;
    if (!GetClassInfoA(nullptr, MAKEINTRESOURCEA(0x8002), &dialogClass)) {
        return 0;
    }
    dialogClass.hInstance = instance;
    dialogClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_TOLVANE));
    dialogClass.lpszClassName = DIALOG_CLASS_NAME;
    return RegisterClassA(&dialogClass) ? 1 : 0;
}

int TranslateMainAccelerator(HACCEL accelerators, MSG* message) {
    HWND target = message->hwnd;
    if (target && mainWindow && IsChild(mainWindow, target)) {
        target = mainWindow;
    }
    return TranslateAcceleratorA(target, accelerators, message);
}

static const char* const startUpPrivileges[] = {"SeDebugPrivilege", "SeMachineAccountPrivilege",
                                                "SeSecurityPrivilege",
                                                "SeSystemEnvironmentPrivilege"};

int StartUp(HINSTANCE instance, int showCommand) {
    DetectPlatform();
    PreloadTitleTexts();
    LoadSettings();
    LoadStringA(instance, IDS_TITLE, mainTitle, sizeof mainTitle);
    LoadStringA(instance, IDS_CLASS_NAME, mainClassName, sizeof mainClassName);

    if (!allowMultipleInstances) {
        HWND running = FindWindowA(mainClassName, nullptr);
        if (running) {
            // A first copy that has stopped answering must not hold this
            // one: the request is given up after a while.
            DWORD_PTR ignored;
            SendMessageTimeoutA(running, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG,
                                FIRST_COPY_WAIT_MILLISECONDS, &ignored);
            return 0;
        }
    }
    if (!LoadBackEnd()) {
        ShowMessage(nullptr, ntFamily == 1 ? IDS_NEEDS_PSAPI : IDS_NEEDS_TOOLHELP, MB_OK);
        return 0;
    }
    for (const char* privilege : startUpPrivileges) {
        EnablePrivilege(GetCurrentProcess(), privilege, SE_PRIVILEGE_ENABLED);
    }
    CountProcessors();

    appInstance = instance;
    int iconWidth = GetSystemMetrics(SM_CXSMICON);
    int iconHeight = GetSystemMetrics(SM_CYSMICON);
    smallAppIcon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_TOLVANE), IMAGE_ICON, iconWidth, iconHeight, 0));
    fallbackWindowIcon = static_cast<HICON>(LoadImageA(
        instance, MAKEINTRESOURCEA(IDI_FALLBACK_WINDOW), IMAGE_ICON, iconWidth, iconHeight, 0));

    if (!RegisterMainWindowClass(instance)) {
        return 0;
    }
    HWND window = CreateMainWindow(instance);
    if (!window) {
        return 0;
    }
    if (startMinimized) {
        SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        // Without the tray icon the window stays minimised on the taskbar and
        // is restored by the default procedure, which would never start the
        // timer: start it here so the list keeps refreshing.
        if (!useSysTray) {
            SetRefreshTimer(1);
        }
    } else {
        SetRefreshTimer(1);
        ShowWindow(window, showCommand);
        UpdateWindow(window);
    }
    return 1;
}
