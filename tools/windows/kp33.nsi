; Per-user installer of KP33 for 64-bit Windows.
;   makensis -V2 -DSRCDIR=<folder with kp33.exe and HELP> -DOUTFILE=<setup.exe>
;            -DVERSION=<a.b.c.d> tools/windows/kp33.nsi
; makensis works from this file's folder, so give SRCDIR and OUTFILE as absolute
; paths. Saved as UTF-8 with a BOM: without one makensis may read the Russian text
; in the local code page.

Unicode true
Target amd64-unicode            ; the 32-bit stub would need a 32-bit Wine to test
SetCompressor /SOLID lzma
RequestExecutionLevel user      ; the program writes KP33.ini and DATA\ beside itself
ManifestDPIAware true

!ifndef SRCDIR
  !error "SRCDIR is not defined: the folder with kp33.exe and HELP\"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not defined: the installer to write"
!endif
!ifndef VERSION
  !error "VERSION is not defined"
!endif
; VIProductVersion takes only four numbers; a longer or lettered VERSION needs FILEVERSION too.
!ifndef FILEVERSION
  !define FILEVERSION "${VERSION}"
!endif

!define PRODUCT     "Термометр KP33"
!define EXE         "kp33.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY  "Software\Microsoft\Windows\CurrentVersion\Uninstall\KP33"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\KP33"
; A second install goes where the first one went.
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${FILEVERSION}"
VIFileVersion "${FILEVERSION}"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка программы ${PRODUCT}"
VIAddVersionKey /LANG=1049 "LegalCopyright" ""

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Запустить программу ${PRODUCT}"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "KP33" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${SRCDIR}\${EXE}"
  ; Help pages of an older version must not outlive it.
  RMDir /r "$INSTDIR\HELP"
  File /r "${SRCDIR}\HELP"

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteRegStr   HKCU "${UNINST_KEY}" "DisplayName"          "${PRODUCT}"
  WriteRegStr   HKCU "${UNINST_KEY}" "DisplayVersion"       "${VERSION}"
  WriteRegStr   HKCU "${UNINST_KEY}" "DisplayIcon"          "$INSTDIR\${EXE},0"
  WriteRegStr   HKCU "${UNINST_KEY}" "UninstallString"      '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr   HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr   HKCU "${UNINST_KEY}" "InstallLocation"      "$INSTDIR"
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\${EXE}"
  RMDir /r "$INSTDIR\HELP"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The settings (KP33.ini) and the measurements (DATA\) are the user's: the
  ; folder goes only when they are not there.
  RMDir "$INSTDIR"
SectionEnd
