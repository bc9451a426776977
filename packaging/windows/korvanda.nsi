; The Windows installer: Japanese pages, the program folder chosen by the user, a Start-menu
; entry, .m3u8 set lists opened with Korvanda when the user ticks it, an uninstaller.
; makensis -DVERSION=0.1.0 -DSTAGE=<installed folder> -DOUTFILE=<installer.exe> korvanda.nsi
; A silent install (/S) takes the defaults: Program Files\Korvanda, no file association.
Unicode true
; A 64-bit installer for a 64-bit program; it also runs under a Wine without 32-bit support.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"

Name "Korvanda ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Korvanda"
InstallDirRegKey HKLM "Software\Korvanda" "InstallDir"
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvanda"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\korvanda.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Section "Korvanda（必須）" SecProgram
    SectionIn RO
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Korvanda.lnk" "$INSTDIR\korvanda.exe"
    WriteRegStr HKLM "Software\Korvanda" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Korvanda"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Korvanda developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvanda.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Off unless the user ticks it: another program may own .m3u8 files.
Section /o "セットリスト（.m3u8）を Korvanda で開く" SecAssociate
    WriteRegStr HKLM "Software\Classes\Korvanda.SetList" "" "Korvanda セットリスト"
    WriteRegStr HKLM "Software\Classes\Korvanda.SetList\shell\open\command" "" '"$INSTDIR\korvanda.exe" "%1"'
    WriteRegStr HKLM "Software\Classes\.m3u8\OpenWithProgids" "Korvanda.SetList" ""
    WriteRegStr HKLM "Software\Classes\.m3u8" "" "Korvanda.SetList"
    WriteRegStr HKLM "Software\Korvanda" "Associated" "1"
SectionEnd

LangString DESC_Program ${LANG_JAPANESE} "Korvanda 本体と、動かすのに必要なファイルです。"
LangString DESC_Associate ${LANG_JAPANESE} "エクスプローラーで .m3u8 のセットリストを開くと Korvanda で開きます。"
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_Program)
    !insertmacro MUI_DESCRIPTION_TEXT ${SecAssociate} $(DESC_Associate)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\Korvanda.lnk"
    ReadRegStr $0 HKLM "Software\Korvanda" "Associated"
    StrCmp $0 "1" 0 +4
        DeleteRegValue HKLM "Software\Classes\.m3u8\OpenWithProgids" "Korvanda.SetList"
        DeleteRegValue HKLM "Software\Classes\.m3u8" ""
        DeleteRegKey HKLM "Software\Classes\Korvanda.SetList"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "Software\Korvanda"
    ; Only what the installer put there: settings the user saved in the folder stay.
    RMDir /r "$INSTDIR\plugins"
    RMDir /r "$INSTDIR\translations"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\korvanda.exe"
    Delete "$INSTDIR\qt.conf"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
