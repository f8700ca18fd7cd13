; The job, and how it survives a failure or a kill at any moment.
;
; The installer touches only the files it installs. Its journal is a folder
; of its own in the installation folder, <folder>\~setup:
;
;   job.ini      written whole (as job.tmp, then renamed) before anything
;                else changes: the folder, the installation registered
;                before (folder, version, size, choices), which folders
;                the job makes, and the number of each file (0 the
;                uninstaller): <n>.new is its new version, staged;
;   swap         every file is staged; from here on files are swapped:
;   <n>.old      a file's previous version, a hard link (or a copy) made
;                before it is replaced;
;   <n>.on       the file is being or has been replaced: <n>.new is moved
;                over it in one rename, so the file is always whole, old
;                or new;
;   register     the registration is being written;
;   done         the job is complete; only the previous folder of a moved
;                installation is still to be emptied.
;
; SHCTX\Software\Tolvarin "Setup" names the folder while a job runs, so
; that the next run finds a journal wherever it is; only a journal the
; registry names is read (one planted in a folder is not ours), it is
; written as UTF-16 (a folder's name may hold any character), and a file it
; names must lie inside its folder. A job that fails, and an interrupted one
; that the next run of the installer finds, is undone from the journal: each replaced file back from <n>.old (or removed, when
; it was new), the previous registration written back, the folders the job
; made removed when empty, the journal removed. One that was done only
; has its previous folder emptied.

Var Journal        ; <folder>\~setup of the job
Var JobFolder      ; the folder of the job being undone or finished
Var JobMade        ; the highest folder this run's job made, if any

!macro Mark NAME
  FileOpen $0 "$Journal\${NAME}" w
  FileClose $0
!macroend

; Makes DEST hold the bytes of SOURCE: a hard link where the file system
; has them, a copy otherwise. Sets the error flag when neither worked.
!macro Clone SOURCE DEST
  Delete "${DEST}"
  System::Call 'kernel32::CreateHardLinkW(w "${DEST}", w "${SOURCE}", p 0) i .r0'
  ${If} $0 = 0
    System::Call 'kernel32::CopyFileW(w "${SOURCE}", w "${DEST}", i 1) i .r0'
    ${If} $0 = 0
      SetErrors
    ${EndIf}
  ${EndIf}
!macroend

; Moves SOURCE over DEST in one rename; sets the error flag on failure.
!macro Replace SOURCE DEST
  ; MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
  System::Call 'kernel32::MoveFileExW(w "${SOURCE}", w "${DEST}", i 9) i .r0'
  ${If} $0 = 0
    SetErrors
  ${EndIf}
!macroend

; Undoes the job and ends the run with exit code 2.
!macro Fail MESSAGE
  Call UndoJob
  !insertmacro Refuse ${EXIT_FAILED} "${MESSAGE}"
!macroend

!macro JournalFile INDEX NAME
  WriteINIStr "$Journal\job.tmp" "files" "${INDEX}" "${NAME}"
!macroend
!macro JournalFolder NAME
  ${IfNot} ${FileExists} "$INSTDIR\${NAME}\*.*"
    WriteINIStr "$Journal\job.tmp" "folders" "$1" "${NAME}"
    IntOp $1 $1 + 1
  ${EndIf}
!macroend
!macro StageFile INDEX NAME
  File "/oname=$Journal\${INDEX}.new" "${INST_DIR}\${NAME}"
!macroend

; Writes the journal, then the new version of every file into it.
Function StageFiles
  StrCpy $Journal "$INSTDIR\${JOURNAL}"
  ; The highest folder of the path that the job makes, if any.
  StrCpy $2 ""
  StrCpy $1 $INSTDIR
  ${Do}
    ${If} ${FileExists} "$1\*.*"
      ${ExitDo}
    ${EndIf}
    StrCpy $2 $1
    ${GetParent} $1 $1
  ${LoopUntil} $1 == ""

  StrCpy $JobFolder $INSTDIR
  StrCpy $JobMade $2
  ; The registration there was: version, size and choices (missing values
  ; as an upgrade reads them: "Open with" on, no desktop shortcut).
  ${If} $Previous != ""
    ReadRegStr $3 SHCTX "${UNINSTALL_KEY}" "DisplayVersion"
    ReadRegDWORD $4 SHCTX "${UNINSTALL_KEY}" "EstimatedSize"
    ReadRegDWORD $5 SHCTX "${UNINSTALL_KEY}" "OpenWith"
    ${IfThen} $5 != 0 ${|} StrCpy $5 1 ${|}
    ReadRegDWORD $6 SHCTX "${UNINSTALL_KEY}" "DesktopShortcut"
    ${IfThen} $6 != 1 ${|} StrCpy $6 0 ${|}
  ${EndIf}
  ; A journal the registry does not name is no job of this product's (its
  ; own was undone before): it goes.
  RMDir /r $Journal
  ClearErrors
  WriteRegStr SHCTX "${PRODUCT_KEY}" "Setup" $INSTDIR
  CreateDirectory $Journal
  ; UTF-16, which the INI functions keep once the file starts with its mark.
  FileOpen $0 "$Journal\job.tmp" w
  FileWriteWord $0 0xFEFF
  FileClose $0
  WriteINIStr "$Journal\job.tmp" "job" "Folder" $INSTDIR
  WriteINIStr "$Journal\job.tmp" "job" "Made" $2
  WriteINIStr "$Journal\job.tmp" "job" "Previous" $Previous
  ${If} $Previous != ""
    WriteINIStr "$Journal\job.tmp" "job" "Version" $3
    WriteINIStr "$Journal\job.tmp" "job" "Size" $4
    WriteINIStr "$Journal\job.tmp" "job" "OpenWith" $5
    WriteINIStr "$Journal\job.tmp" "job" "DesktopShortcut" $6
  ${EndIf}
  !insertmacro ForEachOwnFile JournalFile
  StrCpy $1 0
  !insertmacro ForEachInstalledFolder JournalFolder
  Rename "$Journal\job.tmp" "$Journal\job.ini"
  ${If} ${Errors}
    !insertmacro Fail "The files of ${APP_NAME} could not be written into $INSTDIR."
  ${EndIf}

  ; A file NSIS cannot write ends the installation (.onInstFailed).
  !insertmacro ForEachInstalledFile StageFile
  WriteUninstaller "$Journal\0.new"
  ${If} ${Errors}
    !insertmacro Fail "The files of ${APP_NAME} could not be written into $INSTDIR."
  ${EndIf}
FunctionEnd

!macro MakeFolder NAME
  CreateDirectory "$INSTDIR\${NAME}"
!macroend
!macro SwapFile INDEX NAME
  ClearErrors
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    !insertmacro Clone "$INSTDIR\${NAME}" "$Journal\${INDEX}.old"
    ${If} ${Errors}
      !insertmacro Fail "$INSTDIR\${NAME} could not be kept aside."
    ${EndIf}
  ${EndIf}
  !insertmacro Mark "${INDEX}.on"
  ${If} ${Errors}
    !insertmacro Fail "The journal in $Journal could not be written."
  ${EndIf}
  !insertmacro Replace "$Journal\${INDEX}.new" "$INSTDIR\${NAME}"
  ${If} ${Errors}
    Delete "$Journal\${INDEX}.on"  ; the file is as it was
    !insertmacro Fail "$INSTDIR\${NAME} could not be replaced."
  ${EndIf}
!macroend

; Replaces each file by its new version, keeping the previous one.
Function SwapFiles
  ClearErrors
  !insertmacro Mark "swap"
  !insertmacro ForEachInstalledFolder MakeFolder
  ${If} ${Errors}
    !insertmacro Fail "The folders of ${APP_NAME} could not be made in $INSTDIR."
  ${EndIf}
  !insertmacro ForEachOwnFile SwapFile
FunctionEnd

Function RegisterInstallation
  !insertmacro Mark "register"
  StrCpy $RegVersion "${VERSION}"
  SectionGetSize ${SecApplication} $RegSize
  StrCpy $RegOpenWith 0
  ${If} ${SectionIsSelected} ${SecAssociations}
    StrCpy $RegOpenWith 1
  ${EndIf}
  StrCpy $RegDesktop 0
  ${If} ${SectionIsSelected} ${SecDesktop}
    StrCpy $RegDesktop 1
  ${EndIf}
  Call WriteRegistration
  ${If} ${Errors}
    !insertmacro Fail "${APP_NAME} could not be registered."
  ${EndIf}
FunctionEnd

; Ends the job in $Journal: the previous folder of a moved installation
; emptied, then the journal removed.
!macro DeletePreviousFile INDEX NAME
  Delete "$1\${NAME}"
!macroend
!macro RemovePreviousFolder NAME
  RMDir "$1\${NAME}"
!macroend
; The folder $1 that an installation moved away from: its files go, and the
; folders they leave empty; the user's stay.
!macro EmptyPreviousFolder
  !insertmacro ForEachOwnFile DeletePreviousFile
  RMDir /r "$1\${JOURNAL}"
  !insertmacro ForEachInstalledFolder RemovePreviousFolder
  RMDir $1
!macroend
Function FinishJob
  !insertmacro Mark "done"
  ReadINIStr $1 "$Journal\job.ini" "job" "Previous"
  ReadINIStr $2 "$Journal\job.ini" "job" "Folder"
  ReadRegStr $3 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ; Only a folder that is neither this job's nor registered.
  ${If} $1 != ""
  ${AndIf} $1 != $2
  ${AndIf} $1 != $3
    !insertmacro EmptyPreviousFolder
  ${EndIf}
  RMDir /r $Journal
  Call EndJournal
FunctionEnd

Function EndJournal
  ReadRegStr $0 SHCTX "${PRODUCT_KEY}" "Setup"
  ${If} $0 == $JobFolder
  ${OrIf} $0 == $INSTDIR
    DeleteRegValue SHCTX "${PRODUCT_KEY}" "Setup"
    !insertmacro RemoveKeyIfEmpty "${PRODUCT_KEY}"
  ${EndIf}
  StrCpy $Journal ""
FunctionEnd

; Undoes the job in $Journal, whatever step it reached. Sets the error flag
; and keeps the journal when a file could not be put back.
Function UndoJob
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $INSTDIR
  ${If} $Journal == ""
    Goto end
  ${EndIf}
  StrCpy $R2 0  ; 1 when something could not be put back
  ${If} ${FileExists} "$Journal\job.ini"
    ReadINIStr $JobFolder "$Journal\job.ini" "job" "Folder"
    ReadINIStr $JobMade "$Journal\job.ini" "job" "Made"
  ${ElseIf} $JobFolder == ""
    ${GetParent} $Journal $JobFolder
  ${EndIf}
  ${If} ${FileExists} "$Journal\swap"
    ; Each file swapped goes back, in one rename; a file that was not
    ; there before goes.
    ${For} $R0 0 999
      ClearErrors
      ReadINIStr $R1 "$Journal\job.ini" "files" $R0
      ${If} ${Errors}
        ${ExitFor}
      ${EndIf}
      Push $R1
      Call NameInside
      Pop $R3
      ${IfNot} ${FileExists} "$Journal\$R0.on"
      ${OrIf} $R3 = 0
        ${Continue}
      ${EndIf}
      ClearErrors
      ${If} ${FileExists} "$Journal\$R0.old"
        !insertmacro Clone "$Journal\$R0.old" "$Journal\$R0.tmp"
        ; (Testing the error flag clears it: Replace only sets it again.)
        ${IfNot} ${Errors}
          !insertmacro Replace "$Journal\$R0.tmp" "$JobFolder\$R1"
        ${Else}
          SetErrors
        ${EndIf}
      ${Else}
        Delete "$JobFolder\$R1"
        ${If} ${FileExists} "$JobFolder\$R1"
          SetErrors
        ${EndIf}
      ${EndIf}
      ${If} ${Errors}
        StrCpy $R2 1
      ${Else}
        Delete "$Journal\$R0.on"
      ${EndIf}
    ${Next}
    ${If} $R2 = 0
    ${AndIf} ${FileExists} "$Journal\register"
      Call WritePreviousRegistration
    ${EndIf}
    ${For} $R0 0 999
      ClearErrors
      ReadINIStr $R1 "$Journal\job.ini" "folders" $R0
      ${If} ${Errors}
        ${ExitFor}
      ${EndIf}
      Push $R1
      Call NameInside
      Pop $R3
      ${If} $R3 = 1
        RMDir "$JobFolder\$R1"
      ${EndIf}
    ${Next}
  ${EndIf}
  ${If} $R2 = 1
    SetErrors
    Goto end
  ${EndIf}
  SetOutPath $TEMP  ; a working folder cannot be removed
  RMDir /r $Journal
  ; The folder, and the folders above it that the job made, when empty.
  ${If} $JobMade != ""
    StrCpy $R1 $JobFolder
    ${Do}
      RMDir $R1
      ${If} $R1 == $JobMade
        ${ExitDo}
      ${EndIf}
      ${GetParent} $R1 $R1
    ${LoopUntil} $R1 == ""
  ${EndIf}
  Call EndJournal
  ClearErrors
  end:
  Pop $INSTDIR
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; The registration from before the job, written back from its journal: that
; of the previous installation, or none.
Function WritePreviousRegistration
  ReadINIStr $INSTDIR "$Journal\job.ini" "job" "Previous"
  ${If} $INSTDIR == ""
    ; Nothing was registered in this scope, and the lock kept any other
    ; setup away: whatever of the registration the job wrote goes.
    !insertmacro Unregister
  ${Else}
    ReadINIStr $RegVersion "$Journal\job.ini" "job" "Version"
    ReadINIStr $RegSize "$Journal\job.ini" "job" "Size"
    ReadINIStr $RegOpenWith "$Journal\job.ini" "job" "OpenWith"
    ReadINIStr $RegDesktop "$Journal\job.ini" "job" "DesktopShortcut"
    Call WriteRegistration
  ${EndIf}
FunctionEnd

; Replaces the name on the stack by 1 when it lies inside the job's folder
; (relative, without a drive, a root or ".."), else by 0.
Function NameInside
  Exch $R0
  Push $R1
  Push $R2
  Push $R0
  Push ":"
  Call StrContains
  Pop $R1
  StrCpy $R2 $R0 1
  ${If} $R1 = 1
  ${OrIf} $R2 == "\"
  ${OrIf} $R0 == ""
    StrCpy $R0 0
  ${Else}
    StrCpy $R0 "\$R0\"
    StrCpy $R1 0
    ${Do}
      StrCpy $R2 $R0 4 $R1
      ${If} $R2 == "\..\"
        StrCpy $R0 0
        ${ExitDo}
      ${ElseIf} $R2 == ""
        StrCpy $R0 1
        ${ExitDo}
      ${EndIf}
      IntOp $R1 $R1 + 1
    ${Loop}
  ${EndIf}
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; An interrupted job that an earlier run left, in the folder this scope's
; registry names, is undone (or, when it was done, finished) before
; anything else changes. A journal there that names another folder was not
; written by this setup and is refused.
Function RecoverJournals
  ReadRegStr $R0 SHCTX "${PRODUCT_KEY}" "Setup"
  ${If} $R0 == ""
    Return
  ${EndIf}
  StrCpy $Journal "$R0\${JOURNAL}"
  StrCpy $JobFolder $R0
  ${IfNot} ${FileExists} "$Journal\*.*"
    ; Its job ended otherwise (undone by hand, say).
    Call EndJournal
    Return
  ${EndIf}
  ${If} ${FileExists} "$Journal\job.ini"
    ReadINIStr $R1 "$Journal\job.ini" "job" "Folder"
    ${If} $R1 != $R0
      !insertmacro Refuse ${EXIT_FAILED} "The setup journal in $Journal was not written for that folder; ${APP_NAME} leaves it alone. Remove it and run the setup again."
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$Journal\done"
    Push $INSTDIR
    StrCpy $INSTDIR $R0
    Call FinishJob
    Pop $INSTDIR
  ${Else}
    Call UndoJob
    ${If} ${Errors}
      !insertmacro Refuse ${EXIT_FAILED} "An interrupted setup of ${APP_NAME} in $R0 could not be undone."
    ${EndIf}
  ${EndIf}
  ; Reading the registration again: an undone job may have changed it.
  Call ReadPrevious
FunctionEnd
