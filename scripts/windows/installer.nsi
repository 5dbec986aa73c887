; Kaldoria's Windows installer (makensis 3), made by scripts/windows/package.sh,
; which passes:
;   VERSION   the program's version (CMakeLists.txt)
;   OUTFILE   where the installer goes
;   ICON      window/kaldoria.ico
;   FILES     an include file of File lines: every file of the application
;             folder but dojang.mdb
;   UNFILES   an include file of Delete/RMDir lines for the same files
;   SAMPLE    the sample dojang.mdb
;   SIZE_KB   the installed size, for Windows' list of programs
;
; A per-user install: no administrator rights, into the user's own
; %LOCALAPPDATA%\Programs\Kaldoria, because Kaldoria keeps dojang.mdb and
; writes temp.bmp in its own folder, which must therefore be writable by the
; user. /S installs silently, /D=FOLDER (last on the command line) chooses the
; folder. The uninstaller removes what was installed and temp.bmp, never
; dojang.mdb.

Unicode true
Target amd64-unicode  ; the 32-bit stub does not start under a 64-bit-only Wine
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user
AllowSkipFiles off  ; a file in use (a running Kaldoria) stops the install, never skipped silently

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh

!define APPNAME "도장 관리 Kaldoria"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kaldoria"
!define SHORTCUT "$SMPROGRAMS\${APPNAME}.lnk"
!define MANAGER_SHORTCUT "$SMPROGRAMS\도장 관리.lnk"

Name "${APPNAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Kaldoria"
BrandingText "Kaldoria ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\kaldoria.exe"
!define MUI_FINISHPAGE_RUN_TEXT "${APPNAME} 실행"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Korean"

Var /GLOBAL pathValue

; Refuses, before anything is touched, while a Kaldoria program runs from
; $INSTDIR: Windows lets no program open a running program's file for
; writing (opened to append, so nothing changes). A silent run ends with
; exit status 2, so that deployment tools see it did not finish.
!macro REFUSE_WHILE_RUNNING un
Function ${un}RefuseWhileRunning
  StrCpy $R1 ""
  ${If} ${FileExists} "$INSTDIR\kaldoria.exe"
    ClearErrors
    FileOpen $R0 "$INSTDIR\kaldoria.exe" a
    ${If} ${Errors}
      StrCpy $R1 "kaldoria.exe"
    ${Else}
      FileClose $R0
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\kaldoria-db.exe"
    ClearErrors
    FileOpen $R0 "$INSTDIR\kaldoria-db.exe" a
    ${If} ${Errors}
      StrCpy $R1 "kaldoria-db.exe"
    ${Else}
      FileClose $R0
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\kaldoria-manager.exe"
    ClearErrors
    FileOpen $R0 "$INSTDIR\kaldoria-manager.exe" a
    ${If} ${Errors}
      StrCpy $R1 "kaldoria-manager.exe"
    ${Else}
      FileClose $R0
    ${EndIf}
  ${EndIf}
  ${If} $R1 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Kaldoria($R1)가 실행 중입니다. 도장 창, 도장 관리 창과 콘솔의 kaldoria-db를 모두 닫은 뒤 다시 실행하십시오. 아무것도 바꾸지 않았습니다." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro REFUSE_WHILE_RUNNING ""
!insertmacro REFUSE_WHILE_RUNNING "un."

Function un.onInit
  Call un.RefuseWhileRunning
FunctionEnd

; The user's own PATH (HKCU\Environment), which Windows appends to the
; system's for every new process. Out: $pathValue; the error flag is set when
; it exists but could not be read whole (longer than NSIS's strings), so that
; nobody writes back a shortened PATH.
!macro READ_USER_PATH
  ClearErrors
  ReadRegStr $pathValue HKCU "Environment" "Path"
  ${If} ${Errors}
    ; A missing value also sets the error flag: that one is simply empty.
    StrCpy $pathValue ""
    ClearErrors
    StrCpy $R9 0
    ${Do}
      EnumRegValue $R8 HKCU "Environment" $R9
      ${If} $R8 == ""
        ClearErrors  ; the end of the list sets it too
        ${Break}
      ${EndIf}
      ${If} $R8 == "Path"
        SetErrors
        ${Break}
      ${EndIf}
      IntOp $R9 $R9 + 1
    ${Loop}
  ${EndIf}
!macroend

; Tells running programs (Explorer, so new consoles) that the environment changed.
!macro ANNOUNCE_ENVIRONMENT
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

; $0: a PATH value; $1: a folder. Out: $2 the value without every entry that
; names the folder (with or without a final "\"; StrCmp ignores case, as
; Windows does), $3 "1" when one was taken out. Empty entries are dropped.
!macro PATH_WITHOUT un
Function ${un}PathWithout
  StrCpy $2 ""
  StrCpy $3 0
  StrCpy $4 0
  StrCpy $5 ""
  next:
    StrCpy $6 $0 1 $4
    IntOp $4 $4 + 1
    StrCmp $6 ";" entry
    StrCmp $6 "" entry
    StrCpy $5 "$5$6"
    Goto next
  entry:
    ${If} $5 == $1
    ${OrIf} $5 == "$1\"
      StrCpy $3 1
    ${ElseIf} $5 != ""
      ${If} $2 == ""
        StrCpy $2 $5
      ${Else}
        StrCpy $2 "$2;$5"
      ${EndIf}
    ${EndIf}
    StrCpy $5 ""
    StrCmp $6 "" 0 next
FunctionEnd
!macroend
!insertmacro PATH_WITHOUT ""
!insertmacro PATH_WITHOUT "un."

Section "Kaldoria"
  SetShellVarContext current
  ; Over a running copy nothing is written: its files are in use.
  Call RefuseWhileRunning
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  SetOutPath "$INSTDIR"
  ; The sample book only where there is none: an existing book (or a linked
  ; one pointing at the office's server) is the user's and stays as it is.
  ${IfNot} ${FileExists} "$INSTDIR\dojang.mdb"
    File "${SAMPLE}"
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "${SHORTCUT}" "$INSTDIR\kaldoria.exe" "" "$INSTDIR\kaldoria.exe" 0 \
    SW_SHOWNORMAL "" "도장 그림을 데이터베이스에 보관합니다"
  CreateShortCut "${MANAGER_SHORTCUT}" "$INSTDIR\kaldoria-manager.exe" "" "$INSTDIR\kaldoria.exe" 0 \
    SW_SHOWNORMAL "" "도장을 보고, 되돌리고, 문서용으로 만듭니다"

  WriteRegStr HKCU "${UNINSTKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTKEY}" "Publisher" "Kaldoria"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\kaldoria.exe,0"
  WriteRegStr HKCU "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTKEY}" "EstimatedSize" ${SIZE_KB}

  ; kaldoria-db in a new console: the folder on the user's PATH, once.
  !insertmacro READ_USER_PATH
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "사용자 PATH가 너무 길어 설치 프로그램이 바꾸지 않았습니다. 콘솔에서 kaldoria-db를 쓰려면 다음 폴더를 PATH에 직접 추가하세요: $INSTDIR" /SD IDOK
  ${Else}
    StrCpy $0 $pathValue
    StrCpy $1 $INSTDIR
    Call PathWithout
    ${If} $3 != 1
      ${If} $pathValue == ""
        StrCpy $0 $INSTDIR
      ${ElseIf} $pathValue == ";"
        StrCpy $0 $INSTDIR
      ${Else}
        StrCpy $0 "$pathValue;$INSTDIR"
      ${EndIf}
      ; A string of NSIS holds NSIS_MAX_STRLEN - 1 characters: a longer PATH
      ; would be written back cut short.
      StrLen $4 $pathValue
      StrLen $5 $INSTDIR
      IntOp $4 $4 + $5
      IntOp $4 $4 + 1
      ${If} $4 >= ${NSIS_MAX_STRLEN}
        MessageBox MB_OK|MB_ICONEXCLAMATION "사용자 PATH가 너무 길어 설치 프로그램이 바꾸지 않았습니다. 콘솔에서 kaldoria-db를 쓰려면 다음 폴더를 PATH에 직접 추가하세요: $INSTDIR" /SD IDOK
      ${Else}
        ; Expandable, as Windows keeps it: entries such as %USERPROFILE%\bin keep working.
        WriteRegExpandStr HKCU "Environment" "Path" $0
        ; Remembered so that the uninstaller only takes out what was put in.
        WriteRegDWORD HKCU "${UNINSTKEY}" "PathAdded" 1
        !insertmacro ANNOUNCE_ENVIRONMENT
      ${EndIf}
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Only the files this installer put there, and the transfer file; the
  ; folder itself goes only when nothing else (dojang.mdb) is left in it.
  !include "${UNFILES}"
  Delete "$INSTDIR\temp.bmp"
  ; A program started after the check keeps its files: the uninstaller,
  ; its key and the PATH entry stay, so it can be run again once it is closed.
  ${If} ${FileExists} "$INSTDIR\kaldoria.exe"
  ${OrIf} ${FileExists} "$INSTDIR\kaldoria-db.exe"
  ${OrIf} ${FileExists} "$INSTDIR\kaldoria-manager.exe"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Kaldoria가 실행 중이라 지우지 못한 파일이 있습니다. Kaldoria를 닫고 다시 제거하십시오." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  Delete "${SHORTCUT}"
  Delete "${MANAGER_SHORTCUT}"
  RMDir "$INSTDIR"

  ReadRegDWORD $R0 HKCU "${UNINSTKEY}" "PathAdded"
  ${If} $R0 == 1
    !insertmacro READ_USER_PATH
    ${IfNot} ${Errors}
      StrCpy $0 $pathValue
      ; The entry as it was added: the uninstaller may have been started
      ; through another spelling of its folder (a mapped drive, a short name).
      ReadRegStr $1 HKCU "${UNINSTKEY}" "InstallLocation"
      StrCmp $1 "" 0 +2
        StrCpy $1 $INSTDIR
      Call un.PathWithout
      ${If} $3 == 1
        ${If} $2 == ""
          DeleteRegValue HKCU "Environment" "Path"
        ${Else}
          WriteRegExpandStr HKCU "Environment" "Path" $2
        ${EndIf}
        !insertmacro ANNOUNCE_ENVIRONMENT
      ${EndIf}
    ${EndIf}
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTKEY}"
SectionEnd
