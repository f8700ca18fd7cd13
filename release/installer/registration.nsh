; What Windows finds the program by, in the 64-bit registry view of the
; scope (SHCTX): the Start-menu shortcut, App Paths, the uninstall entry,
; the "Open with" entries and Default Apps capabilities, and the desktop
; shortcut; and their removal, which takes only what this product wrote.

; The registration being written: for the installation in $INSTDIR, of
; this version and size, with these choices. An undone job writes the
; previous installation's values back through the same function.
Var RegVersion
Var RegSize        ; in KiB
Var RegOpenWith    ; 1 or 0
Var RegDesktop     ; 1 or 0

; Removes a registry key when it holds neither subkeys nor values.
!macro RemoveKeyIfEmpty KEY
  ClearErrors
  EnumRegKey $1 SHCTX "${KEY}" 0
  EnumRegValue $2 SHCTX "${KEY}" 0
  ReadRegStr $3 SHCTX "${KEY}" ""
  ${If} $1 == ""
  ${AndIf} $2 == ""
  ${AndIf} $3 == ""
    DeleteRegKey SHCTX "${KEY}"
  ${EndIf}
!macroend

; The "Open with" registration of one type, and its removal, which takes
; only this product's value and the keys it leaves empty.
!macro RegisterType PROGID TYPE
  WriteRegNone SHCTX "${CLASSES}\.${TYPE}\OpenWithProgids" "${PROGID}"
  WriteRegNone SHCTX "${CLASSES}\Applications\${APP_EXE}\SupportedTypes" ".${TYPE}"
  WriteRegStr SHCTX "${CAPABILITIES_KEY}\FileAssociations" ".${TYPE}" "${PROGID}"
!macroend
!macro RegisterImageType TYPE
  !insertmacro RegisterType "${APP_NAME}.Image" ${TYPE}
!macroend
!macro RegisterRawType TYPE
  !insertmacro RegisterType "${APP_NAME}.Raw" ${TYPE}
!macroend
!macro UnregisterType PROGID TYPE
  DeleteRegValue SHCTX "${CLASSES}\.${TYPE}\OpenWithProgids" "${PROGID}"
  !insertmacro RemoveKeyIfEmpty "${CLASSES}\.${TYPE}\OpenWithProgids"
  !insertmacro RemoveKeyIfEmpty "${CLASSES}\.${TYPE}"
!macroend
!macro UnregisterImageType TYPE
  !insertmacro UnregisterType "${APP_NAME}.Image" ${TYPE}
!macroend
!macro UnregisterRawType TYPE
  !insertmacro UnregisterType "${APP_NAME}.Raw" ${TYPE}
!macroend

!macro RegisterProgId PROGID NAME EXE
  WriteRegStr SHCTX "${CLASSES}\${PROGID}" "" "${NAME}"
  WriteRegStr SHCTX "${CLASSES}\${PROGID}" "FriendlyTypeName" "${NAME}"
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\DefaultIcon" "" '"${EXE}",0'
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\shell\open\command" "" '"${EXE}" "%1"'
!macroend

; Every "Open with" entry, the Default Apps capabilities and their
; registration, for the installation in $INSTDIR. Never a type's default.
!macro RegisterAssociations
  !insertmacro RegisterProgId "${APP_NAME}.Image" "${APP_NAME} image" "$INSTDIR\${APP_EXE}"
  !insertmacro RegisterProgId "${APP_NAME}.Raw" "${APP_NAME} raw photo" "$INSTDIR\${APP_EXE}"
  WriteRegStr SHCTX "${CLASSES}\Applications\${APP_EXE}" "FriendlyAppName" "${APP_NAME}"
  WriteRegStr SHCTX "${CLASSES}\Applications\${APP_EXE}\shell\open\command" "" '"$INSTDIR\${APP_EXE}" "%1"'
  WriteRegStr SHCTX "${CAPABILITIES_KEY}" "ApplicationName" "${APP_NAME}"
  WriteRegStr SHCTX "${CAPABILITIES_KEY}" "ApplicationDescription" "${DESCRIPTION}"
  !insertmacro ForEachIMAGEType RegisterImageType
  !insertmacro ForEachRAWType RegisterRawType
  WriteRegStr SHCTX "Software\RegisteredApplications" "${APP_NAME}" "${CAPABILITIES_KEY}"
!macroend

!macro UnregisterAssociations
  !insertmacro ForEachIMAGEType UnregisterImageType
  !insertmacro ForEachRAWType UnregisterRawType
  DeleteRegValue SHCTX "Software\RegisteredApplications" "${APP_NAME}"
  DeleteRegKey SHCTX "${CAPABILITIES_KEY}"
  !insertmacro RemoveKeyIfEmpty "${PRODUCT_KEY}"
  DeleteRegKey SHCTX "${CLASSES}\Applications\${APP_EXE}"
  DeleteRegKey SHCTX "${CLASSES}\${APP_NAME}.Image"
  DeleteRegKey SHCTX "${CLASSES}\${APP_NAME}.Raw"
!macroend

; Everything registered for an installation, taken away.
!macro Unregister
  Delete "${SHORTCUT}"
  Delete "${DESKTOP_SHORTCUT}"
  DeleteRegKey SHCTX "${APP_PATHS_KEY}"
  !insertmacro UnregisterAssociations
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
!macroend

; A shortcut that could not be saved does not always set the error flag
; (Wine's shell saves none into a folder that is a file, and says nothing).
!macro CheckShortcut PATH
  ${IfNot} ${FileExists} "${PATH}"
    SetErrors
  ${EndIf}
!macroend

; The registration of the installation in $INSTDIR, written whole with
; $RegVersion, $RegSize and the choices. Sets the error flag when a write
; failed.
Function WriteRegistration
  ; What the choices leave out goes first; removing what is not there is no
  ; failure.
  ${If} $RegOpenWith <> 1
    !insertmacro UnregisterAssociations
  ${EndIf}
  ${If} $RegDesktop <> 1
    Delete "${DESKTOP_SHORTCUT}"
  ${EndIf}
  ClearErrors
  CreateShortCut "${SHORTCUT}" "$INSTDIR\${APP_EXE}"
  !insertmacro CheckShortcut "${SHORTCUT}"
  ; "start ${APP_EXE}" and the Run box find the launcher through this.
  WriteRegStr SHCTX "${APP_PATHS_KEY}" "" "$INSTDIR\${APP_EXE}"
  ${If} $RegOpenWith = 1
    !insertmacro RegisterAssociations
  ${EndIf}
  ${If} $RegDesktop = 1
    CreateShortCut "${DESKTOP_SHORTCUT}" "$INSTDIR\${APP_EXE}"
    !insertmacro CheckShortcut "${DESKTOP_SHORTCUT}"
  ${EndIf}
  ; The uninstall commands run the uninstaller where it is installed
  ; (_?=), so that whoever starts them waits for the whole uninstallation
  ; and gets its exit code.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $RegSize
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" _?=$INSTDIR'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "OpenWith" $RegOpenWith
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "DesktopShortcut" $RegDesktop
  ; Last: the version says which files the registration belongs to.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" $RegVersion
  ; (Testing the error flag clears it.)
  ${If} ${Errors}
    SetErrors
  ${Else}
    ${NotifyShell_AssocChanged}
    ClearErrors
  ${EndIf}
FunctionEnd
