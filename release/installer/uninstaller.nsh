; The uninstaller. It takes away exactly what the installer laid out, and
; only when every file could go; registry entries and shortcuts go only when
; they belong to its own folder, so that an orphaned copy's uninstaller never
; touches the installation that is registered.
;
; The registered uninstall commands run it where it is installed (_?=), and
; whoever starts them, Settings or a deployment tool, waits for it. A
; running program's file can be neither deleted nor renamed, so run there it
; does no work itself: it copies itself into a temporary folder, starts the
; copy, waits for its verdict and exits with it. The copy holds the setup
; lock, does the whole job and, when it has succeeded, lets the original
; end, then deletes the original and the empty folder, and only then
; releases the lock: a setup started as soon as the command returns waits
; for it. A refusal or failure of the copy is the original's exit code.
; Started without _?=, NSIS itself runs a copy from the temporary folder and
; returns at once.

Var Owner          ; 1 when the scope's uninstall entry names this folder
Var FromSetup      ; 1 when run by a setup that holds the lock
Var Original       ; the process id of the waiting original, for the copy
Var OriginalProcess

; The event by which the copy tells the original process PID that the job
; is done.
!define DONE_EVENT "Local\${APP_NAME}.Uninstall."

; Run where it is installed: starts a temporary copy of itself, waits for
; its verdict and ends with it.
Function un.RunFromCopy
  GetTempFileName $0
  Delete $0
  CreateDirectory $0
  StrCpy $1 "$0\${UNINSTALLER}"
  System::Call 'kernel32::CopyFileW(w "$EXEPATH", w r1, i 1) i .r2'
  ${If} $2 = 0
    !insertmacro QuitWith ${EXIT_FAILED}
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcessId() i .r2'
  System::Call 'kernel32::CreateEventW(p 0, i 1, i 0, w "${DONE_EVENT}$2") p .r3'
  StrCpy $4 '"$1" /ORIGINAL=$2 _?=$INSTDIR'
  ${If} ${Silent}
    StrCpy $4 '"$1" /S /ORIGINAL=$2 _?=$INSTDIR'
  ${EndIf}
  ; STARTUPINFOW (104 bytes, cb first) and PROCESS_INFORMATION (24)
  System::Alloc 104
  Pop $5
  System::Call '*$5(i 104)'
  System::Alloc 24
  Pop $6
  System::Call 'kernel32::CreateProcessW(w r1, w r4, p 0, p 0, i 0, i 0, p 0, p 0, p r5, p r6) i .r7'
  ${If} $7 = 0
    !insertmacro QuitWith ${EXIT_FAILED}
  ${EndIf}
  System::Call '*$6(p .r8, p .r9)'
  System::Call 'kernel32::CloseHandle(p r9)'
  ; Either the copy says it is done, or it ends without saying so: a
  ; refusal, a failure or a cancel, whose exit code is the verdict.
  System::Call '*(p r3, p r8) p .r9'
  System::Call 'kernel32::WaitForMultipleObjects(i 2, p r9, i 0, i -1) i .r7'
  ${If} $7 = 0
    !insertmacro QuitWith 0
  ${EndIf}
  System::Call 'kernel32::GetExitCodeProcess(p r8, *i .r7)'
  !insertmacro QuitWith $7
FunctionEnd

; The folder of the installation registered in the current scope, canonical.
Function un.RegisteredFolder
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    Push $0
    Call un.CanonicalFolder
    Pop $0
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  Push $INSTDIR
  Call un.CanonicalFolder
  Pop $0
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
  ; Run by a setup that holds the lock already (an older version's setup
  ; replacing this one), which deletes this file itself.
  StrCpy $FromSetup 0
  !insertmacro Switch "/FROMSETUP" $0
  ${IfNot} ${Errors}
    StrCpy $FromSetup 1
  ${EndIf}
  ; Its own path, long, however it was started (C:\PROGRA~1\...).
  System::Call 'kernel32::GetLongPathNameW(w "$EXEPATH", w .r1, i ${NSIS_MAX_STRLEN}) i .r0'
  ${If} $0 = 0
    StrCpy $1 $EXEPATH
  ${EndIf}
  ${If} $FromSetup = 0
  ${AndIf} $1 == "$INSTDIR\${UNINSTALLER}"
    Call un.RunFromCopy
  ${EndIf}
  StrCpy $Original ""
  !insertmacro Switch "/ORIGINAL=" $0
  ${IfNot} ${Errors}
    ; SYNCHRONIZE: to wait for it to end
    System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r0) p .r1'
    ${If} $1 <> 0
      StrCpy $Original $0
      StrCpy $OriginalProcess $1
    ${EndIf}
  ${EndIf}

  StrCpy $Owner 0
  ; The scope is the one whose entry names this folder.
  StrCpy $Scope "all"
  !insertmacro UseScope
  Call un.RegisteredFolder
  ${If} $0 != $INSTDIR
    StrCpy $Scope "user"
    !insertmacro UseScope
    Call un.RegisteredFolder
  ${EndIf}
  ${If} $0 == $INSTDIR
    StrCpy $Owner 1
  ${EndIf}
  ${If} $Scope == "all"
  ${AndIf} $Owner = 1
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
      !insertmacro Refuse ${EXIT_ELEVATION} "${APP_NAME} is installed for all users; removing it needs administrator rights."
    ${EndIf}
  ${EndIf}
  ${If} $FromSetup = 0
    Call un.TakeMutex
  ${EndIf}
FunctionEnd

!macro DeleteInstalledFile INDEX NAME
  Delete "$INSTDIR\${NAME}"
!macroend
!macro RemoveInstalledFolder NAME
  RMDir "$INSTDIR\${NAME}"
!macroend
!macro FailIfStillThere INDEX NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    StrCpy $R9 "$INSTDIR\${NAME}"
  ${EndIf}
!macroend

; Deletes the uninstaller's own file in the folder, waiting a few seconds
; for a process that still runs it to end, and the folder when empty.
Function un.DeleteUninstaller
  ${For} $0 1 50
    Delete "$INSTDIR\${UNINSTALLER}"
    ${IfNot} ${FileExists} "$INSTDIR\${UNINSTALLER}"
      ${ExitFor}
    ${EndIf}
    Sleep 100
  ${Next}
  RMDir "$INSTDIR"
FunctionEnd

Section "Uninstall"
  Push $INSTDIR
  Call un.WaitUntilNotInUse
  ; A setup interrupted in another folder is the setup's to undo or finish:
  ; this one would leave its files.
  ReadRegStr $0 SHCTX "${PRODUCT_KEY}" "Setup"
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
  ${AndIf} ${FileExists} "$0\${JOURNAL}\*.*"
    !insertmacro Refuse ${EXIT_FAILED} "A setup of ${APP_NAME} in $0 was interrupted. Run the setup again to finish it, then uninstall."
  ${EndIf}
  ; An installation moved here whose old folder was still to be emptied.
  ReadINIStr $1 "$INSTDIR\${JOURNAL}\job.ini" "job" "Previous"
  ${If} ${FileExists} "$INSTDIR\${JOURNAL}\done"
  ${AndIf} $1 != ""
  ${AndIf} $1 != $INSTDIR
    !insertmacro EmptyPreviousFolder
  ${EndIf}

  !insertmacro ForEachInstalledFile DeleteInstalledFile
  ; What an interrupted setup left: the files of the job are ours.
  RMDir /r "$INSTDIR\${JOURNAL}"
  ${If} $Original == ""
  ${AndIf} $FromSetup = 0
    Call un.DeleteUninstaller
  ${EndIf}
  ; Folders go only when empty, so a file the user put into the
  ; installation stays, with its folder.
  !insertmacro ForEachInstalledFolder RemoveInstalledFolder
  RMDir "$INSTDIR"

  ; Anything left that it installed: it keeps its entry and says so.
  StrCpy $R9 ""
  !insertmacro ForEachInstalledFile FailIfStillThere
  ${If} $R9 != ""
    !insertmacro Refuse ${EXIT_FAILED} "$R9 could not be removed."
  ${EndIf}

  ${If} $Owner = 1
    !insertmacro Unregister
    ReadRegStr $0 SHCTX "${PRODUCT_KEY}" "Setup"
    ${If} $0 == $INSTDIR
      DeleteRegValue SHCTX "${PRODUCT_KEY}" "Setup"
      !insertmacro RemoveKeyIfEmpty "${PRODUCT_KEY}"
    ${EndIf}
    ${NotifyShell_AssocChanged}
  ${EndIf}

  ; The original, waiting, may end now; then its file goes.
  ${If} $Original != ""
    System::Call 'kernel32::CreateEventW(p 0, i 1, i 0, w "${DONE_EVENT}$Original") p .r0'
    System::Call 'kernel32::SetEvent(p r0)'
    System::Call 'kernel32::WaitForSingleObject(p $OriginalProcess, i 60000)'
    Call un.DeleteUninstaller
    ; This temporary copy and its folder go when Windows next starts,
    ; where the account may ask for that (MOVEFILE_DELAY_UNTIL_REBOOT).
    System::Call 'kernel32::MoveFileExW(w "$EXEPATH", p 0, i 4)'
    System::Call 'kernel32::MoveFileExW(w "$EXEDIR", p 0, i 4)'
  ${EndIf}
SectionEnd
