; Installer of the Zelmar Dorvex TWAIN source (makensis 3, Unicode).
;
; Puts DorvexTwain.ds into %WINDIR%\twain_32\Zelmar\, where every TWAIN Source Manager looks for
; 32-bit sources (also on 64-bit Windows: not System32, not SysWOW64), writes the uninstaller and
; the "Apps & features" entry. Optional, off by default: our TWAIN_32.DLL for Wine users, in a
; subfolder of its own, never over the system's manager.
;
; Every file goes in beside its final name first ("*.new"), the uninstaller with them; only when
; all of them are written are they renamed into place and the entry made. A folder that cannot be written ends the
; installation with a message, exit code 2 and nothing left behind. A source that an application
; still has loaded is replaced when Windows restarts (exit code 3010 in silent mode).
;
; Defined by the build (packaging/CMakeLists.txt): VERSION ("1.00"), VERSION_NUMBERS ("1.0.0.0"),
; BIN_DIR (the 32-bit build's bin folder), TEXT_DIR (this folder), OUT_FILE, and BIN64_DIR: a
; 64-bit build's bin folder, whose DorvexTwain.ds goes to %WINDIR%\twain_64\Zelmar\ on 64-bit
; Windows when the file exists at build time.
;
; Command line: /S silent; /WINE also installs the Wine Source Manager.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include x64.nsh
!include MUI2.nsh

!macro Required NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: build with ./run build"
  !endif
!macroend
!insertmacro Required VERSION
!insertmacro Required VERSION_NUMBERS
!insertmacro Required BIN_DIR
!insertmacro Required TEXT_DIR
!insertmacro Required OUT_FILE
!ifdef BIN64_DIR
  !if /FileExists "${BIN64_DIR}/DorvexTwain.ds"
    !define WITH_64BIT
  !endif
!endif

!define PRODUCT "Zelmar Dorvex TWAIN source"
!define PUBLISHER "Zelmar Corporation"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelmarDorvexTwain"
!define SETTINGS_KEY "Software\Zelmar\Dorvex TwainDS"
!define SOURCE_FILE "DorvexTwain.ds"
!define UNINSTALLER "uninstall.exe"
!define WINE_DIR "Wine"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$WINDIR\twain_32\Zelmar"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_NUMBERS}"
VIFileVersion "${VERSION_NUMBERS}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the fallback; NSIS picks the one of the user's UI language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString SectionSource ${LANG_ENGLISH} "Dorvex TWAIN source"
LangString SectionSource ${LANG_JAPANESE} "Dorvex TWAIN ソース"
LangString SectionWine ${LANG_ENGLISH} "Source Manager for Wine (not for Windows)"
LangString SectionWine ${LANG_JAPANESE} "Wine 用ソースマネージャー (Windows では不要)"
LangString NeedAdmin ${LANG_ENGLISH} "Installing the TWAIN source needs administrator rights."
LangString NeedAdmin ${LANG_JAPANESE} "TWAIN ソースのインストールには管理者の権限が必要です。"
LangString CannotWrite ${LANG_ENGLISH} "Setup cannot write to the folder$\r$\n$INSTDIR$\r$\nNothing was installed."
LangString CannotWrite ${LANG_JAPANESE} "フォルダー$\r$\n$INSTDIR$\r$\nに書き込めません。何もインストールされていません。"
LangString InUse ${LANG_ENGLISH} "DorvexTwain.ds is in use by an application. It will be replaced when Windows restarts."
LangString InUse ${LANG_JAPANESE} "DorvexTwain.ds はアプリケーションが使用中です。Windows の再起動時に置き換えられます。"
LangString RemoveSettings ${LANG_ENGLISH} "Also remove your settings of the source (port, bit rate, thumbnails)?"
LangString RemoveSettings ${LANG_JAPANESE} "ソースの設定 (ポート、通信速度、サムネール) も削除しますか？"
LangString RemovedAtRestart ${LANG_ENGLISH} "DorvexTwain.ds is in use by an application. It will be removed when Windows restarts."
LangString RemovedAtRestart ${LANG_JAPANESE} "DorvexTwain.ds はアプリケーションが使用中です。Windows の再起動時に削除されます。"

Var madeTwainFolder    ; 1 when this run created %WINDIR%\twain_32
Var madeInstallFolder  ; 1 when this run created $INSTDIR
Var hadUninstaller     ; 1 when an earlier installation left its uninstaller

; ---------------------------------------------------------------------------------------------
; Staging: each file goes in as NAME.new first. SetOverwrite try makes a failed write set the
; error flag instead of asking Abort/Retry/Ignore.

Section "!$(SectionSource)" SecSource
  SectionIn RO
  StrCpy $madeTwainFolder 0
  StrCpy $madeInstallFolder 0
  ${IfNot} ${FileExists} "$WINDIR\twain_32\*.*"
    StrCpy $madeTwainFolder 1
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $madeInstallFolder 1
  ${EndIf}
  StrCpy $hadUninstaller 0
  ${If} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    StrCpy $hadUninstaller 1
  ${EndIf}

  ClearErrors
  CreateDirectory "$INSTDIR"
  ${If} ${Errors}
    Call Refuse
  ${EndIf}
  SetOutPath "$INSTDIR"
  SetOverwrite try
  ClearErrors
  File "/oname=${SOURCE_FILE}.new" "${BIN_DIR}/DorvexTwain.ds"
  ${If} ${Errors}
    Call Refuse
  ${EndIf}
  ; Replacing an earlier uninstaller is harmless: it removes the same files.
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ${If} ${Errors}
    Call Refuse
  ${EndIf}
!ifdef WITH_64BIT
  ${If} ${RunningX64}
    ClearErrors
    CreateDirectory "$WINDIR\twain_64\Zelmar"
    SetOutPath "$WINDIR\twain_64\Zelmar"
    File "/oname=${SOURCE_FILE}.new" "${BIN64_DIR}/DorvexTwain.ds"
    ${If} ${Errors}
      Call Refuse
    ${EndIf}
  ${EndIf}
!endif
SectionEnd

Section /o "$(SectionWine)" SecWine
  ClearErrors
  CreateDirectory "$INSTDIR\${WINE_DIR}"
  SetOutPath "$INSTDIR\${WINE_DIR}"
  SetOverwrite try
  File "/oname=TWAIN_32.DLL.new" "${BIN_DIR}/TWAIN_32.DLL"
  File "/oname=Wine.txt.new" "${TEXT_DIR}/Wine.txt"
  ${If} ${Errors}
    Call Refuse
  ${EndIf}
SectionEnd

; Everything is written: put it in place, then the entry.
Section "-commit"
  SetOutPath "$INSTDIR"
  StrCpy $0 "$INSTDIR\${SOURCE_FILE}"
  Call PutInPlace
!ifdef WITH_64BIT
  ${If} ${RunningX64}
    StrCpy $0 "$WINDIR\twain_64\Zelmar\${SOURCE_FILE}"
    Call PutInPlace
  ${EndIf}
!endif
  ${If} ${SectionIsSelected} ${SecWine}
    StrCpy $0 "$INSTDIR\${WINE_DIR}\TWAIN_32.DLL"
    Call PutInPlace
    StrCpy $0 "$INSTDIR\${WINE_DIR}\Wine.txt"
    Call PutInPlace
  ${EndIf}

  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
  ; The language this run spoke (the user's, when it is English or Japanese).
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Language" $LANGUAGE
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ${If} ${RebootFlag}
    MessageBox MB_OK|MB_ICONINFORMATION "$(InUse)" /SD IDOK
    ${If} ${Silent}
      SetErrorLevel 3010
    ${EndIf}
  ${EndIf}
SectionEnd

; $0: final path; $0.new is in place beside it. A file that an application has loaded cannot be
; replaced now: the rename then happens at the next restart.
Function PutInPlace
  SetFileAttributes "$0" NORMAL  ; a read-only copy would refuse to go, now and at the restart
  Delete "$0"
  ${If} ${FileExists} "$0"
    Rename /REBOOTOK "$0.new" "$0"
    SetRebootFlag true
  ${Else}
    ClearErrors
    Rename "$0.new" "$0"
    ${If} ${Errors}
      Call Refuse
    ${EndIf}
  ${EndIf}
FunctionEnd

; Takes back what this run wrote, tells the user and ends with exit code 2.
Function Refuse
  Delete "$INSTDIR\${SOURCE_FILE}.new"
  Delete "$INSTDIR\${WINE_DIR}\TWAIN_32.DLL.new"
  Delete "$INSTDIR\${WINE_DIR}\Wine.txt.new"
  RMDir "$INSTDIR\${WINE_DIR}"
!ifdef WITH_64BIT
  Delete "$WINDIR\twain_64\Zelmar\${SOURCE_FILE}.new"
  RMDir "$WINDIR\twain_64\Zelmar"
!endif
  ${If} $hadUninstaller == 0
    Delete "$INSTDIR\${UNINSTALLER}"
  ${EndIf}
  ${If} $madeInstallFolder == 1
    RMDir "$INSTDIR"
  ${EndIf}
  ${If} $madeTwainFolder == 1
    RMDir "$WINDIR\twain_32"
  ${EndIf}
  MessageBox MB_OK|MB_ICONSTOP "$(CannotWrite)" /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd

Function .onInit
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "$(NeedAdmin)" /SD IDOK
    SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/WINE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecWine}
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; Uninstaller: the files, the folder when nothing else is in it, the entry. The user's settings
; only on request (a silent uninstall keeps them).

Section "Uninstall"
  ; A replacement still waiting for the restart goes too.
  Delete /REBOOTOK "$INSTDIR\${SOURCE_FILE}.new"
  SetFileAttributes "$INSTDIR\${SOURCE_FILE}" NORMAL
  Delete /REBOOTOK "$INSTDIR\${SOURCE_FILE}"
  ${If} ${RebootFlag}
    MessageBox MB_OK|MB_ICONINFORMATION "$(RemovedAtRestart)" /SD IDOK
  ${EndIf}
!ifdef WITH_64BIT
  ${If} ${RunningX64}
    Delete /REBOOTOK "$WINDIR\twain_64\Zelmar\${SOURCE_FILE}"
    RMDir "$WINDIR\twain_64\Zelmar"
  ${EndIf}
!endif
  Delete "$INSTDIR\${WINE_DIR}\TWAIN_32.DLL"
  Delete "$INSTDIR\${WINE_DIR}\Wine.txt"
  RMDir "$INSTDIR\${WINE_DIR}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} ${RebootFlag}
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  MessageBox MB_YESNO|MB_ICONQUESTION "$(RemoveSettings)" /SD IDNO IDNO keepSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Zelmar"
  keepSettings:
SectionEnd

Function un.onInit
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "$(NeedAdmin)" /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
FunctionEnd
