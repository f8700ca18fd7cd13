; The uninstaller, <folder>\Uninstall.exe: an ordinary setup program, made
; by the installer's script (NSIS.template.in) with its names, version and
; signing, not NSIS's self-copying uninstaller. However it is started, by
; its plain path as Settings does, with /S appended as tools do, or with
; _?=<its folder> of older registrations, whoever started it waits for the
; uninstallation and gets its exit code.
;
; A running program's file can be neither deleted nor renamed, so run where
; it is it does no work itself: the engine copies it into a temporary
; folder, starts the copy and waits for its verdict. The copy holds the
; setup lock, shows the pages and has the engine do the job; once the job
; is committed it lets the original end, deletes the original's file and
; the empty folder, and only then releases the lock: a setup started as
; soon as the command returns waits for it.

!include "${DEFINES}"

Target amd64-unicode
Unicode true
SetCompressor /SOLID lzma
; Administrators remove an installation for all users; everyone else their
; own.
RequestExecutionLevel highest
ManifestDPIAware true
; One step of the engine, as in the installer: no list of details.
ShowInstDetails nevershow

!if '${SIGN_COMMAND}' != ''
  !finalize '${SIGN_COMMAND}' = 0
!endif

Name "${APP_NAME}"
Caption "$(uninstall_caption)"
OutFile "${OUT}"
BrandingText "${APP_NAME} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP_NAME} uninstaller"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "OriginalFilename" "Uninstall.exe"
VIAddVersionKey /LANG=1033 "ProductName" "${APP_NAME}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "nsDialogs.nsh"
!include "${EXIT_CODES}"

!define WAIT_MILLISECONDS 10000
; The language string refusing for want of administrator rights.
!define ELEVATION_TEXT elevation_uninstall

Var Scope          ; (the messages' other scope, which never arises here)
Var IsAdmin
Var Original       ; the process id of the waiting original, for the copy

Page custom ConfirmPage
!define MUI_PAGE_HEADER_TEXT "$(uninstalling_title)"
!define MUI_PAGE_HEADER_SUBTEXT "$(uninstalling_subtitle)"
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "$(uninstalled_title)"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "$(uninstalled_subtitle)"
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "$(uninstall_aborted_title)"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "$(uninstall_aborted_subtitle)"
!insertmacro MUI_PAGE_INSTFILES
; The installer's languages; the uninstaller speaks the installation's.
!include "${LANGUAGES}"

ReserveFile /plugin "UserInfo.dll"
ReserveFile /plugin "SetupEngine.dll"

!include "${INSTALLER_DIR}/messages.nsh"

Function .onInit
  StrCpy $Scope ""
  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${If} $0 == "admin"
    StrCpy $IsAdmin 1
  ${EndIf}
  SetupEngine::Switches
  Pop $0  ; too long
  Pop $0  ; scope
  Pop $0  ; /D= given
  Pop $5  ; /D= folder: the copy's installation folder
  Pop $0
  Pop $0
  Pop $6  ; _?= given
  Pop $7  ; _?= folder
  Pop $Original
  Pop $0  ; /NOCRASHDUMPS

  ${If} $Original == ""
    ; The original, started where it is installed: its folder is its own.
    SetupEngine::Folder $EXEDIR user
    Pop $8
    Pop $0
    Pop $0
    Pop $0
    Pop $0
    Call SpeakTheInstallations
    ${If} $6 == 1
      SetupEngine::Folder $7 user
      Pop $9
      Pop $0
      Pop $0
      Pop $0
      Pop $0
      ${If} $9 != $8
        StrCpy $0 ${EXIT_BAD_FOLDER}
        StrCpy $1 "not_installed"
        StrCpy $2 $7
        Call RefuseWithReason
      ${EndIf}
    ${EndIf}
    ${If} ${Silent}
      SetupEngine::RunFromCopy $8 1
    ${Else}
      SetupEngine::RunFromCopy $8 0
    ${EndIf}
    Pop $0
    !insertmacro QuitWith $0
  ${EndIf}

  ; The temporary copy.
  StrCpy $INSTDIR $5
  StrCpy $8 $5
  Call SpeakTheInstallations
  Call TakeLock
  SetupEngine::UninstallProblem $INSTDIR $IsAdmin
  Pop $0
  Pop $1
  Pop $2
  ${If} $0 != ""
    Call RefuseWithReason
  ${EndIf}
FunctionEnd

; The language of the installation in the folder $8, as its installer
; spoke it, else the user's.
Function SpeakTheInstallations
  SetupEngine::Language "${LANGUAGE_IDS}" $8
  Pop $LANGUAGE
  Pop $0
FunctionEnd

Function ConfirmPage
  !insertmacro MUI_HEADER_TEXT "$(confirm_title)" "$(confirm_subtitle)"
  nsDialogs::Create 1018
  Pop $0
  nsDialogs::SetRTL $(^RTL)  ; mirrored for Arabic and Hebrew
  ${NSD_CreateLabel} 0 0 100% 30u "$(confirm_text)"
  Pop $0
  ${NSD_CreateLabel} 0 36u 100% 10u "$(confirm_from)"
  Pop $0
  ${NSD_CreateText} 0 48u 100% 12u "$INSTDIR"
  Pop $0
  SendMessage $0 ${EM_SETREADONLY} 1 0
  GetDlgItem $0 $HWNDPARENT 1
  SendMessage $0 ${WM_SETTEXT} 0 "STR:$(confirm_button)"
  nsDialogs::Show
FunctionEnd

Section "-Remove"
  ${If} ${Silent}
    StrCpy $R7 ${WAIT_MILLISECONDS}
  ${Else}
    StrCpy $R7 0
  ${EndIf}
  ${Do}
    SetupEngine::Uninstall $INSTDIR $IsAdmin $Original $R7 "${FILE_DIGESTS}"
    Pop $0
    Pop $1
    Pop $2
    ${If} $0 == ""
      ${ExitDo}
    ${EndIf}
    StrCpy $3 ""
    Call RetryOrRefuse
    Pop $0
  ${Loop}
SectionEnd
