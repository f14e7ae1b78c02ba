; The setup program: makensis -DVERSION=… -DLISTS=<folder of the file lists> -DOUTFILE=… setup.nsi
; (scripts/windows/setup.sh stages the tree and writes the two file lists included below).
; An administrator installs for every user under Program Files, anyone else for themselves; the
; uninstaller removes exactly the files it installed, so a database kept anywhere survives it.
Unicode true
; A 64-bit setup for a 64-bit program (and for wine64, which runs no 32-bit program).
Target amd64-unicode
SetCompressor /SOLID lzma

!define APPNAME "Психологическое тестирование"
!define REGKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvanta"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "Morvanta"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${REGKEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh

Name "${APPNAME}"
OutFile "${OUTFILE}"
BrandingText "${APPNAME} ${VERSION}"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\morvanta.exe"
!define MUI_FINISHPAGE_RUN_PARAMETERS "--desktop"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Программа"
  SetOutPath "$INSTDIR"
  !include "${LISTS}/install-files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; --desktop: the first start asks which database to work with, as the Linux menu entry does.
  CreateShortcut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\morvanta.exe" "--desktop"
  WriteRegStr SHCTX "${REGKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr SHCTX "${REGKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${REGKEY}" "Publisher" "Morvanta"
  WriteRegStr SHCTX "${REGKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${REGKEY}" "DisplayIcon" "$INSTDIR\morvanta.exe"
  WriteRegStr SHCTX "${REGKEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${REGKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${REGKEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${REGKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${APPNAME}.lnk"
  !include "${LISTS}/uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder the user put anything into stays, with it.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${REGKEY}"
SectionEnd
