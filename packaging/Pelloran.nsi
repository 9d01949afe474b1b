; Pelloran's setup program: installs Pelloran.exe and its language file for all users into
; Program Files\Pelloran, adds a Start-menu shortcut and an entry in "Programs and Features", and
; writes an uninstaller that takes all of it away again (the user's stored mode in HKCU stays).
; "/S" installs silently; the uninstaller's "/S" removes silently.
;
; scripts/package builds it and passes, with -D:
;   VERSION    four-part version, e.g. 1.0.0.7
;   COMPANY    the company of the executable's version block (the entry's publisher)
;   COPYRIGHT  the notice of rights of the version block
;   ARCH       x86 or x64: the installer's own code, and which Program Files and registry view it uses
;   STAGE      folder holding the installed files and Pelloran.ico
;   LANGUAGES  file of MUI_LANGUAGE lines, English first, made from packaging/languages.txt
;   FILES      file of two macros: INSTALL_FILES (a File line per installed file) and REMOVE_FILES
;   OUTFILE    the setup program to write
;   SIGNER     only with a certificate: the command that signs a file in place (packaging/sign)

Unicode true
!if "${ARCH}" == "x64"
    Target amd64-unicode
!else
    Target x86-unicode
!endif

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define PRODUCT "Pelloran"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define UNINSTALLER "Uninstall.exe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Installs for every user into Program Files, so it needs administrator rights (as does the tool).
RequestExecutionLevel admin
!if "${ARCH}" == "x64"
    InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
    InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
; A second install goes where the first one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "${COMPANY}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${COPYRIGHT}"

; Signed with Authenticode when a certificate is given: the uninstaller before it is packed into the
; setup program (so that the one every installation writes carries the signature), then the setup
; program once it is written. A signature that fails stops the build.
!ifdef SIGNER
    !uninstfinalize '"${SIGNER}" "%1" "${PRODUCT} Uninstall"' = 0
    !finalize '"${SIGNER}" "%1" "${PRODUCT} Setup"' = 0
!endif

!define MUI_ICON "${STAGE}/Pelloran.ico"
!define MUI_UNICON "${STAGE}/Pelloran.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Pages in the user's language where the tool has that language and NSIS a translation of it.
!include "${LANGUAGES}"
!include "${FILES}"

Function .onInit
    SetShellVarContext all
    !if "${ARCH}" == "x64"
        SetRegView 64
    !endif
    Call ChooseLanguage
    ; Where the MSI installed Pelloran, the entry that both packages write names msiexec as its
    ; uninstaller: installing over it would leave Windows Installer a product whose files are no longer
    ; its own. Refused with exit code 3 (1 and 2 are NSIS's own: cancelled by the user, by the script).
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "UninstallString"
    StrCpy $0 $0 11
    ${If} $0 == "MsiExec.exe"
        MessageBox MB_OK|MB_ICONSTOP "Pelloran was installed by its MSI package. Remove it first (Programs and Features, or msiexec /x), then run this setup program." /SD IDOK
        SetErrorLevel 3
        Quit
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext all
    !if "${ARCH}" == "x64"
        SetRegView 64
    !endif
    Call un.ChooseLanguage
FunctionEnd

; NSIS matches the user's interface language first exactly, then by its primary language. Croatian
; and Bosnian share their primary language with Serbian, which the tool has and they do not: their
; users get English pages, as they get an English dialog.
!macro CHOOSE_LANGUAGE prefix
Function ${prefix}ChooseLanguage
    System::Call 'kernel32::GetUserDefaultUILanguage() i .r0'
    IntOp $0 $0 & 0xFFFF
    ${If} $0 = 0x041A      ; Croatian (Croatia)
    ${OrIf} $0 = 0x101A    ; Croatian (Bosnia and Herzegovina)
    ${OrIf} $0 = 0x141A    ; Bosnian (Latin)
    ${OrIf} $0 = 0x201A    ; Bosnian (Cyrillic)
        StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${EndIf}
FunctionEnd
!macroend
!insertmacro CHOOSE_LANGUAGE ""
!insertmacro CHOOSE_LANGUAGE "un."

Section "Pelloran"
    SetOutPath "$INSTDIR"
    !insertmacro INSTALL_FILES
    ; The administrative template, laid out as a policy store: copied from here to a central store.
    SetOutPath "$INSTDIR\PolicyDefinitions"
    File "${STAGE}/PolicyDefinitions/Pelloran.admx"
    SetOutPath "$INSTDIR\PolicyDefinitions\en-US"
    File "${STAGE}/PolicyDefinitions/en-US/Pelloran.adml"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Pelloran.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pelloran.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    !insertmacro REMOVE_FILES
    Delete "$INSTDIR\PolicyDefinitions\en-US\Pelloran.adml"
    RMDir "$INSTDIR\PolicyDefinitions\en-US"
    Delete "$INSTDIR\PolicyDefinitions\Pelloran.admx"
    RMDir "$INSTDIR\PolicyDefinitions"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
