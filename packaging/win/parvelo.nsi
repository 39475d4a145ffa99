; Parvelo's Windows installer, built by tools/windows-installer.sh with
; makensis, which defines:
;   VERSION    the program's version (1.2.3)
;   COPYRIGHT  the years and holder of packaging/copyright
;   SIZE_KB    the size of the installed files
;   ICON       the .ico rendered from the program's icon drawing
;   FILES      a script of SetOutPath and File lines, one per installed file
;   UNFILES    the same files as Delete lines, then their folders as RMDir
;   OUTFILE    the setup program to write
; The uninstaller removes exactly the files the installer put there, never a
; folder's whole contents: the user's settings (%APPDATA%\Parvelo) and
; journal (%LOCALAPPDATA%\Parvelo), and anything else in the folder, stay.

; A 64-bit setup for a 64-bit program: a 32-bit one would need 32-bit
; support in Wine and would see the 32-bit views of Program Files and the
; registry.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh

!define PUBLISHER "The Parvelo authors"
!define ABOUT_URL "https://parvelo.example/"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parvelo"

Name "Parvelo ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Parvelo"
BrandingText "Parvelo ${VERSION}"

; The setup program's own version information (Explorer's Properties).
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Parvelo"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Parvelo ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${COPYRIGHT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_UNCONFIRMPAGE_TEXT_TOP "Parvelo will be removed from the folder below. Your settings \
(%APPDATA%\Parvelo) and the journal of readings (%LOCALAPPDATA%\Parvelo) are kept."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
LangString EarlierNotRemoved ${LANG_ENGLISH} "The earlier Parvelo in $INSTDIR could not be \
removed (exit code $0). Close every program that uses its files, then run this setup again."

; Files of a running Parvelo cannot be replaced or deleted; Windows would
; do it at the next restart, and that could delete a newer version's
; files. So both setup and uninstaller wait until it is closed. A running
; program's file cannot be opened for writing.
!macro WaitUntilClosed
    ${If} ${FileExists} "$INSTDIR\parvelo.exe"
    retry_closed:
        ClearErrors
        FileOpen $0 "$INSTDIR\parvelo.exe" a
        ${If} ${Errors}
            MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
                "Parvelo is running. Close it, then choose Retry." \
                /SD IDCANCEL IDRETRY retry_closed
            SetErrorLevel 2
            Abort
        ${EndIf}
        FileClose $0
    ${EndIf}
!macroend

Function .onInit
    SetRegView 64
    ; A new version goes where the last one is, unless the command line
    ; names a folder (/D=, which NSIS has put in $INSTDIR by now).
    ${If} $INSTDIR == "$PROGRAMFILES64\Parvelo"
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $0 != ""
            StrCpy $INSTDIR $0
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.onInit
    SetRegView 64
    !insertmacro WaitUntilClosed
FunctionEnd

Section "Parvelo"
    SetShellVarContext all
    !insertmacro WaitUntilClosed
    ; An earlier version's uninstaller first, waited for, so that no file of
    ; that version is left behind unlisted. It runs from a copy: one that
    ; runs in place cannot delete itself.
    ${If} ${FileExists} "$INSTDIR\uninstall.exe"
        InitPluginsDir
        CopyFiles /SILENT "$INSTDIR\uninstall.exe" "$PLUGINSDIR\uninstall.exe"
        ExecWait '"$PLUGINSDIR\uninstall.exe" /S _?=$INSTDIR' $0
        ; It refused or failed: installing over it would mix two versions.
        ${If} $0 != 0
            MessageBox MB_OK|MB_ICONSTOP "$(EarlierNotRemoved)" /SD IDOK
            SetErrorLevel 2
            Abort
        ${EndIf}
    ${EndIf}

    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Parvelo.lnk" "$INSTDIR\parvelo.exe" "" "$INSTDIR\parvelo.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Parvelo"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${ABOUT_URL}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\parvelo.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\Parvelo.lnk"
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
