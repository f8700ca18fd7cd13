; What the installer and the uninstaller tell the user, and how a run ends.
; The job engine (SetupEngine.dll) answers with an exit code, a reason and
; the file or folder it concerns; each reason is the id of its text.

; Ends the run with an exit code.
!macro QuitWith CODE
  SetErrorLevel ${CODE}
  Quit
!macroend

; Ends the run with an exit code, after a message (none when silent).
!macro Refuse CODE MESSAGE
  MessageBox MB_ICONSTOP "${MESSAGE}" /SD IDOK
  !insertmacro QuitWith ${CODE}
!macroend

; A reason whose text has the reason's id.
!macro ReasonCase ID
  ${Case} "${ID}"
    StrCpy $R0 "$(${ID})"
!macroend

; Sets $R0 to the text for the reason $R1, about $R2 (a file or folder) and
; $R3 (a version, or the folder a setup installs into), in the language the
; run speaks (languages.nsh, made from the catalogues in po/).
Function ReasonText
  ${Select} $R1
  ${Case} "elevation"
    StrCpy $R0 "$(${ELEVATION_TEXT})"
  ${Case} "other_scope"
    ${If} $Scope == "all"
      StrCpy $R0 "$(other_scope_mine)"
    ${Else}
      StrCpy $R0 "$(other_scope_all)"
    ${EndIf}
  !insertmacro ReasonCase busy
  !insertmacro ReasonCase too_long_command
  !insertmacro ReasonCase not_full_path
  !insertmacro ReasonCase root
  !insertmacro ReasonCase no_drive
  !insertmacro ReasonCase bad_name
  !insertmacro ReasonCase device
  !insertmacro ReasonCase file
  !insertmacro ReasonCase too_long
  !insertmacro ReasonCase foreign
  !insertmacro ReasonCase running
  !insertmacro ReasonCase in_use
  !insertmacro ReasonCase denied
  !insertmacro ReasonCase not_written
  !insertmacro ReasonCase not_registered
  !insertmacro ReasonCase link
  !insertmacro ReasonCase not_undone
  !insertmacro ReasonCase not_finished
  !insertmacro ReasonCase newer_job
  !insertmacro ReasonCase journal_in_the_way
  !insertmacro ReasonCase not_installed
  ${CaseElse}
    StrCpy $R0 "$(failed)"
  ${EndSelect}
FunctionEnd

; Breaks a message into lines of about 60 characters, after a blank or a
; backslash, so that a long path wraps in a message box.
Function WrapText
  Exch $R0
  Push $R1
  Push $R2
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
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Ends the run with the engine's answer in $0 (code), $1 (reason), $2 and
; $3, after its message (none when silent).
Function RefuseWithReason
  StrCpy $R1 $1
  StrCpy $R2 $2
  StrCpy $R3 $3
  Call ReasonText
  Push $R0
  Call WrapText
  Pop $R0
  !insertmacro Refuse $0 $R0
FunctionEnd

; Takes the setup lock; another installer or uninstaller of this product
; that holds it is waited for: silent, a bounded time, with a window, while
; the user chooses Retry. Then refused.
Function TakeLock
  ${Do}
    SetupEngine::Lock ${WAIT_MILLISECONDS}
    Pop $0
    ${If} $0 == ""
      ${ExitDo}
    ${EndIf}
    ${If} ${Silent}
      !insertmacro QuitWith $0
    ${EndIf}
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(busy)" IDRETRY`
      !insertmacro QuitWith $0
    ${EndIf}
  ${Loop}
FunctionEnd

; After a job that met files in use ($0 is 4): with a window, asks to retry;
; pushes 1 to retry, else ends the run with the message.
Function RetryOrRefuse
  ${If} $0 == ${EXIT_IN_USE}
  ${AndIfNot} ${Silent}
    StrCpy $R1 $1
    StrCpy $R2 $2
    StrCpy $R3 $3
    Call ReasonText
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION $R0 IDRETRY`
      Push 1
      Return
    ${EndIf}
    !insertmacro QuitWith $0
  ${EndIf}
  Call RefuseWithReason
FunctionEnd
