; The Windows setup program, made with NSIS 3 (makensis) by the build's
; `setup` target (cmake/WindowsPackage.cmake), which passes:
;   VERSION  the project's version (1.2.3)
;   STAGE    the installed tree (cmake --install --strip), the zip's contents
;   OUTFILE  the setup program to write
;   ICON     the application's icon
;
; A 64-bit stub (amd64-unicode): the programs are 64-bit, and a 32-bit
; setup needs WoW64, which a 64-bit-only Wine lacks.
;
; Per user by default, with no administrator rights: the programs go into
; the user's own programs folder, the Start-menu entries and the uninstall
; entry are the user's. Run elevated, or with /AllUsers, it installs for
; every user of the PC. The user's files (settings.txt, Debug.txt, settings
; files, unit logs) are written where the program starts: a folder of the
; user's that setup creates and that the shortcuts start in. Neither the
; uninstaller nor an upgrade touches that folder.
;
; Command line (README-Windows.txt lists it for users):
;   /S  silent   /D=FOLDER  the program folder (last, unquoted)
;   /AllUsers  /CurrentUser  /Desktop  (a desktop shortcut)
; Exit codes: 0 done, 1 cancelled, 2 failed, 3 the program is running,
; 4 /AllUsers without administrator rights.

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
SetCompressorDictSize 32

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "KX627 Configuration Tool"
!define PUBLISHER "KX627 Configuration Tool developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define USER_FOLDER_NAME "KX627"
!define EXIT_RUNNING 3
!define EXIT_NEEDS_ADMIN 4

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

Var AllUsers      ; 1: for every user of the PC
Var UserFolder    ; where the program starts and the user's files go
Var WantDesktop   ; 1: a desktop shortcut (/Desktop, or the finish page's box)
Var WhoText       ; the welcome page's words on whom it installs for

; ---------------------------------------------------------------- files
; What the program folder holds: the zip's contents. The uninstaller removes
; exactly these (and never the folder's other files), so both lists are one.
!macro ProgramFiles DO
  !insertmacro ${DO} "kx627-config.exe"
  !insertmacro ${DO} "kx627-cli.exe"
  !insertmacro ${DO} "KX627 Configuration Manual.pdf"
  !insertmacro ${DO} "AT Command Manual.pdf"
  !insertmacro ${DO} "README-Windows.txt"
  !insertmacro ${DO} "README.md"
  !insertmacro ${DO} "LICENSE.txt"
  !insertmacro ${DO} "THIRD-PARTY-NOTICES.txt"
!macroend
!macro InstallFile NAME
  File "${STAGE}\${NAME}"
!macroend
!macro RemoveFile NAME
  Delete "$INSTDIR\${NAME}"
!macroend

; The Start-menu entries: caption, file in the program folder, arguments.
; Each starts in the user's folder. The uninstaller removes the whole
; Start-menu folder, so an entry is added here and nowhere else.
!macro StartMenuEntries DO
  !insertmacro ${DO} "KX627 Configuration Tool" "kx627-config.exe" ""
  !insertmacro ${DO} "KX627 Production" "kx627-config.exe" "--production"
  !insertmacro ${DO} "KX627 Configuration Manual" "KX627 Configuration Manual.pdf" ""
  !insertmacro ${DO} "AT Command Manual" "AT Command Manual.pdf" ""
  !insertmacro ${DO} "Uninstall KX627 Configuration Tool" "Uninstall.exe" ""
!macroend
!macro CreateStartMenuEntry CAPTION FILE ARGS
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${CAPTION}.lnk" "$INSTDIR\${FILE}" "${ARGS}" \
                 "$INSTDIR\kx627-config.exe" 0
!macroend

; ---------------------------------------------------------------- pages
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "Setup installs ${PRODUCT} ${VERSION}: the window, the \
command-line tool kx627-cli and both manuals.$\r$\n$\r$\n$WhoText$\r$\n$\r$\nYour settings.txt, \
Debug.txt, settings files and unit logs are kept in $UserFolder, which setup creates; upgrading \
or uninstalling leaves them there.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME

!define MUI_LICENSEPAGE_TEXT_TOP "${PRODUCT} is free software under the GNU General Public \
License, version 3 or later."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "You may use the program for any purpose. The licence \
lets you share and change it on its terms; it comes with no warranty."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Create a desktop shortcut"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION CreateDesktopShortcut
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "${PRODUCT} will be removed from $INSTDIR. Your files in \
$UserFolder (settings.txt, Debug.txt, settings files, unit logs) are kept."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been removed.$\r$\n$\r$\nYour files in \
$UserFolder were kept."
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; Version information on setup.exe and on the uninstaller it writes.
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "GPL-3.0-or-later"

; ---------------------------------------------------------------- helpers
; A running program holds its .exe open, and Windows refuses to open a
; running program's file for writing: then setup (or the uninstaller) asks
; to close it, and in silent mode fails at once with its own exit code
; rather than waiting for someone to answer.
!macro DefineCheckClosed UN
Function ${UN}CheckClosed
  retry:
  StrCpy $R0 ""
  ${If} ${FileExists} "$INSTDIR\kx627-config.exe"
    ClearErrors
    FileOpen $R1 "$INSTDIR\kx627-config.exe" a
    ${If} ${Errors}
      StrCpy $R0 "${PRODUCT}"
    ${Else}
      FileClose $R1
    ${EndIf}
  ${EndIf}
  ${If} $R0 == ""
  ${AndIf} ${FileExists} "$INSTDIR\kx627-cli.exe"
    ClearErrors
    FileOpen $R1 "$INSTDIR\kx627-cli.exe" a
    ${If} ${Errors}
      StrCpy $R0 "kx627-cli"
    ${Else}
      FileClose $R1
    ${EndIf}
  ${EndIf}
  ${If} $R0 != ""
    ${If} ${Silent}
      SetErrorLevel ${EXIT_RUNNING}
      Quit
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$R0 is running from $INSTDIR.$\r$\n$\r$\n\
Close it, then press Retry." IDRETRY retry
    SetErrorLevel ${EXIT_RUNNING}
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineCheckClosed ""
!insertmacro DefineCheckClosed "un."

; Elevated: the process's token is the full administrator one (UAC's "Run
; as administrator"). A standard user, or an administrator whose setup runs
; unelevated, gets a limited token and installs per user.
!macro DefineIsElevated UN
Function ${UN}IsElevated
  StrCpy $R0 0
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x8, *p .R1) i .R2'
  ${If} $R2 <> 0
    ; TokenElevation (20): a DWORD, non-zero when elevated.
    System::Call 'advapi32::GetTokenInformation(p R1, i 20, *i .R3, i 4, *i .R4) i .R2'
    ${If} $R2 <> 0
    ${AndIf} $R3 <> 0
      StrCpy $R0 1
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  Push $R0
FunctionEnd
!macroend
!insertmacro DefineIsElevated ""
!insertmacro DefineIsElevated "un."

; The shell folders ($SMPROGRAMS, $DESKTOP, $DOCUMENTS) of the current user
; or of all users, and the user's folder in that Documents folder: a
; per-machine installation keeps the files in the Public Documents folder,
; where every user of the PC finds the same settings and logs.
!macro DefineUseContext UN
Function ${UN}UseContext
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  StrCpy $UserFolder "$DOCUMENTS\${USER_FOLDER_NAME}"
FunctionEnd
!macroend
!insertmacro DefineUseContext ""
!insertmacro DefineUseContext "un."

Function StartProgram
  ; Exec starts the program in $OUTDIR.
  SetOutPath "$UserFolder"
  Exec '"$INSTDIR\kx627-config.exe"'
FunctionEnd

Function CreateDesktopShortcut
  SetOutPath "$UserFolder"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\kx627-config.exe"
FunctionEnd

; ---------------------------------------------------------------- install
Function .onInit
  ${GetParameters} $R9
  StrCpy $WantDesktop 0
  ClearErrors
  ${GetOptions} $R9 "/Desktop" $R8
  ${IfNot} ${Errors}
    StrCpy $WantDesktop 1
  ${EndIf}

  Call IsElevated
  Pop $R7
  StrCpy $AllUsers $R7
  ClearErrors
  ${GetOptions} $R9 "/AllUsers" $R8
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R9 "/CurrentUser" $R8
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  ${If} $AllUsers == 1
  ${AndIf} $R7 == 0
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONSTOP "Installing for every user of this PC needs administrator \
rights.$\r$\n$\r$\nStart setup with Run as administrator, or without /AllUsers to install for \
yourself."
    ${EndIf}
    SetErrorLevel ${EXIT_NEEDS_ADMIN}
    Quit
  ${EndIf}
  Call UseContext
  ${If} $AllUsers == 1
    StrCpy $WhoText "It installs for every user of this PC."
  ${Else}
    StrCpy $WhoText "It installs for you alone and needs no administrator rights. To install \
for every user of this PC, start setup with Run as administrator."
  ${EndIf}

  ; The folder: /D's when given; else where an earlier version is (an
  ; upgrade replaces it in place); else the context's programs folder.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $AllUsers == 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "-Install"
  Call CheckClosed

  SetOutPath "$INSTDIR"
  !insertmacro ProgramFiles InstallFile
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$UserFolder"
  ${If} $AllUsers == 1
    ; Public Documents lets every user add files; the folder setup makes
    ; there lets every user change them too (settings.txt is rewritten at
    ; every exit). BU: the built-in Users group.
    nsExec::Exec 'icacls "$UserFolder" /grant *S-1-5-32-545:(OI)(CI)M'
    Pop $R0
  ${EndIf}

  ; Shortcuts start in the user's folder: CreateShortcut takes $OUTDIR.
  SetOutPath "$UserFolder"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !insertmacro StartMenuEntries CreateStartMenuEntry
  ${If} $WantDesktop == 1
    Call CreateDesktopShortcut
  ${EndIf}
  SetOutPath "$INSTDIR"

  ; Settings > Apps.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kx627-config.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UserFolder" "$UserFolder"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $R0
  DetailPrint "Your files go to $UserFolder."
SectionEnd

; ---------------------------------------------------------------- uninstall
Function un.onInit
  ; Installed for every user when the machine's uninstall entry names this
  ; folder.
  StrCpy $AllUsers 0
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == $INSTDIR
    StrCpy $AllUsers 1
    Call un.IsElevated
    Pop $R1
    ${If} $R1 == 0
      ${IfNot} ${Silent}
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} was installed for every user of this PC: \
removing it needs administrator rights.$\r$\n$\r$\nStart the uninstaller with Run as \
administrator."
      ${EndIf}
      SetErrorLevel ${EXIT_NEEDS_ADMIN}
      Quit
    ${EndIf}
  ${EndIf}
  Call un.UseContext
  ReadRegStr $R0 SHCTX "${UNINSTALL_KEY}" "UserFolder"
  ${If} $R0 != ""
    StrCpy $UserFolder $R0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CheckClosed

  !insertmacro ProgramFiles RemoveFile
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: a file the user put there stays, and so does the folder.
  RMDir "$INSTDIR"

  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DetailPrint "Your files in $UserFolder are kept."
SectionEnd
