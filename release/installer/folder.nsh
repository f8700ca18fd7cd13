; The installation folder. However it is spelled, on the command line, on
; the folder page or in the registry, it is first made canonical, as Windows
; itself reads a path (GetFullPathNameW: full, "/" read as "\", doubled
; backslashes, "." and ".." resolved, trailing dots and blanks dropped), and
; only that canonical form is checked, installed into and registered. A
; spelling that cannot be made into a usable folder is refused; the
; installer never installs anywhere else than the folder asked for.

; The temporary files that the installer makes in the folder, and the
; longest of their names (journal.nsh).
!define JOURNAL "~setup"
!define LONGEST_JOURNAL_PATH "\${JOURNAL}\register"

; /D=<folder>: last on the command line and unquoted, as NSIS takes it, or
; as one quoted argument ("/D=C:\Photo Tools\Tolvarin"), as PowerShell and
; .NET quote an argument with blanks. Read from the command line itself:
; NSIS drops a folder it cannot use, or changes it, and would install
; elsewhere. Sets $ChosenFolder to the folder as given, to '""' when it is
; empty, or to "" when there is no /D=.
Function ReadFolderSwitch
  Push $0
  Push $1
  Push $2
  Push $3
  ; A command line longer than NSIS's strings cannot be read whole: /D=
  ; may lie in the part cut off.
  System::Call 'kernel32::GetCommandLineW() p .r0'
  System::Call 'kernel32::lstrlenW(p r0) i .r1'
  ${If} $1 >= ${NSIS_MAX_STRLEN}
    !insertmacro Refuse ${EXIT_BAD_FOLDER} "The command line is too long for the setup of ${APP_NAME} to read."
  ${EndIf}
  System::Call 'kernel32::GetCommandLineW() w .r0'
  StrCpy $ChosenFolder ""
  StrLen $1 $0
  ${For} $2 0 $1
    StrCpy $3 $0 4 $2
    ${If} $3 S== " /D="
      StrCpy $ChosenFolder $0 "" $2
      StrCpy $ChosenFolder $ChosenFolder "" 4
      ${IfThen} $ChosenFolder == "" ${|} StrCpy $ChosenFolder "$\"$\"" ${|}
      ${ExitFor}
    ${EndIf}
    StrCpy $3 $0 5 $2
    ${If} $3 S== ' "/D='
      StrCpy $ChosenFolder $0 "" $2
      StrCpy $ChosenFolder $ChosenFolder "" 5
      ; The closing quote ends the command line.
      StrCpy $3 $ChosenFolder 1 -1
      ${If} $3 == '"'
        StrCpy $ChosenFolder $ChosenFolder -1
        ${IfThen} $ChosenFolder == "" ${|} StrCpy $ChosenFolder "$\"$\"" ${|}
      ${Else}
        StrCpy $ChosenFolder '"$ChosenFolder'  ; unclosed: not a folder
      ${EndIf}
      ${ExitFor}
    ${EndIf}
  ${Next}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

!macro FolderFunctions UN
; Pushes 1 when the string contains the character, else 0; letters in
; either case.
Function ${UN}StrContains
  Exch $R0  ; character
  Exch
  Exch $R1  ; string
  Push $R2
  Push $R3
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R1 1 $R2
    ${If} $R3 == ""
      StrCpy $R0 0
      ${ExitDo}
    ${ElseIf} $R3 == $R0
      StrCpy $R0 1
      ${ExitDo}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Replaces the folder on the stack by its canonical form, without a
; trailing backslash, or by "" when it is not a full path of a drive
; ("C:\...") or a network share ("\\server\share\..."), or holds a quote,
; a wildcard, a control character or another character no folder name can
; have. Short names (PROGRA~1) of the parts that exist are made long.
Function ${UN}CanonicalFolder
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R1 $R0 1       ; the drive letter
  StrCpy $R2 $R0 2 1     ; ":\" after it
  StrCpy $R3 $R0 2       ; or "\\" of a share
  ${If} $R2 == ":/"
    StrCpy $R2 ":\"
  ${EndIf}
  ${If} $R3 == "//"
    StrCpy $R3 "\\"
  ${EndIf}
  ${If} $R2 == ":\"
    Push "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    Push $R1
    Call ${UN}StrContains
    Pop $R1
  ${ElseIf} $R3 == "\\"
    StrCpy $R1 1
  ${Else}
    StrCpy $R1 0
  ${EndIf}
  ${If} $R1 = 1
    System::Call 'kernel32::GetFullPathNameW(w R0, i ${NSIS_MAX_STRLEN}, w .R2, p 0) i .R1'
    ${If} $R1 = 0
    ${OrIf} $R1 >= ${NSIS_MAX_STRLEN}
      StrCpy $R0 ""
    ${Else}
      StrCpy $R0 $R2
    ${EndIf}
  ${Else}
    StrCpy $R0 ""
  ${EndIf}
  ; Devices and paths past the Win32 rules ("\\?\", "\\.\").
  StrCpy $R1 $R0 4
  ${If} $R1 == "\\?\"
  ${OrIf} $R1 == "\\.\"
    StrCpy $R0 ""
  ${EndIf}
  ; Characters no folder name holds; ":" only after the drive letter.
  ${ForEach} $R1 0 6 + 1
    Push $R0
    StrCpy $R2 '"*?<>|$\t' 1 $R1
    Push $R2
    Call ${UN}StrContains
    Pop $R2
    ${IfThen} $R2 = 1 ${|} StrCpy $R0 "" ${|}
  ${Next}
  StrCpy $R3 $R0 "" 2
  Push $R3
  Push ":"
  Call ${UN}StrContains
  Pop $R2
  ${IfThen} $R2 = 1 ${|} StrCpy $R0 "" ${|}
  ; Control characters.
  ${ForEach} $R1 1 31 + 1
    IntFmt $R2 "%c" $R1
    Push $R0
    Push $R2
    Call ${UN}StrContains
    Pop $R2
    ${IfThen} $R2 = 1 ${|} StrCpy $R0 "" ${|}
  ${Next}
  ; Short (8.3) names of the parts that exist, made long, so that any
  ; spelling of an installation's folder is the one registered.
  ${If} $R0 != ""
    StrCpy $R1 $R0  ; the part that exists
    StrCpy $R3 ""   ; and the rest
    ${Do}
      ${If} ${FileExists} "$R1\*.*"
        ${ExitDo}
      ${EndIf}
      ${GetFileName} $R1 $R2
      StrCpy $R3 "\$R2$R3"
      ${GetParent} $R1 $R1
    ${LoopUntil} $R1 == ""
    ${If} $R1 != ""
      System::Call 'kernel32::GetLongPathNameW(w R1, w .R2, i ${NSIS_MAX_STRLEN}) i .R1'
      ${If} $R1 > 0
      ${AndIf} $R1 < ${NSIS_MAX_STRLEN}
        StrCpy $R0 "$R2$R3"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ; Without a trailing backslash, but for a drive's root.
  StrCpy $R1 $R0 1 -1
  StrLen $R2 $R0
  ${If} $R1 == "\"
  ${AndIf} $R2 > 3
    StrCpy $R0 $R0 -1
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro FolderFunctions ""
!insertmacro FolderFunctions "un."

; Pushes what is wrong with $INSTDIR (canonical) as a folder to install
; into, in a few words for the user, or "" when nothing is. Changes nothing.
Function FolderProblem
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R0 ""
  ${GetRoot} $INSTDIR $R1
  ${If} $INSTDIR == ""
    StrCpy $R0 "${APP_NAME} needs a full path of a drive or a network share, without quotes or wildcards."
  ${ElseIf} $R1 == $INSTDIR
  ${OrIf} "$R1\" == $INSTDIR
    StrCpy $R0 "${APP_NAME} cannot be installed into the root of a drive or share."
  ${ElseIfNot} ${FileExists} "$R1\*.*"
    StrCpy $R0 "The drive or share $R1 is not there."
  ${Else}
    Call BadFolderName
    Pop $R0
  ${EndIf}
  ${If} $R0 == ""
    ; The folder, or the nearest part of its path that exists, must be a
    ; folder.
    StrCpy $R1 $INSTDIR
    ${Do}
      ${If} ${FileExists} $R1
        ${ExitDo}
      ${EndIf}
      ${GetParent} $R1 $R1
    ${LoopUntil} $R1 == ""
    ${If} $R1 != ""
    ${AndIfNot} ${FileExists} "$R1\*.*"
      StrCpy $R0 "$R1 is a file, not a folder."
    ${EndIf}
  ${EndIf}
  ${If} $R0 == ""
    ; Every path the installer makes stays under 260 characters: the
    ; installed files and its journal's.
    StrLen $R1 "$INSTDIR${LONGEST_INSTALLED_PATH}"
    StrLen $R2 "$INSTDIR${LONGEST_JOURNAL_PATH}"
    ${If} $R2 > $R1
      StrCpy $R1 $R2
    ${EndIf}
    ${If} $R1 > 259
      StrLen $R1 "${LONGEST_INSTALLED_PATH}"
      StrLen $R2 "${LONGEST_JOURNAL_PATH}"
      ${If} $R2 > $R1
        StrCpy $R1 $R2
      ${EndIf}
      IntOp $R1 259 - $R1
      StrCpy $R0 "The folder's path is too long for the files in it. Choose one of at most $R1 characters."
    ${EndIf}
  ${EndIf}
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Pushes what is wrong with a name in $INSTDIR's path below its root, or
; "": Windows drops a blank or a dot at the end of a name, and a device's
; name (CON, NUL.txt, COM1...) is no folder.
Function BadFolderName
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R0 ""
  ${GetRoot} $INSTDIR $R1
  StrLen $R1 $R1
  IntOp $R1 $R1 + 1
  StrCpy $R1 $INSTDIR "" $R1  ; the names below the root, "\" between them
  ${DoWhile} $R1 != ""
    ${WordFind} $R1 "\" "+1{" $R2  ; the first name
    ${IfThen} $R2 == $R1 ${|} StrCpy $R1 "" ${|}
    StrLen $R3 $R2
    IntOp $R3 $R3 + 1
    ${IfThen} $R1 != "" ${|} StrCpy $R1 $R1 "" $R3 ${|}
    StrCpy $R3 $R2 1 -1
    ${If} $R3 == " "
    ${OrIf} $R3 == "."
      StrCpy $R0 "A name in the path ends with a blank or a dot: $R2"
      ${ExitDo}
    ${EndIf}
    ${WordFind} $R2 "." "+1{" $R3  ; the name before its first dot
    ClearErrors
    ${WordFind} "|CON|PRN|AUX|NUL|COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8|COM9|LPT1|LPT2|LPT3|LPT4|LPT5|LPT6|LPT7|LPT8|LPT9|CONIN$$|CONOUT$$|" "|$R3|" "E#" $R3
    ${IfNot} ${Errors}
      StrCpy $R0 "A name in the path is a device's: $R2"
      ${ExitDo}
    ${EndIf}
  ${Loop}
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Refuses an unusable folder with its own exit code. NSIS has its own way
; with $INSTDIR after .onInit; the folder chosen is made canonical again.
Function CheckFolder
  ${If} $ChosenFolder != ""
    Push $ChosenFolder
    Call CanonicalFolder
    Pop $INSTDIR
  ${EndIf}
  Call FolderProblem
  Pop $0
  ${If} $0 != ""
    ${If} $INSTDIR == ""
      StrCpy $1 $ChosenFolder
    ${Else}
      StrCpy $1 $INSTDIR
    ${EndIf}
    !insertmacro Refuse ${EXIT_BAD_FOLDER} "${APP_NAME} cannot be installed into $1.$\r$\n$0"
  ${EndIf}
FunctionEnd

; Pushes the first file of $INSTDIR that the installer would write over and
; that no installation of this product put there, or "". A folder holding
; this scope's installation, or the job the registry names, is ours.
!macro CheckForeignFile INDEX NAME
  ${If} $R0 == ""
  ${AndIf} ${FileExists} "$INSTDIR\${NAME}"
    StrCpy $R0 "$INSTDIR\${NAME}"
  ${EndIf}
!macroend
Function ForeignFile
  Push $R0
  Push $R1
  StrCpy $R0 ""
  ReadRegStr $R1 SHCTX "${PRODUCT_KEY}" "Setup"
  ${If} $INSTDIR != $Previous
  ${AndIf} $INSTDIR != $R1
    !insertmacro ForEachOwnFile CheckForeignFile
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd

Function CheckForeignFiles
  Call ForeignFile
  Pop $0
  ${If} $0 != ""
    !insertmacro Refuse ${EXIT_FOREIGN} "$INSTDIR already holds $0, which is not from an installation of ${APP_NAME}. Choose another folder."
  ${EndIf}
FunctionEnd
