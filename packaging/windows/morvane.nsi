; The Windows installer of Morvane: a 64-bit NSIS installer in Japanese and
; English that installs Morvane.exe, SaveJPG.DLL, README.txt, LICENSE.txt,
; THIRD-PARTY-NOTICES.txt and the marker Morvane.installed
; (../Morvane.installed) for the current user
; (%LOCALAPPDATA%\Programs\Morvane, no administrator rights) or
; for all users (C:\Program Files\Morvane, asks for them), with a Start menu
; entry (the settings window), a "Send to" entry and an uninstaller listed
; in Settings > Apps. The uninstaller removes what was installed and leaves
; the settings: %APPDATA%\Morvane, and a Morvane.ini that an earlier version
; saved beside the program, which keeps that folder.
;
; tools/package-windows.sh runs it:
;   makensis -DVERSION=1.26 -DPROGRAM_DIR=<folder with those five files>
;            -DICON=<morvane.ico> -DOUTFILE=<setup.exe> morvane.nsi
;
; Command line of the installer: /S silent, /CurrentUser or /AllUsers (the
; page that asks is then skipped), /D=<folder> (last). A silent /AllUsers
; install without administrator rights ends with status 740
; (ERROR_ELEVATION_REQUIRED); started with the window, the installer starts
; itself again through the elevation prompt. The uninstaller takes /S.

!ifdef VERSION & PROGRAM_DIR & ICON & OUTFILE
!else
  !error "define VERSION, PROGRAM_DIR, ICON and OUTFILE (see tools/package-windows.sh)"
!endif

Unicode true
Target amd64-unicode
ManifestDPIAware true
ManifestSupportedOS all
; Elevation is asked for only when the user chooses an install for all users.
RequestExecutionLevel user
SetCompressor /SOLID lzma
AllowSkipFiles off

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane"
!define PUBLISHER "Morvane developers"
!define ERROR_ELEVATION_REQUIRED 740

Name "Morvane ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Morvane ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

Var AllUsers          ; 1: installed for all users, 0: for the current user
Var ModeGiven         ; 1: /AllUsers or /CurrentUser was on the command line
Var DirGiven          ; the folder of /D=, or empty
Var SendToLink
Var ModePage.AllUsers

!insertmacro MUI_PAGE_WELCOME
Page custom ModePageShow ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for systems in neither language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString ModeTitle ${LANG_ENGLISH} "Choose Users"
LangString ModeTitle ${LANG_JAPANESE} "ユーザーの選択"
LangString ModeSubtitle ${LANG_ENGLISH} "Choose for whom to install Morvane."
LangString ModeSubtitle ${LANG_JAPANESE} "Morvane を使うユーザーを選んでください。"
LangString ModeCurrentUser ${LANG_ENGLISH} "Only for me"
LangString ModeCurrentUser ${LANG_JAPANESE} "自分だけ"
LangString ModeCurrentUserText ${LANG_ENGLISH} "Into your own folder. No administrator rights needed."
LangString ModeCurrentUserText ${LANG_JAPANESE} "自分のフォルダにインストールします。管理者権限は不要です。"
LangString ModeAllUsers ${LANG_ENGLISH} "For all users of this computer"
LangString ModeAllUsers ${LANG_JAPANESE} "このコンピューターのすべてのユーザー"
LangString ModeAllUsersText ${LANG_ENGLISH} "Into the Program Files folder. Needs administrator rights. Settings are then saved per user in %APPDATA%\Morvane."
LangString ModeAllUsersText ${LANG_JAPANESE} "Program Files フォルダにインストールします。管理者権限が必要です。設定はユーザーごとに %APPDATA%\Morvane に保存されます。"
LangString ElevationFailed ${LANG_ENGLISH} "Installing for all users needs administrator rights."
LangString ElevationFailed ${LANG_JAPANESE} "すべてのユーザー用のインストールには管理者権限が必要です。"
LangString UnElevationFailed ${LANG_ENGLISH} "Morvane is installed for all users: uninstalling it needs administrator rights."
LangString UnElevationFailed ${LANG_JAPANESE} "Morvane はすべてのユーザー用にインストールされています。アンインストールには管理者権限が必要です。"
LangString StartMenuComment ${LANG_ENGLISH} "Morvane settings: JPEG quality and where the JPEG files go"
LangString StartMenuComment ${LANG_JAPANESE} "Morvane の設定 (JPEG の画質と保存先)"
LangString SendToComment ${LANG_ENGLISH} "Convert the bitmaps to JPEG with Morvane"
LangString SendToComment ${LANG_JAPANESE} "ビットマップを Morvane で JPEG に変換"
LangString FinishText ${LANG_ENGLISH} "Morvane is installed.$\r$\n$\r$\nTo convert bitmaps, right-click them and choose Send to > Morvane, or drag them onto Morvane.exe. $\"Morvane$\" in the Start menu opens its settings window."
LangString FinishText ${LANG_JAPANESE} "Morvane をインストールしました。$\r$\n$\r$\nビットマップを右クリックして「送る」→「Morvane」を選ぶか、Morvane.exe にドラッグ＆ドロップすると JPEG に変換されます。スタートメニューの「Morvane」で設定画面が開きます。"

VIProductVersion "${VERSION}.0.0"
VIFileVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Morvane"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Morvane ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "© 2026 Morvane"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "Morvane"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "Morvane ${VERSION} セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "© 2026 Morvane"

; $0 is 1 when the process runs with administrator rights (elevated).
!macro IsAdmin
  System::Call "shell32::IsUserAnAdmin() i .r0"
!macroend

; The shell folders and the registry root (SHCTX) of the chosen kind of
; install.
Function UseModeFolders
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

; The folders of the chosen kind of install, and its default install folder.
Function ApplyMode
  ${If} $AllUsers == 1
    StrCpy $0 "$PROGRAMFILES64\Morvane"
  ${Else}
    SetShellVarContext current
    StrCpy $0 "$LOCALAPPDATA\Programs\Morvane"
  ${EndIf}
  Call UseModeFolders
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 != ""
    StrCpy $0 $1  ; an update goes where the earlier version is
  ${EndIf}
  ${If} $DirGiven == ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

; Starts this installer again through the elevation prompt, for all users,
; and ends this one. Back to the caller when the prompt was refused.
Function RestartElevated
  StrCpy $0 "/AllUsers"
  ${If} $DirGiven != ""
    StrCpy $0 "$0 /D=$DirGiven"  ; /D= comes last
  ${EndIf}
  HideWindow
  ClearErrors
  ExecShell "runas" "$EXEPATH" "$0"
  ${IfNot} ${Errors}
    Quit
  ${EndIf}
  BringToFront
  MessageBox MB_ICONEXCLAMATION "$(ElevationFailed)"
FunctionEnd

Function .onInit
  StrCpy $DirGiven $INSTDIR  ; /D= is in $INSTDIR already
  StrCpy $AllUsers 0
  StrCpy $ModeGiven 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    StrCpy $ModeGiven 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CurrentUser" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
    StrCpy $ModeGiven 1
  ${EndIf}
  ; Without a choice on the command line, an earlier install for all users
  ; (and none for this user) is offered first.
  ${If} $ModeGiven == 0
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 == ""
    ${AndIf} $2 != ""
      StrCpy $AllUsers 1
    ${EndIf}
  ${EndIf}
  ${If} $AllUsers == 1
    !insertmacro IsAdmin
    ${If} $0 != 1
      ${If} ${Silent}
        SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
        Quit
      ${ElseIf} $ModeGiven == 1
        Call RestartElevated
        Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Call ApplyMode
FunctionEnd

Function ModePageShow
  ${If} $ModeGiven == 1
    Abort  ; chosen on the command line
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(ModeTitle)" "$(ModeSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  SetShellVarContext current  ; for $LOCALAPPDATA, also when back from an install for all users
  ${NSD_CreateFirstRadioButton} 0 0 100% 12u "$(ModeCurrentUser)"
  Pop $1
  ${NSD_CreateLabel} 12u 14u -12u 24u "$(ModeCurrentUserText)$\r$\n$LOCALAPPDATA\Programs\Morvane"
  Pop $0
  ${NSD_CreateAdditionalRadioButton} 0 48u 100% 12u "$(ModeAllUsers)"
  Pop $ModePage.AllUsers
  ${NSD_CreateLabel} 12u 62u -12u 36u "$(ModeAllUsersText)$\r$\n$PROGRAMFILES64\Morvane"
  Pop $0
  ${If} $AllUsers == 1
    ${NSD_Check} $ModePage.AllUsers
  ${Else}
    ${NSD_Check} $1
  ${EndIf}
  Call UseModeFolders
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $ModePage.AllUsers $0
  ${If} $0 == ${BST_CHECKED}
    !insertmacro IsAdmin
    ${If} $0 != 1
      Call RestartElevated
      Abort  ; the prompt was refused: stay on the page
    ${EndIf}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call ApplyMode
FunctionEnd

Section "Morvane"
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${PROGRAM_DIR}/Morvane.exe"
  File "${PROGRAM_DIR}/SaveJPG.DLL"
  File "${PROGRAM_DIR}/README.txt"
  File "${PROGRAM_DIR}/LICENSE.txt"
  File "${PROGRAM_DIR}/THIRD-PARTY-NOTICES.txt"
  ; Marks the copy as installed: Morvane.exe keeps every user's settings in
  ; their own %APPDATA%\Morvane, never here. A copy installed by an earlier
  ; version for this user kept them here: they move there, unless that user
  ; has their own already.
  File "${__FILEDIR__}/../Morvane.installed"
  ${If} $AllUsers == 0
  ${AndIf} ${FileExists} "$INSTDIR\Morvane.ini"
  ${AndIfNot} ${FileExists} "$APPDATA\Morvane\Morvane.ini"
    CreateDirectory "$APPDATA\Morvane"
    CopyFiles /SILENT "$INSTDIR\Morvane.ini" "$APPDATA\Morvane\Morvane.ini"
    ${If} ${FileExists} "$APPDATA\Morvane\Morvane.ini"
      Delete "$INSTDIR\Morvane.ini"
    ${EndIf}
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Morvane.lnk" "$INSTDIR\Morvane.exe" "" "$INSTDIR\Morvane.exe" 0 \
    SW_SHOWNORMAL "" "$(StartMenuComment)"
  ; Windows has a "Send to" folder per user only: the entry goes to the
  ; user who installs, also for all users; its place is kept in the registry
  ; for the uninstaller.
  SetShellVarContext current
  StrCpy $SendToLink "$SENDTO\Morvane.lnk"
  Call UseModeFolders
  CreateShortcut "$SendToLink" "$INSTDIR\Morvane.exe" "" "$INSTDIR\Morvane.exe" 0 \
    SW_SHOWNORMAL "" "$(SendToComment)"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Morvane"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Morvane.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "SendToShortcut" "$SendToLink"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The uninstaller belongs to the install whose key names its folder.
Function un.onInit
  StrCpy $AllUsers 0
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != $INSTDIR
  ${AndIf} $1 == $INSTDIR
    StrCpy $AllUsers 1
  ${EndIf}
  ${If} $AllUsers == 1
    !insertmacro IsAdmin
    ${If} $0 != 1
      ${If} ${Silent}
        SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
        Quit
      ${EndIf}
      ; The copy of the uninstaller that runs now lies in a temporary
      ; folder: the one in the install folder is started again.
      ClearErrors
      ExecShell "runas" "$INSTDIR\uninstall.exe"
      ${If} ${Errors}
        MessageBox MB_ICONEXCLAMATION "$(UnElevationFailed)"
      ${EndIf}
      Quit
    ${EndIf}
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\Morvane.exe"
  Delete "$INSTDIR\SaveJPG.DLL"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\Morvane.installed"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: a Morvane.ini saved here keeps it.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Morvane.lnk"
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "SendToShortcut"
  StrCpy $1 $0 "" -12
  ${If} $1 == "\Morvane.lnk"
    Delete "$0"
  ${EndIf}
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
