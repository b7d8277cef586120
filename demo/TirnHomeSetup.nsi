; The demo product's installer, built with NSIS. Installs TirnHome.exe under
; Program Files, records szTirnDir in the installation record, and writes
; TirnHome.version (the definition version the launcher recorded before
; starting it). "/Upgrade" on the command line makes it an upgrade. It runs
; without pages and tells what it did in a small notice window that closes
; itself; with NSIS's own "/S" (silent) it shows nothing at all.
;   makensis -DPRODUCT=TirnHome.exe -DNOTICE=DemoNotice.exe -DOUTFILE=... [-DAMD64] TirnHomeSetup.nsi
; With AMD64 it is a 64-bit installer (for the x64 demo product), installing
; into the 64-bit Program Files; both keep the record in the 32-bit registry
; view, where the launchers look for it.
!ifdef AMD64
Target amd64-unicode
!define PRODUCT_PARENT "$PROGRAMFILES64"
!else
Unicode true
!define PRODUCT_PARENT "$PROGRAMFILES"
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
SilentInstall silent
Name "Tirn Home"
OutFile "${OUTFILE}"
InstallDir "${PRODUCT_PARENT}\Tirn Home"

!include "FileFunc.nsh"
!include "LogicLib.nsh"

Section "Tirn Home"
    SetRegView 32
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/Upgrade" $R1
    ${If} ${Errors}
        StrCpy $R2 "Fresh installation"
    ${Else}
        StrCpy $R2 "Upgrade"
    ${EndIf}

    ClearErrors
    ReadRegDWORD $R3 HKLM "Software\Tirn" "DefinitionVersion"
    ${If} ${Errors}
        StrCpy $R3 "unknown"
    ${EndIf}

    SetOutPath "$INSTDIR"
    File "/oname=TirnHome.exe" "${PRODUCT}"
    FileOpen $0 "$INSTDIR\TirnHome.version" w
    FileWrite $0 "$R3"
    FileClose $0
    WriteRegStr HKLM "Software\Tirn" "szTirnDir" "$INSTDIR"

    ; "/S" exactly: the installer is always silent in NSIS's sense (no pages),
    ; so only the option itself tells that nobody is to see the notice.
    ClearErrors
    ${GetOptionsS} $R0 "/S" $R4
    ${If} ${Errors}
        InitPluginsDir
        File "/oname=$PLUGINSDIR\DemoNotice.exe" "${NOTICE}"
        ExecWait '"$PLUGINSDIR\DemoNotice.exe" "Tirn Home Setup" "$R2 of Tirn Home, definition version $R3." "Installed in $INSTDIR"'
    ${EndIf}
SectionEnd
