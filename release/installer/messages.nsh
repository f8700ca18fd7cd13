; What the installer and the uninstaller tell the user, and how a run ends.
; The job engine (SetupEngine.dll) answers with an exit code, a reason and
; the file or folder it concerns; the text for each reason is here.

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

; Sets $R0 to the text for the reason $R1, about $R2 (a file or folder) and
; $R3 (a version, or the folder a setup installs into).
Function ReasonText
  ${Select} $R1
  ${Case} "busy"
    StrCpy $R0 "Another ${APP_NAME} setup is running. Retry when it has finished."
  ${Case} "too_long_command"
    StrCpy $R0 "The command line is too long for the setup of ${APP_NAME} to read."
  ${Case} "not_full_path"
    StrCpy $R0 "${APP_NAME} needs a full path of a drive or a network share, without quotes or wildcards."
  ${Case} "root"
    StrCpy $R0 "${APP_NAME} cannot be installed into the root of a drive or share."
  ${Case} "no_drive"
    StrCpy $R0 "The drive or share $R2 is not there."
  ${Case} "bad_name"
    StrCpy $R0 "A name in the path ends with a blank or a dot: $R2"
  ${Case} "device"
    StrCpy $R0 "A name in the path is a device's: $R2"
  ${Case} "file"
    StrCpy $R0 "$R2 is a file, not a folder."
  ${Case} "too_long"
    StrCpy $R0 "The folder's path is too long for the files in it. Choose one of at most $R2 characters."
  ${Case} "foreign"
    StrCpy $R0 "$R3 already holds $R2, which is not from an installation of ${APP_NAME}. Choose another folder."
  ${Case} "elevation"
    StrCpy $R0 "${ELEVATION_TEXT}"
  ${Case} "other_scope"
    ${If} $Scope == "all"
      StrCpy $R0 "${APP_NAME} $R3 is installed in $R2 for you alone. Uninstall it first to install for all users."
    ${Else}
      StrCpy $R0 "${APP_NAME} $R3 is installed in $R2 for all users. Uninstall it first to install for you alone."
    ${EndIf}
  ${Case} "running"
    StrCpy $R0 "${APP_NAME} is running: $R2 is in use.$\r$\n$\r$\nClose ${APP_NAME} and retry."
  ${Case} "in_use"
    StrCpy $R0 "$R2 is in use by another program.$\r$\n$\r$\nClose that program and retry."
  ${Case} "denied"
    StrCpy $R0 "$R2 could not be changed: access was denied."
  ${Case} "not_written"
    StrCpy $R0 "The files of ${APP_NAME} could not be written: $R2"
  ${Case} "not_registered"
    StrCpy $R0 "${APP_NAME} could not be registered: $R2"
  ${Case} "link"
    StrCpy $R0 "$R2 is a link or a junction. ${APP_NAME} changes nothing through a link inside its folder."
  ${Case} "not_undone"
    StrCpy $R0 "An interrupted setup of ${APP_NAME} in $R2 could not be undone. Close the programs that use its files and try again."
  ${Case} "not_finished"
    StrCpy $R0 "An interrupted setup of ${APP_NAME} in $R2 could not be finished. Close the programs that use its files and try again."
  ${Case} "newer_job"
    StrCpy $R0 "A setup of a newer version of ${APP_NAME} was interrupted. Run that setup again."
  ${Case} "journal_in_the_way"
    StrCpy $R0 "$R2 holds files that are not the setup's. Remove it and try again."
  ${Case} "not_installed"
    StrCpy $R0 "$R2 holds no installation of ${APP_NAME}."
  ${CaseElse}
    StrCpy $R0 "${APP_NAME}: $R1 $R2"
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
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Another ${APP_NAME} setup is running. Retry when it has finished." IDRETRY`
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
