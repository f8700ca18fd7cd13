; Files in use and another setup running: both are waited for, a bounded
; time when silent, or as long as the user chooses Retry, and then refused
; with their own exit codes before anything changes. Each macro is
; instantiated for the installer and for the uninstaller ("un.").

; Sets $0 to 1 when the file exists and cannot be opened for writing, as
; Windows refuses it for a running program or a loaded library.
!macro IsFileInUse PATH
  StrCpy $0 0
  ${If} ${FileExists} "${PATH}"
    ; GENERIC_WRITE, any sharing, OPEN_EXISTING
    System::Call 'kernel32::CreateFileW(w "${PATH}", i 0x40000000, i 7, p 0, i 3, i 0, p 0) p .r1'
    ${If} $1 = -1
      StrCpy $0 1
    ${Else}
      System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
  ${EndIf}
!macroend

!macro CheckFileInUse INDEX NAME
  ${If} $R1 == ""
    !insertmacro IsFileInUse "$R0\${NAME}"
    ${If} $0 = 1
      StrCpy $R1 "$R0\${NAME}"
    ${EndIf}
  ${EndIf}
!macroend

!macro InUseFunctions UN
; Takes the setup mutex; another installer or uninstaller of this product
; that keeps it is waited for, then refused.
Function ${UN}TakeMutex
  Push $0
  Push $1
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${MUTEX}") p .r0'
  StrCpy $MutexHandle $0
  ${Do}
    System::Call 'kernel32::WaitForSingleObject(p $MutexHandle, i ${WAIT_SECONDS}000) i .r1'
    ; WAIT_OBJECT_0, or WAIT_ABANDONED: its owner ended, it is ours now
    ${If} $1 = 0
    ${OrIf} $1 = 128
      ${ExitDo}
    ${EndIf}
    ${If} ${Silent}
      !insertmacro QuitWith ${EXIT_BUSY}
    ${EndIf}
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Another ${APP_NAME} setup is running. Retry when it has finished." IDRETRY`
      !insertmacro QuitWith ${EXIT_BUSY}
    ${EndIf}
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd

; Waits while a file of the installation in the folder on the stack is in
; use: silent, a bounded time; with a window, while the user chooses Retry.
; Then refuses.
Function ${UN}WaitUntilNotInUse
  Exch $R0
  Push $R1
  Push $R2
  Push $0
  Push $1
  StrCpy $R2 0
  ${Do}
    StrCpy $R1 ""
    !if "${UN}" == ""
      !insertmacro ForEachOwnFile CheckFileInUse
    !else
      ; (The uninstaller run in place is itself in use.)
      !insertmacro ForEachInstalledFile CheckFileInUse
    !endif
    ${If} $R1 == ""
      ${ExitDo}
    ${EndIf}
    ${If} ${Silent}
      ${If} $R2 >= ${WAIT_SECONDS}
        !insertmacro QuitWith ${EXIT_IN_USE}
      ${EndIf}
      Sleep 1000
      IntOp $R2 $R2 + 1
    ${ElseIfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${APP_NAME} is running: $R1 is in use.$\r$\n$\r$\nClose ${APP_NAME} and retry." IDRETRY`
      !insertmacro QuitWith ${EXIT_IN_USE}
    ${EndIf}
  ${Loop}
  Pop $1
  Pop $0
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro InUseFunctions ""
!insertmacro InUseFunctions "un."
