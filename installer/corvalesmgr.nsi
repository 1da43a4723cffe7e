; Per-user installer of Lumora网址大全桌面版.
;
;   makensis -DARCH=x86_64|i686 -DEXE=<corvalesmgr.exe> -DOUTFILE=<installer.exe>
;            -DPRODUCT=... -DLINK=... -DUNINST_LINK=... -DFOLDER=... -DPROGRAM=...
;            [-DVERSION=1.0.0.0] corvalesmgr.nsi
;
; installer/build.sh runs it so, taking the names from product/ProductNames.h.
; The program removes the product itself (corvalesmgr.exe /uninst), so what
; is written here must stay exactly what its uninstall looks for: the folder,
; the key and the shortcut names, which is why they come from the program's
; own header. No uninstaller of NSIS's own is made.
;
; Exit codes, silent (/S) or not: 0 installed, 1 cancelled on a page, 3 the
; program folder cannot be made or written, 4 the installed program is in use
; and cannot be replaced, 5 a shortcut or the uninstall key could not be
; written. In silent mode the reason goes nowhere but the exit code.

!ifndef ARCH | EXE | OUTFILE
  !error "define ARCH (x86_64 or i686), EXE and OUTFILE"
!endif
!ifndef VERSION
  !define VERSION 1.0.0.0
!endif

!if "${ARCH}" == "x86_64"
  Target amd64-unicode
!else if "${ARCH}" == "i686"
  Target x86-unicode
!else
  !error "ARCH must be x86_64 or i686, not ${ARCH}"
!endif
Unicode true

!ifndef PRODUCT | LINK | UNINST_LINK | FOLDER | PROGRAM
  !error "define PRODUCT, LINK, UNINST_LINK, FOLDER and PROGRAM (installer/build.sh takes them from product/ProductNames.h)"
!endif
!define UNINST_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

!define ERR_FOLDER 3
!define ERR_IN_USE 4
!define ERR_WRITE 5
; How long silent mode waits for a running copy of the program to end: its
; runs last a moment, the second uninstall process about two seconds.
!define IN_USE_TRIES 20
!define IN_USE_PAUSE_MS 250

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
; File times would make each build's bytes depend on the checkout's mtimes.
SetDateSave off
SetOverwrite try
ShowInstDetails show
BrandingText "${PRODUCT} ${VERSION}"
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include WinVer.nsh
!include FileFunc.nsh

!define MUI_ICON "${__FILEDIR__}\..\res\app.ico"
!define MUI_ABORTWARNING
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "安装未完成"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "${PRODUCT} 没有安装成功。"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "Lumora"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "© Lumora"

Var MadeFolder

Function .onInit
  SetShellVarContext current
  ; The program's uninstall only knows this folder, so /D= is not honoured.
  StrCpy $INSTDIR "$APPDATA\${FOLDER}"
FunctionEnd

; Shows why the install stopped (the message only in the log when silent),
; takes back the folder if this run made it, and ends with code $R9. The
; box is left out when the user has just chosen to stop.
!macro Fail code message
  StrCpy $R7 0
  StrCpy $R8 "${message}"
  StrCpy $R9 ${code}
  Call Fail
!macroend

!macro FailQuietly code message
  StrCpy $R7 1
  StrCpy $R8 "${message}"
  StrCpy $R9 ${code}
  Call Fail
!macroend

Function Fail
  DetailPrint "$R8"
  ${If} $R7 == 0
    MessageBox MB_OK|MB_ICONSTOP "$R8" /SD IDOK
  ${EndIf}
  ${If} $MadeFolder == 1
    SetOutPath $TEMP
    RMDir "$INSTDIR"
  ${EndIf}
  SetErrorLevel $R9
  Abort
FunctionEnd

Function MakeFolder
  StrCpy $MadeFolder 0
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    ${If} ${FileExists} "$INSTDIR"
      !insertmacro Fail ${ERR_FOLDER} "无法创建程序文件夹：$\r$\n$INSTDIR$\r$\n$\r$\n该位置已有一个同名的文件。请移走它后再运行安装程序。"
    ${EndIf}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
      !insertmacro Fail ${ERR_FOLDER} "无法创建程序文件夹：$\r$\n$INSTDIR$\r$\n$\r$\n请检查该位置是否可以写入。"
    ${EndIf}
    StrCpy $MadeFolder 1
  ${EndIf}
FunctionEnd

; Replaces the program in place. A running copy keeps its file open, which
; makes the write fail before anything of the old file is touched.
Function PutProgram
  StrCpy $R0 0
  ; A read-only copy would stop the program's own uninstall from deleting it.
  ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
    SetFileAttributes "$INSTDIR\${PROGRAM}" NORMAL
  ${EndIf}
  retry:
    ClearErrors
    File "/oname=$INSTDIR\${PROGRAM}" "${EXE}"
    ${IfNot} ${Errors}
      Return
    ${EndIf}
    ${IfNot} ${FileExists} "$INSTDIR\${PROGRAM}"
      !insertmacro Fail ${ERR_FOLDER} "无法写入程序文件夹：$\r$\n$INSTDIR$\r$\n$\r$\n请检查该位置是否可以写入。"
    ${EndIf}
    ${If} ${Silent}
      IntOp $R0 $R0 + 1
      ${If} $R0 < ${IN_USE_TRIES}
        Sleep ${IN_USE_PAUSE_MS}
        Goto retry
      ${EndIf}
      !insertmacro Fail ${ERR_IN_USE} "无法替换 $INSTDIR\${PROGRAM}：文件正在使用中。"
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "无法替换：$\r$\n$INSTDIR\${PROGRAM}$\r$\n$\r$\n${PRODUCT} 正在运行。请关闭它后点击“重试”，或点击“取消”退出安装。" IDRETRY retry
    !insertmacro FailQuietly ${ERR_IN_USE} "安装已取消：$INSTDIR\${PROGRAM} 正在使用中。"
FunctionEnd

; $R1 link path, $R2 arguments.
Function PutLink
  ClearErrors
  CreateShortcut "$R1" "$INSTDIR\${PROGRAM}" "$R2" "$INSTDIR\${PROGRAM}" 0
  ${If} ${Errors}
    !insertmacro Fail ${ERR_WRITE} "无法创建快捷方式：$\r$\n$R1"
  ${EndIf}
FunctionEnd

!macro Link path args
  StrCpy $R1 "${path}"
  StrCpy $R2 "${args}"
  Call PutLink
!macroend

Function PutKey
  ; Written afresh, so an older install's values cannot linger.
  DeleteRegKey HKCU "${UNINST_KEY}"
  ClearErrors
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${PROGRAM}" /uninst'
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "Lumora"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
  ${If} ${Errors}
    !insertmacro Fail ${ERR_WRITE} "无法写入注册表：$\r$\nHKEY_CURRENT_USER\${UNINST_KEY}"
  ${EndIf}
FunctionEnd

Section
  SetShellVarContext current
  Call MakeFolder
  Call PutProgram
  ; Shortcuts start in the program folder.
  SetOutPath "$INSTDIR"
  ClearErrors
  File "${__FILEDIR__}\config.ini"
  ${If} ${Errors}
    !insertmacro Fail ${ERR_FOLDER} "无法写入 $INSTDIR\config.ini"
  ${EndIf}
  !insertmacro Link "$INSTDIR\${UNINST_LINK}.lnk" "/uninst"
  Call PutKey

  !insertmacro Link "$DESKTOP\${LINK}.lnk" "/desktop"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !insertmacro Link "$SMPROGRAMS\${PRODUCT}\${LINK}.lnk" "/startmenu"
  !insertmacro Link "$SMPROGRAMS\${PRODUCT}\${UNINST_LINK}.lnk" "/uninst"
  ; From Vista on the program's uninstall only unpins in the start menu and
  ; the taskbar and never deletes plain links there, so links made there
  ; would outlive the product.
  ${IfNot} ${AtLeastWinVista}
    !insertmacro Link "$STARTMENU\${LINK}.lnk" "/startmenu"
    ; Only where the user has the toolbar's folder: making one would leave
    ; an empty folder behind after the uninstall.
    ${If} ${FileExists} "$QUICKLAUNCH\*.*"
      !insertmacro Link "$QUICKLAUNCH\${LINK}.lnk" "/taskbar"
    ${EndIf}
  ${EndIf}

  ExecWait '"$INSTDIR\${PROGRAM}" /install' $0
  DetailPrint "${PROGRAM} /install: $0"
SectionEnd
