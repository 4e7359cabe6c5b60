; Nightjar's installer. Built by the `dist` target:
;   makensis -DVERSION=1.0.0.1 -DVERSION_TEXT=1.00.0001 -DSTAGE=DIR -DOUTFILE=FILE nightjar.nsi
;
; Installs for the current user by default (no administrator rights: the
; files under the user's local programs folder, Plavox registered under
; HKCU\Software\Classes). /ALLUSERS installs for every user: Program Files,
; machine-wide registration, elevated. /S installs silently; /D=DIR sets the
; folder. The uninstaller takes /S too and knows the mode it was installed in.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define PRODUCT "Nightjar"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Nightjar"
!define USER_DIR "$LOCALAPPDATA\Programs\Nightjar"
!define REGSVR32 '"$SYSDIR\regsvr32.exe" /s'

Name "${PRODUCT} ${VERSION_TEXT}"
OutFile "${OUTFILE}"
InstallDir "${USER_DIR}"
BrandingText "${PRODUCT} ${VERSION_TEXT}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Nightjar developers"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This will install ${PRODUCT} ${VERSION_TEXT}, the calculator remote control for the Plavox player.$\r$\n$\r$\nConnect the link cable before you start ${PRODUCT}; it asks for the port.$\r$\n$\r$\nClick Next to continue."
!define MUI_FINISHPAGE_RUN "$INSTDIR\Nightjar.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers

; Reads /ALLUSERS from the command line; for every user the installer needs
; administrator rights, and asks for them by starting itself again elevated.
!macro ChooseMode un
Function ${un}ChooseMode
    StrCpy $AllUsers 0
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ALLUSERS" $1
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
    ${EndIf}
    ${If} $AllUsers == 1
        UserInfo::GetAccountType
        Pop $1
        ${If} $1 != "admin"
            ExecShell "runas" "$EXEPATH" "$0"
            Quit
        ${EndIf}
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd
!macroend
!insertmacro ChooseMode ""
!insertmacro ChooseMode "un."

Function .onInit
    ; /D= sets the folder before this runs; only the default moves. The
    ; default reads the user's folders: compare before the mode changes them.
    StrCpy $R0 0
    ${If} $INSTDIR == "${USER_DIR}"
        StrCpy $R0 1
    ${EndIf}
    Call ChooseMode
    ${If} $AllUsers == 1
    ${AndIf} $R0 == 1
        StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    ${EndIf}
FunctionEnd

Function un.onInit
    Call un.ChooseMode
FunctionEnd

Function RemoveFiles
    Delete "$INSTDIR\Nightjar.exe"
    Delete "$INSTDIR\Plavox.ocx"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\NIGHTJAR.8xp"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
FunctionEnd

Section "Nightjar"
    SetOutPath "$INSTDIR"
    File "${STAGE}/Nightjar.exe"
    File "${STAGE}/Plavox.ocx"
    File "${STAGE}/README.txt"
    File "${STAGE}/NIGHTJAR.8xp"

    ${If} $AllUsers == 1
        ExecWait '${REGSVR32} "$INSTDIR\Plavox.ocx"' $0
    ${Else}
        ExecWait '${REGSVR32} /n /i:user "$INSTDIR\Plavox.ocx"' $0
    ${EndIf}
    ${If} $0 != 0
        ; Without the control Nightjar cannot start: leave nothing behind.
        Call RemoveFiles
        SetErrorLevel 2
        MessageBox MB_ICONSTOP|MB_OK "Plavox.ocx could not be registered (regsvr32 ended with $0). Nothing was installed." /SD IDOK
        Abort "Plavox.ocx could not be registered"
    ${EndIf}

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Nightjar.exe"

    ${If} $AllUsers == 1
        StrCpy $1 " /ALLUSERS"
    ${Else}
        StrCpy $1 ""
    ${EndIf}
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PRODUCT} developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Nightjar.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"$1'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S$1'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $2
SectionEnd

Section "Uninstall"
    ; The registration goes first: it names the file.
    ${If} $AllUsers == 1
        ExecWait '${REGSVR32} /u "$INSTDIR\Plavox.ocx"'
    ${Else}
        ExecWait '${REGSVR32} /n /u /i:user "$INSTDIR\Plavox.ocx"'
    ${EndIf}
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\Nightjar.exe"
    Delete "$INSTDIR\Plavox.ocx"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\NIGHTJAR.8xp"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
