; Parvelo's Windows installer, built by tools/windows-installer.sh with
; makensis, which defines:
;   VERSION    the program's version (1.2.3)
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
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

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

Function .onInit
    SetRegView 64
    ; A new version goes where the last one is.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        StrCpy $INSTDIR $0
    ${EndIf}
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Parvelo"
    SetShellVarContext all
    ; An earlier version's uninstaller first, in place and waited for, so
    ; that no file of that version is left behind unlisted.
    ${If} ${FileExists} "$INSTDIR\uninstall.exe"
        ExecWait '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
        Delete "$INSTDIR\uninstall.exe"
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
    ; A file still in use (Parvelo running) goes at the next restart.
    !include "${UNFILES}"
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
