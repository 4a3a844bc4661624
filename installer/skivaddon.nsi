; The Windows installer: both programs (the window when it was built), a
; Start-menu folder, and an uninstaller registered under Uninstall.
; Built by installer/CMakeLists.txt with
;   makensis -INPUTCHARSET UTF8 -DOUTFILE=... -DCLI_EXE=... [-DWINDOW_EXE=...] -DVERSION=...
Unicode true
; A 64-bit installer for the 64-bit programs: its own view of the registry
; and of Program Files is the 64-bit one.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define PRODUCT "Kelbo Skiv Addon"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelboSkivAddon"
!ifdef WINDOW_EXE
  !define START_EXE "skivaddon.exe"
!else
  !define START_EXE "skivaddon-cli.exe"
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Korean first: the players this is made for use Korean Windows. The
; system's language picks one; English is the fallback.
!insertmacro MUI_LANGUAGE "Korean"
!insertmacro MUI_LANGUAGE "English"

LangString UninstallLink ${LANG_KOREAN} "${PRODUCT} 제거"
LangString UninstallLink ${LANG_ENGLISH} "Uninstall ${PRODUCT}"

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=skivaddon-cli.exe" "${CLI_EXE}"
  !ifdef WINDOW_EXE
    File "/oname=skivaddon.exe" "${WINDOW_EXE}"
  !endif
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${START_EXE}" "" "$INSTDIR\${START_EXE}" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\$(UninstallLink).lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelbo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${START_EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\skivaddon-cli.exe"
  Delete "$INSTDIR\skivaddon.exe"
  ; The log folder the programs keep beside themselves when they may.
  RMDir /r "$INSTDIR\Log"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\*.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
