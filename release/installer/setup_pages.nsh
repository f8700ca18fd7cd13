; The start: the scope (all users or the current user), what is installed
; there, the choices and the folder; and the pages that show them. Silent,
; each refusal ends the run with its exit code; with a window, the page
; explains it and stays, so that the user can choose again or cancel.

Var AllUsersButton
Var ScopeNote      ; the explanation under the scope choice

; Reads the value of a switch from the command line into OUT, and sets the
; error flag when it is absent.
!macro Switch NAME OUT
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "${NAME}" ${OUT}
!macroend

Function .onInit
  SetRegView 64
  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${If} $0 == "admin"
    StrCpy $IsAdmin 1
  ${EndIf}
  Call ReadFolderSwitch

  ; The scope: a switch; else that of the installation there; else all
  ; users when silent or for an administrator, the current user for
  ; everyone else.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
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
  !insertmacro Switch "/CurrentUser" $0
  ${IfNot} ${Errors}
    StrCpy $Scope "user"
  ${EndIf}
  !insertmacro Switch "/AllUsers" $0
  ${IfNot} ${Errors}
    StrCpy $Scope "all"
  ${EndIf}

  Call TakeMutex
  ${If} ${Silent}
    Call ScopeProblem
    Pop $0
    ${If} $0 != ""
      !insertmacro QuitWith $0
    ${EndIf}
    Call SettleScope
  ${EndIf}
FunctionEnd

; Pushes the exit code of what keeps $Scope from being used, or "", and
; leaves the explanation in $R9.
Function ScopeProblem
  StrCpy $R9 ""
  ${If} $Scope == "all"
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "DisplayVersion"
  ${Else}
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${EndIf}
  ${If} $Scope == "all"
  ${AndIf} $IsAdmin = 0
    StrCpy $R9 "Installing for all users needs administrator rights."
    Push ${EXIT_ELEVATION}
  ${ElseIf} $0 != ""
    StrCpy $R9 "${APP_NAME} $1 is installed in $0 for "
    ${If} $Scope == "all"
      StrCpy $R9 "$R9you alone. Uninstall it first to install for all users."
    ${Else}
      StrCpy $R9 "$R9all users. Uninstall it first to install for you alone."
    ${EndIf}
    Push ${EXIT_OTHER_SCOPE}
  ${Else}
    Push ""
  ${EndIf}
FunctionEnd

; The folder of this scope's installation, canonical, and its version.
Function ReadPrevious
  ReadRegStr $Previous SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $PreviousVersion SHCTX "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $Previous != ""
    Push $Previous
    Call CanonicalFolder
    Pop $Previous
  ${EndIf}
FunctionEnd

; Everything that follows from the scope: the registry and shell folders,
; the installation there, the folder, and the choices, which an upgrade
; keeps unless a switch says otherwise.
Function SettleScope
  !insertmacro UseScope
  Call ReadPrevious
  ${If} $ChosenFolder != ""
    Push $ChosenFolder
    Call CanonicalFolder
    Pop $INSTDIR
  ${ElseIf} $Previous != ""
    StrCpy $INSTDIR $Previous
  ${ElseIf} $Scope == "all"
    StrCpy $INSTDIR "$PROGRAMFILES64\${FOLDER_NAME}"
  ${Else}
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${FOLDER_NAME}"
  ${EndIf}

  !insertmacro SelectSection ${SecAssociations}
  !insertmacro UnselectSection ${SecDesktop}
  ${If} $Previous != ""
    ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "OpenWith"
    ${If} $0 == "0"
      !insertmacro UnselectSection ${SecAssociations}
    ${EndIf}
    ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "DesktopShortcut"
    ${If} $0 == "1"
      !insertmacro SelectSection ${SecDesktop}
    ${EndIf}
  ${EndIf}
  !insertmacro Switch "/NOASSOCIATIONS" $0
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecAssociations}
  ${EndIf}
  !insertmacro Switch "/DESKTOPSHORTCUT" $0
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
FunctionEnd

; Breaks a message into lines of about 60 characters, after a blank or a
; backslash, so that a long path wraps in a message box.
Function WrapText
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  StrCpy $R1 ""  ; the text wrapped so far
  StrCpy $R4 0   ; characters on its last line
  ${Do}
    StrCpy $R2 $R0 1
    ${If} $R2 == ""
      ${ExitDo}
    ${EndIf}
    StrCpy $R0 $R0 "" 1
    StrCpy $R1 "$R1$R2"
    IntOp $R4 $R4 + 1
    ${If} $R2 == "$\n"
      StrCpy $R4 0
    ${ElseIf} $R4 >= 60
      ${If} $R2 == " "
      ${OrIf} $R2 == "\"
        StrCpy $R1 "$R1$\r$\n"
        StrCpy $R4 0
      ${EndIf}
    ${EndIf}
  ${Loop}
  StrCpy $R0 $R1
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

Function ScopePage
  !insertmacro MUI_HEADER_TEXT "Choose users" "Install ${APP_NAME} for all users or for you alone."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 20u 100% 12u "For &all users (needs administrator rights)"
  Pop $AllUsersButton
  ${NSD_CreateRadioButton} 0 40u 100% 12u "Only for &me"
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
  Pop $0
  ${If} $0 != ""
    ${NSD_SetText} $ScopeNote $R9
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
  !insertmacro MUI_HEADER_TEXT "Installed version" "${APP_NAME} $PreviousVersion is installed."
  ${VersionCompare} "${VERSION}" $PreviousVersion $0
  ${If} $0 = 0
    StrCpy $1 "This setup installs the same version, ${VERSION}, again."
  ${ElseIf} $0 = 1
    StrCpy $1 "This setup upgrades it to ${VERSION}."
  ${Else}
    StrCpy $1 "This setup replaces it with ${VERSION}, an older version."
  ${EndIf}
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "${APP_NAME} $PreviousVersion is installed in $Previous."
  Pop $0
  ${NSD_CreateLabel} 0 30u 100% 24u "$1 Your own files in its folder stay as they are."
  Pop $0
  nsDialogs::Show
FunctionEnd

; The folder typed on the folder page is checked on leaving it: a message,
; and the page stays for the user to correct it.
Function FolderPageLeave
  StrCpy $0 $INSTDIR
  Push $INSTDIR
  Call CanonicalFolder
  Pop $INSTDIR
  Call FolderProblem
  Pop $1
  ${If} $1 == ""
    Call ForeignFile
    Pop $2
    ${If} $2 != ""
      StrCpy $1 "$INSTDIR already holds $2, which is not from an installation of ${APP_NAME}. Choose another folder."
    ${EndIf}
  ${Else}
    StrCpy $1 "${APP_NAME} cannot be installed into $0.$\r$\n$\r$\n$1"
  ${EndIf}
  ${If} $1 != ""
    Push $1
    Call WrapText
    Pop $1
    MessageBox MB_ICONEXCLAMATION $1
    StrCpy $INSTDIR $0
    Abort
  ${EndIf}
  StrCpy $ChosenFolder $INSTDIR
FunctionEnd
