; Tolvane's installer, built by scripts/release.sh with makensis:
;   makensis -DVERSION=1.0.0 -DVERSION_QUAD=1.0.0.0 -DSTAGE=<folder> -DOUTFILE=<exe> installer.nsi
; STAGE holds tolvane.exe, tolvane64.exe, tolvane-help.html, README-zh.txt,
; README-en.txt and LICENSE.txt.
;
; It installs into Program Files, adds a Start menu folder for all users and
; an entry in Add/Remove Programs. On a 64-bit Windows it installs
; tolvane64.exe into the 64-bit Program Files and writes its entry in the
; 64-bit registry view; elsewhere tolvane.exe. The shortcuts have the same
; names either way. The uninstaller removes all of that, and
; the settings key and autorun shortcut of the user who runs it.
; An ANSI installer, like the program, so that it runs on every Windows the
; program runs on.

!ifndef VERSION
    !error "VERSION must be given with -DVERSION=..."
!endif
!ifndef VERSION_QUAD
    !error "VERSION_QUAD must be given with -DVERSION_QUAD=..."
!endif
!ifndef STAGE
    !error "STAGE must be given with -DSTAGE=..."
!endif
!ifndef OUTFILE
    !error "OUTFILE must be given with -DOUTFILE=..."
!endif

!define PRODUCT "Tolvane"
!define MAIN_CLASS "Tolvane" ; class name of the program's main window
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
!define SETTINGS_PARENT "Software\Marvik"
!define SETTINGS_KEY "${SETTINGS_PARENT}\tolvane95"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

; The program this Windows gets: tolvane64.exe or tolvane.exe.
Var Program

!define MUI_ICON "..\res\art\tolvane.ico"
!define MUI_UNICON "..\res\art\tolvane.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\$Program"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; English first: it is the fallback on systems in neither language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString UninstallLink ${LANG_ENGLISH} "Uninstall Tolvane"
LangString UninstallLink ${LANG_SIMPCHINESE} "卸载 Tolvane"
LangString StillRunning ${LANG_ENGLISH} "Tolvane is running. Close it, then choose Retry."
LangString StillRunning ${LANG_SIMPCHINESE} "Tolvane 正在运行。请先关闭它，然后选择“重试”。"

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (c) 2026 the Tolvane authors"

; A running copy holds tolvane.exe open and writes its settings when it
; ends: installing or removing waits until the user has closed it. A silent
; run gives up at once.
!macro DEFINE_CHECK_NOT_RUNNING PREFIX
Function ${PREFIX}CheckNotRunning
    ${Do}
        FindWindow $0 "${MAIN_CLASS}"
        ${If} $0 == 0
            Return
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY +2
        Abort
    ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_CHECK_NOT_RUNNING ""
!insertmacro DEFINE_CHECK_NOT_RUNNING "un."

; The 64-bit Program Files and registry view on a 64-bit Windows, unless a
; folder was given with /D or an earlier install is there.
!macro CHOOSE_PROGRAM
    StrCpy $Program "tolvane.exe"
    ${If} ${RunningX64}
        StrCpy $Program "tolvane64.exe"
        SetRegView 64
    ${EndIf}
!macroend

Function .onInit
    !insertmacro CHOOSE_PROGRAM
    ${If} ${RunningX64}
    ${AndIf} $INSTDIR == "$PROGRAMFILES\${PRODUCT}"
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $0 != ""
            StrCpy $INSTDIR $0
        ${Else}
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${EndIf}
    ${EndIf}
    Call CheckNotRunning
FunctionEnd

Function un.onInit
    !insertmacro CHOOSE_PROGRAM
    Call un.CheckNotRunning
FunctionEnd

Section "Tolvane"
    SetOutPath "$INSTDIR"
    ${If} ${RunningX64}
        File "${STAGE}\tolvane64.exe"
        ; The other program of an earlier install on this system goes.
        Delete "$INSTDIR\tolvane.exe"
    ${Else}
        File "${STAGE}\tolvane.exe"
    ${EndIf}
    ; The help page beside the program is what its help command opens.
    File "${STAGE}\tolvane-help.html"
    File "${STAGE}\README-zh.txt"
    File "${STAGE}\README-en.txt"
    File "${STAGE}\LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    SetShellVarContext all
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Tolvane.lnk" "$INSTDIR\$Program"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\$(UninstallLink).lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\$Program,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize 0 $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\tolvane.exe"
    Delete "$INSTDIR\tolvane64.exe"
    Delete "$INSTDIR\tolvane-help.html"
    Delete "$INSTDIR\README-zh.txt"
    Delete "$INSTDIR\README-en.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    ; Every link of the program's own Start menu folder: the uninstall link
    ; is named in the language the installer ran in, which may not be the
    ; uninstaller's.
    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}\*.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    ; The running user's own traces: the autorun shortcut the program puts
    ; into the Startup folder, and its settings.
    SetShellVarContext current
    Delete "$SMSTARTUP\Tolvane.lnk"
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
SectionEnd
