; Installer steps of our own, inserted into CPack's NSIS script.

; The settings live in HKLM\SOFTWARE\Tarnwick Works\Tarnwick, which standard
; users may only read. The installer runs elevated: it creates the key and
; gives the Users group the rights the program asks for when it opens it
; (query, set, create sub key, enumerate, notify, create link, read control:
; 0x2003F). The ACE is inheritable and the parent's inherited ACEs stay.
!define TARNWICK_KEY "SOFTWARE\Tarnwick Works\Tarnwick"

; Faults go to a log file in the current directory. Started from the Start
; menu, that is this folder, which the Users group may modify; the program's
; own folder under Program Files is not writable for them.
!define TARNWICK_LOGS "$APPDATA\Tarnwick"

!macro TarnwickGrantUsers OBJECT TYPE SDDL
  ; $1 descriptor, $2 present, $3 DACL, $4 defaulted
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${SDDL}", i 1, *p .r1, p 0) i .r0'
  IntCmp $0 0 tarnwick_grant_failed_${TYPE}
  System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r3, *i .r4) i .r0'
  ; DACL_SECURITY_INFORMATION (4); returns 0 on success.
  System::Call 'advapi32::SetNamedSecurityInfoW(w "${OBJECT}", i ${TYPE}, i 4, p 0, p 0, p r3, p 0) i .r0'
  System::Call 'kernel32::LocalFree(p r1)'
  DetailPrint "Users' access to ${OBJECT}: $0"
  Goto tarnwick_grant_done_${TYPE}
  tarnwick_grant_failed_${TYPE}:
  DetailPrint "No access descriptor for ${OBJECT}"
  tarnwick_grant_done_${TYPE}:
!macroend

!macro TarnwickInstall
  SetRegView 64
  SetShellVarContext all
  ; NSIS has no command that only creates a key: a value made and removed.
  WriteRegStr HKLM "${TARNWICK_KEY}" "Tarnwick Setup" ""
  DeleteRegValue HKLM "${TARNWICK_KEY}" "Tarnwick Setup"
  ; SE_REGISTRY_KEY (4), 64-bit view.
  !insertmacro TarnwickGrantUsers "MACHINE\${TARNWICK_KEY}" 4 "D:(A;OICI;0x2003f;;;BU)"
  CreateDirectory "${TARNWICK_LOGS}"
  ; SE_FILE_OBJECT (1), modify (0x1301BF) for files and folders below.
  !insertmacro TarnwickGrantUsers "${TARNWICK_LOGS}" 1 "D:(A;OICI;0x1301bf;;;BU)"
!macroend

!macro TarnwickShortcut
  ; The shortcut's working folder is $OUTDIR when it is made.
  SetOutPath "${TARNWICK_LOGS}"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\Tarnwick.lnk" "$INSTDIR\tarnwick.exe" "" "$INSTDIR\tarnwick.exe" 0
  SetOutPath "$INSTDIR"
!macroend

!macro TarnwickRemoveShortcut
  Delete "$SMPROGRAMS\$MUI_TEMP\Tarnwick.lnk"
  ; The settings and the log files stay: they are the operator's. The log
  ; folder goes only when empty.
  SetShellVarContext all
  RMDir "${TARNWICK_LOGS}"
!macroend
