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
!define PUBLISHER   "Команда KP33"
!define EXE         "kp33.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINST_KEY  "Software\Microsoft\Windows\CurrentVersion\Uninstall\KP33"
; The information record the program writes at every close.
!define RECORD_KEY  "Software\KP33\Information"
; Held by the program from its start to its end.
!define MUTEX       "KP33-ZNK-847"

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
VIAddVersionKey /LANG=1049 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка программы ${PRODUCT}"
VIAddVersionKey /LANG=1049 "LegalCopyright" ""

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

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

; While the program runs, Windows keeps its kp33.exe from being replaced or
; removed: the user is asked to close it, with Retry to look again and Cancel
; to stop. A silent run has nobody to ask; it stops at once with exit code 2,
; having changed nothing.
!macro WAIT_PROGRAM_CLOSED UN TEXT
Function ${UN}waitProgramClosed
  retry:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${MUTEX}") p .r0 ?e'
    Pop $1
    ; Access denied is a mutex that exists all the same.
    ${If} $0 = 0
    ${AndIf} $1 <> 5
      Return
    ${EndIf}
    ${If} $0 <> 0
      System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${TEXT}" /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
FunctionEnd
!macroend
!insertmacro WAIT_PROGRAM_CLOSED "" "Программа «${PRODUCT}» запущена.$\r$\n$\r$\nЗакройте её и нажмите «Повтор», чтобы продолжить установку, или «Отмена», чтобы прервать её."
!insertmacro WAIT_PROGRAM_CLOSED "un." "Программа «${PRODUCT}» запущена.$\r$\n$\r$\nЗакройте её и нажмите «Повтор», чтобы продолжить удаление, или «Отмена», чтобы прервать его."

Function .onInit
  SetShellVarContext current
  Call waitProgramClosed
FunctionEnd

Function un.onInit
  SetShellVarContext current
  Call un.waitProgramClosed
FunctionEnd

Section "KP33" SecMain
  SectionIn RO
  ; Started again while the pages were up: asked once more before a file is touched.
  Call waitProgramClosed
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
  WriteRegStr   HKCU "${UNINST_KEY}" "Publisher"            "${PUBLISHER}"
  WriteRegStr   HKCU "${UNINST_KEY}" "DisplayIcon"          "$INSTDIR\${EXE},0"
  WriteRegStr   HKCU "${UNINST_KEY}" "UninstallString"      '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr   HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr   HKCU "${UNINST_KEY}" "InstallLocation"      "$INSTDIR"
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ; The program's own files only: the user's KP33.ini and DATA\ beside them
  ; are no part of it.
  SectionGetSize ${SecMain} $0
  ${GetSize} "$INSTDIR" "/M=${UNINSTALLER} /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Call un.waitProgramClosed
  Delete "$INSTDIR\${EXE}"
  RMDir /r "$INSTDIR\HELP"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"
  DeleteRegKey HKCU "${RECORD_KEY}"
  DeleteRegKey /ifempty HKCU "Software\KP33"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The settings (KP33.ini) and the measurements (DATA\) are the user's: the
  ; folder goes only when they are not there.
  RMDir "$INSTDIR"
SectionEnd
