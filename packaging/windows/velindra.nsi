; The Windows installer: velindra.exe and velindra-cli.exe for the current user, without
; administrator rights; a Start-menu entry; an uninstaller listed in Apps; and, when the person
; installing leaves it ticked, Velindra as the program that opens magnet: links: the per-user
; magnet: class, and the registration Windows 10 and 11 read for their default apps (a ProgId,
; the application's capabilities with magnet among its URL associations, and its entry among
; the registered applications), so that Velindra is offered where another program holds the
; user's choice, and can be chosen in Settings.
;
; makensis -DVERSION=<version> -DSTAGE=<folder with both programs> -DOUTFILE=<setup.exe> velindra.nsi
; A silent install (/S) takes the magnet links too, unless /NOMAGNET is given.

Unicode true
Target amd64-unicode  ; wine64 and 64-bit Windows run it without the 32-bit layer
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

!define APP "Velindra"
!define PUBLISHER "Tessmir"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velindra"
!define MAGNET_KEY "Software\Classes\magnet"
!define PROGID "Velindra.magnet"
!define PROGID_KEY "Software\Classes\${PROGID}"
!define CAPABILITIES "Software\Tessmir\Velindra\Capabilities"
!define REGISTERED "Software\RegisteredApplications"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${APP}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${APP} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "© ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\velindra.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; The command that makes magnet: links open in the installed velindra.exe.
!define MAGNET_COMMAND '"$INSTDIR\velindra.exe" "%1"'

Section "Velindra" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${STAGE}/velindra.exe"
    File "${STAGE}/velindra-cli.exe"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\velindra.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velindra.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "用 Velindra 打开 magnet 链接" SecMagnet
    ; Another program's command is kept, so that uninstalling gives it back.
    ReadRegStr $0 HKCU "${MAGNET_KEY}\shell\open\command" ""
    ${If} $0 != ""
    ${AndIf} $0 != '${MAGNET_COMMAND}'
        WriteRegStr HKCU "${UNINSTALL_KEY}" "PreviousMagnetCommand" $0
        ReadRegStr $0 HKCU "${MAGNET_KEY}\DefaultIcon" ""
        WriteRegStr HKCU "${UNINSTALL_KEY}" "PreviousMagnetIcon" $0
    ${EndIf}
    WriteRegStr HKCU "${MAGNET_KEY}" "" "URL:Magnet"
    WriteRegStr HKCU "${MAGNET_KEY}" "URL Protocol" ""
    WriteRegStr HKCU "${MAGNET_KEY}\DefaultIcon" "" "$INSTDIR\velindra.exe,0"
    WriteRegStr HKCU "${MAGNET_KEY}\shell\open\command" "" '${MAGNET_COMMAND}'

    ; What Windows 10 and 11 list in their default apps.
    WriteRegStr HKCU "${PROGID_KEY}" "" "Magnet 链接"
    WriteRegStr HKCU "${PROGID_KEY}" "FriendlyTypeName" "Magnet 链接"
    WriteRegStr HKCU "${PROGID_KEY}\DefaultIcon" "" "$INSTDIR\velindra.exe,0"
    WriteRegStr HKCU "${PROGID_KEY}\shell\open\command" "" '${MAGNET_COMMAND}'
    WriteRegStr HKCU "${CAPABILITIES}" "ApplicationName" "${APP}"
    WriteRegStr HKCU "${CAPABILITIES}" "ApplicationDescription" "把磁力链接转换为种子文件"
    WriteRegStr HKCU "${CAPABILITIES}" "ApplicationIcon" "$INSTDIR\velindra.exe,0"
    WriteRegStr HKCU "${CAPABILITIES}\URLAssociations" "magnet" "${PROGID}"
    WriteRegStr HKCU "${REGISTERED}" "${APP}" "${CAPABILITIES}"
SectionEnd

Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOMAGNET" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecMagnet}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Delete "$INSTDIR\velindra.exe"
    Delete "$INSTDIR\velindra-cli.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"

    ; The magnet links are given back only while they are still ours: to the program that had
    ; them before, or to nobody.
    ReadRegStr $0 HKCU "${MAGNET_KEY}\shell\open\command" ""
    ${If} $0 == '${MAGNET_COMMAND}'
        ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "PreviousMagnetCommand"
        ${If} $1 != ""
            WriteRegStr HKCU "${MAGNET_KEY}\shell\open\command" "" $1
            ReadRegStr $2 HKCU "${UNINSTALL_KEY}" "PreviousMagnetIcon"
            ${If} $2 != ""
                WriteRegStr HKCU "${MAGNET_KEY}\DefaultIcon" "" $2
            ${Else}
                DeleteRegKey HKCU "${MAGNET_KEY}\DefaultIcon"
            ${EndIf}
        ${Else}
            DeleteRegKey HKCU "${MAGNET_KEY}"
        ${EndIf}
    ${EndIf}
    ; The default-apps registration is Velindra's own, whoever has the links now.
    DeleteRegValue HKCU "${REGISTERED}" "${APP}"
    DeleteRegKey HKCU "${CAPABILITIES}"
    DeleteRegKey HKCU "${PROGID_KEY}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
