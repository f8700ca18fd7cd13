; The start: the arguments, the scope (all users or the current user), what
; is installed there, the choices and the folder; and the pages that show
; them. Silent, each refusal ends the run with its exit code; with a window,
; the page explains it and stays, so that the user can choose again or
; cancel.

Var AllUsersButton
Var ScopeNote      ; the explanation under the scope choice
Var SwitchOpenWith ; "0" for /NOASSOCIATIONS, else empty
Var SwitchDesktop  ; "1" for /DESKTOPSHORTCUT, else empty
Var SwitchCrashDumps ; "1" for /NOCRASHDUMPS, else empty

Function .onInit
  ; The language: /LANG=, else the installation's, else the user's; with a
  ; window, a list when none of the user's is here or the installation
  ; speaks another.
  SetupEngine::Language "${LANGUAGE_IDS}" ""
  Pop $LANGUAGE
  Pop $0
  ${If} $0 == 1
  ${AndIfNot} ${Silent}
    !insertmacro MUI_LANGDLL_DISPLAY
  ${EndIf}

  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${If} $0 == "admin"
    StrCpy $IsAdmin 1
  ${EndIf}

  ; The switches, read by the engine from the command line itself.
  SetupEngine::Switches
  Pop $0  ; too long to read
  Pop $1  ; scope
  Pop $2  ; /D= given
  Pop $3  ; /D= folder
  Pop $SwitchOpenWith
  Pop $SwitchDesktop
  Pop $4  ; the uninstaller's
  Pop $4
  Pop $4
  Pop $SwitchCrashDumps
  ${If} $0 == 1
    StrCpy $0 ${EXIT_BAD_FOLDER}
    StrCpy $1 "too_long_command"
    Call RefuseWithReason
  ${EndIf}
  StrCpy $ChosenFolder ""
  ${If} $2 == 1
    StrCpy $ChosenFolder $3
    ${IfThen} $ChosenFolder == "" ${|} StrCpy $ChosenFolder "$\"$\"" ${|}
  ${EndIf}
  ${If} $SwitchOpenWith == 1
    StrCpy $SwitchOpenWith 0
  ${EndIf}

  ; The scope: a switch; else that of the installation there; else all
  ; users when silent or for an administrator, the current user for
  ; everyone else.
  StrCpy $Scope $1
  ${If} $Scope == ""
    SetupEngine::Installed all
    Pop $0
    Pop $4
    Pop $4
    Pop $4
    Pop $4
    SetupEngine::Installed user
    Pop $1
    Pop $4
    Pop $4
    Pop $4
    Pop $4
    ${If} $0 != ""
      StrCpy $Scope "all"
    ${ElseIf} $1 != ""
      StrCpy $Scope "user"
    ${ElseIf} ${Silent}
    ${OrIf} $IsAdmin = 1
      StrCpy $Scope "all"
    ${Else}
      StrCpy $Scope "user"
    ${EndIf}
  ${EndIf}

  Call TakeLock
  ${If} ${Silent}
    Call ScopeProblem
    ${If} $0 != ""
      Call RefuseWithReason
    ${EndIf}
    Call SettleScope
  ${EndIf}
FunctionEnd

; Sets $0 to the exit code of what keeps $Scope from being used, or "";
; its reason and details in $1 to $3.
Function ScopeProblem
  SetupEngine::ScopeProblem $Scope $IsAdmin
  Pop $0
  Pop $1
  Pop $2
  Pop $3
FunctionEnd

; Everything that follows from the scope: the installation there, the
; folder, and the choices, which an upgrade keeps unless a switch says
; otherwise.
Function SettleScope
  ${If} $Scope == "all"
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  SetupEngine::Installed $Scope
  Pop $Previous
  Pop $PreviousVersion
  Pop $R0  ; Open with
  Pop $R1  ; desktop shortcut
  Pop $R2  ; crash dumps
  ${If} $ChosenFolder != ""
    StrCpy $INSTDIR $ChosenFolder
  ${ElseIf} $Previous != ""
    StrCpy $INSTDIR $Previous
  ${ElseIf} $Scope == "all"
    StrCpy $INSTDIR "$PROGRAMFILES64\${FOLDER_NAME}"
  ${Else}
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${FOLDER_NAME}"
  ${EndIf}

  !insertmacro SelectSection ${SecAssociations}
  !insertmacro UnselectSection ${SecDesktop}
  !insertmacro SelectSection ${SecCrashDumps}
  ${If} $Previous != ""
    ${If} $R0 != 1
      !insertmacro UnselectSection ${SecAssociations}
    ${EndIf}
    ${If} $R1 == 1
      !insertmacro SelectSection ${SecDesktop}
    ${EndIf}
    ${If} $R2 != 1
      !insertmacro UnselectSection ${SecCrashDumps}
    ${EndIf}
  ${EndIf}
  ${If} $SwitchCrashDumps == 1
    !insertmacro UnselectSection ${SecCrashDumps}
  ${EndIf}
  ; Windows Error Reporting's settings are the machine's: for the current
  ; user the component is not shown.
  ${If} $Scope == "all"
    SectionSetText ${SecCrashDumps} "$(component_crash_dumps)"
  ${Else}
    !insertmacro UnselectSection ${SecCrashDumps}
    SectionSetText ${SecCrashDumps} ""
  ${EndIf}
  ${If} $SwitchOpenWith == 0
    !insertmacro UnselectSection ${SecAssociations}
  ${EndIf}
  ${If} $SwitchDesktop == 1
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

Function ScopePage
  !insertmacro MUI_HEADER_TEXT "$(scope_title)" "$(scope_subtitle)"
  nsDialogs::Create 1018
  Pop $0
  nsDialogs::SetRTL $(^RTL)  ; mirrored for Arabic and Hebrew
  ${NSD_CreateRadioButton} 0 20u 100% 12u "$(scope_all)"
  Pop $AllUsersButton
  ${NSD_CreateRadioButton} 0 40u 100% 12u "$(scope_me)"
  Pop $1
  ${NSD_CreateLabel} 0 64u 100% 48u ""
  Pop $ScopeNote
  ${If} $Scope == "all"
    ${NSD_Check} $AllUsersButton
  ${Else}
    ${NSD_Check} $1
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ScopePageLeave
  ${NSD_GetState} $AllUsersButton $0
  ${If} $0 = ${BST_CHECKED}
    StrCpy $Scope "all"
  ${Else}
    StrCpy $Scope "user"
  ${EndIf}
  Call ScopeProblem
  ${If} $0 != ""
    StrCpy $R1 $1
    StrCpy $R2 $2
    StrCpy $R3 $3
    Call ReasonText
    ${NSD_SetText} $ScopeNote $R0
    Abort  ; stays on the page
  ${EndIf}
  Call SettleScope
FunctionEnd

; Shown when a version is installed in the scope: which, where, and what
; this setup does with it.
Function InstalledPage
  ${If} $Previous == ""
    Abort  ; skips the page
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(installed_title)" "$(installed_subtitle)"
  ${VersionCompare} "${VERSION}" $PreviousVersion $0
  ${If} $0 = 0
    StrCpy $1 "$(installed_same)"
  ${ElseIf} $0 = 1
    StrCpy $1 "$(installed_newer)"
  ${Else}
    StrCpy $1 "$(installed_older)"
  ${EndIf}
  nsDialogs::Create 1018
  Pop $0
  nsDialogs::SetRTL $(^RTL)  ; mirrored for Arabic and Hebrew
  ${NSD_CreateLabel} 0 0 100% 24u "$(installed_where)"
  Pop $0
  ${NSD_CreateLabel} 0 30u 100% 36u "$1 $(installed_keeps)"
  Pop $0
  nsDialogs::Show
FunctionEnd

; The folder typed on the folder page is checked on leaving it: a message,
; and the page stays for the user to correct it. A folder for all users
; that ordinary users may change is said so, and the user decides.
Function FolderPageLeave
  SetupEngine::Folder $INSTDIR $Scope
  Pop $4  ; canonical
  Pop $0
  Pop $1
  Pop $2
  Pop $5  ; ordinary users may write to it
  ${If} $0 != ""
    StrCpy $R1 $1
    StrCpy $R2 $2
    StrCpy $R3 $4
    Call ReasonText
    ${If} $0 == ${EXIT_BAD_FOLDER}
      StrCpy $R0 "$(folder_refused)$\r$\n$\r$\n$R0"
    ${EndIf}
    Push $R0
    Call WrapText
    Pop $R0
    MessageBox MB_ICONEXCLAMATION $R0
    Abort
  ${EndIf}
  ${If} $5 == 1
    Push "$(folder_writable)"
    Call WrapText
    Pop $R0
    ${IfNot} ${Cmd} `MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 $R0 IDYES`
      Abort
    ${EndIf}
  ${EndIf}
  StrCpy $INSTDIR $4
  StrCpy $ChosenFolder $4
FunctionEnd
