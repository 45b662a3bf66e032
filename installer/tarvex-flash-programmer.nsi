; The Windows setup of the Tarvex Flash Programmer: the desktop program, the command-line program
; and the instruction manual beside them, a Start-menu shortcut and an uninstaller, for every user
; of the machine. makensis is given PROGRAM, CLI, MANUAL, ICON and OUTFILE with -D.
Unicode true
; A 64-bit setup for the 64-bit programs.
Target amd64-unicode
!include "MUI2.nsh"

!define APPNAME "Tarvex Flash Programmer"
!define VERSION "1.20.0.0"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvexFlashProgrammer"

Name "${APPNAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tarvex Ltd\Flash Programmer"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${ICON}"
UninstallIcon "${ICON}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey "ProductName" "${APPNAME}"
VIAddVersionKey "CompanyName" "Tarvex Ltd"
VIAddVersionKey "FileDescription" "${APPNAME} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Tarvex Ltd"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=tarvex-flash-programmer.exe" "${PROGRAM}"
  File "/oname=tarvex-flash.exe" "${CLI}"
  File "/oname=MAN214 - Flash Programmer Instructions.pdf" "${MANUAL}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\tarvex-flash-programmer.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "Tarvex Ltd"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\tarvex-flash-programmer.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${APPNAME}.lnk"
  Delete "$INSTDIR\tarvex-flash-programmer.exe"
  Delete "$INSTDIR\tarvex-flash.exe"
  Delete "$INSTDIR\MAN214 - Flash Programmer Instructions.pdf"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Tarvex Ltd"
  DeleteRegKey HKLM "${UNINSTKEY}"
  ; The installer's data (Logs, Firmware under ProgramData) and each user's settings stay.
SectionEnd
