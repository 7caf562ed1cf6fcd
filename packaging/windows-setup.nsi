; The Windows setup of the firmware installer, built by packaging/windows-package.cmake
; with makensis, which defines:
;   VERSION      the program's version (1.0.0)
;   STAGE        the folder as `cmake --install --component program` laid it out
;   UNINSTALL    an include file that deletes exactly the files and folders of STAGE
;   OUTFILE      the setup's path
;   ICON         the program's icon (.ico), also the setup's
;   NAME_SUFFIX  empty, or " (test firmware)" for a build without a release image
;
; Per user (the default, no administrator needed) into the user's program folder,
; or for all users into Program Files: the choice is a page of the wizard, or
; /CurrentUser and /AllUsers on the command line; /S installs silently.
; The uninstaller removes what the setup put there and nothing else: backups of
; the accessory's firmware live in the user's data folder and stay.

; The programs are 64-bit; so is their setup (it also runs where no 32-bit
; Windows layer is installed, as under a 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define PRODUCT "TAVRIN firmware installator"
!define PROGRAM "tavrin-installator.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\tavrin-installator"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "TAVRIN firmware installator"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_MUI
!include MultiUser.nsh
!include MUI2.nsh

Name "${PRODUCT}${NAME_SUFFIX}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"

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

Function .onInit
  ; A folder given with /D= is set before this runs; the mode's default
  ; folder must not replace it.
  StrCpy $0 $INSTDIR
  !insertmacro MULTIUSER_INIT
  StrCmp $0 "" +2
    StrCpy $INSTDIR $0
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Install"
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
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !include "${UNINSTALL}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: a folder the person chose may hold their own files.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
