; The Windows setup of the firmware installer, built by packaging/windows-package.cmake
; with makensis, which defines:
;   VERSION      the program's version (1.0.0)
;   STAGE        the folder as `cmake --install --component program` laid it out
;   UNINSTALL    an include file that deletes exactly the files and folders of STAGE
;   OUTFILE      the setup's path
;   ICON         the program's icon (.ico), also the setup's
;   NAME_SUFFIX  empty, or " (test firmware)" for a build without a release image
;   FINISH_ART   the welcome and finish pages' picture (164 x 314 BMP)
;   SIGN         (optional) a command that signs the file it is given, in place
;
; Per user (the default, no administrator needed) into the user's program folder,
; or for all users into Program Files: the choice is a page of the wizard, or
; /CurrentUser and /AllUsers on the command line; /S installs silently.
; The uninstaller removes what the setup put there and nothing else: backups of
; the accessory's firmware live in the user's data folder and stay.

; A second run updates the copy in place: the mode and the folder of the
; installed copy are read back from its uninstall entry; a copy in the other
; mode is named before anything is written. While the wizard or the flasher
; runs (each holds the mark named RUNNING_MARK), the setup and the
; uninstaller ask for it to be closed; silent, they refuse with status 2.

; The programs are 64-bit; so is their setup (it also runs where no 32-bit
; Windows layer is installed, as under a 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "TAVRIN firmware installator"
!define PROGRAM "tavrin-installator.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tavrin-installator"
; platform/runningmark.h
!define RUNNING_MARK "TAVRIN-installator-running"
; Exit status of a silent run that something stopped (a running program).
!define STATUS_REFUSED 2

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "TAVRIN firmware installator"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_MUI
!define MULTIUSER_PAGE_CUSTOMFUNCTION_LEAVE InstallModeChosen
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
; After MultiUser, which asks for the highest rights there are: installing
; for the person alone needs no administrator and asks for none. For all
; users the setup is started as administrator.
RequestExecutionLevel user

; A folder given with /D=, which the install-mode page must not replace.
Var GivenFolder

!ifdef SIGN
  ; The setup and the uninstaller it carries, each signed as it is made.
  !finalize '"${SIGN}" "%1"'
  !uninstfinalize '"${SIGN}" "%1"'
!endif

Name "${PRODUCT}${NAME_SUFFIX}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\licenses"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the licences of the parts it is made of"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_ABORTWARNING
!define MUI_WELCOMEFINISHPAGE_BITMAP "${FINISH_ART}"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "TAVRIN installator developers"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "TAVRIN installator developers"

; Asks for the wizard and the flasher to be closed while either runs:
; their files cannot be replaced or deleted. Silent, refuses with
; STATUS_REFUSED.
!macro CLOSE_RUNNING_PROGRAMS UN
Function ${UN}CloseRunningPrograms
  check:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Local\${RUNNING_MARK}") p .r0'
    StrCmp $0 "0" 0 running
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Global\${RUNNING_MARK}") p .r0'
    StrCmp $0 "0" done running
  running:
    System::Call 'kernel32::CloseHandle(p r0)'
    IfSilent refuse
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT} is running. Close it (and tavrin-dfu), then choose Retry." IDRETRY check
  refuse:
    SetErrorLevel ${STATUS_REFUSED}
    Quit
  done:
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_PROGRAMS ""
!insertmacro CLOSE_RUNNING_PROGRAMS "un."

; The copy of the other mode, if there is one, is named: a second copy is
; what the person gets if they go on.
Function NameOtherCopy
  StrCmp $MultiUser.InstallMode "AllUsers" 0 +3
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    Goto read
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  read:
  StrCmp $1 "" none
  DetailPrint "Another copy of ${PRODUCT} is installed in $1."
  MessageBox MB_OKCANCEL|MB_ICONINFORMATION \
    "Another copy of ${PRODUCT} is installed in $1, in the other mode. This one is installed beside it; uninstall the other from Apps && features if it is not wanted." \
    /SD IDOK IDOK none
  SetErrorLevel ${STATUS_REFUSED}
  Quit
  none:
FunctionEnd

Function .onInit
  ; A folder given with /D= is set before this runs; neither the mode's
  ; default folder nor the installed copy's may replace it.
  StrCpy $GivenFolder $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $GivenFolder != ""
    StrCpy $INSTDIR $GivenFolder
  ${EndIf}
  Call CloseRunningPrograms
  ${If} ${Silent}
    Call NameOtherCopy
  ${EndIf}
FunctionEnd

; The install-mode page sets the mode's folder (the installed copy's, where
; there is one); a folder given with /D= still wins.
Function InstallModeChosen
  ${If} $GivenFolder != ""
    StrCpy $INSTDIR $GivenFolder
  ${EndIf}
  Call NameOtherCopy
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  Call un.CloseRunningPrograms
FunctionEnd

Section "Install"
  ; Checked again: the person may have started a program meanwhile.
  Call CloseRunningPrograms
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"
  ; Add/Remove Programs, in the hive of the chosen mode; the uninstaller is
  ; told the mode, so that it cleans the same hive and Start menu.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}${NAME_SUFFIX}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "TAVRIN installator developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\${UNINSTALLER}" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\${UNINSTALLER}" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Call un.CloseRunningPrograms
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !include "${UNINSTALL}"
  ; What Qt's programs leave in the person's cache (shader and QML caches).
  RMDir /r "$LOCALAPPDATA\cache\tavrin-installator"
  RMDir /r "$LOCALAPPDATA\cache\tavrin-installator-demo"
  ; A file still in use stays: the entry stays with it, so that the copy
  ; can still be uninstalled once the program is closed.
  ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
  ${OrIf} ${FileExists} "$INSTDIR\tavrin-dfu.exe"
    SetErrorLevel ${STATUS_REFUSED}
    MessageBox MB_OK|MB_ICONSTOP \
      "Some files of ${PRODUCT} are in use and were not removed. Close the program and uninstall it again." \
      /SD IDOK
    Quit
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: a folder the person chose may hold their own files.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
