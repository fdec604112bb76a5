@echo off
rem vba Tessary: removes the add-in of the user who runs this: unregisters both DLLs and deletes
rem %LOCALAPPDATA%\vbaTessary. The setting DisplayOnConnect stays unless /all is given.
setlocal EnableExtensions DisableDelayedExpansion

set "self=%~nx0"
set "rc=0"
set "all="
set "found="
set "orphans="
set "step="
set "detail="

rem A double click runs "cmd /c <this file>": keep that window open until the user has read it.
setlocal EnableDelayedExpansion
set "pauseAtEnd="
set "ccl=!cmdcmdline!"
if defined ccl if not "!ccl:%self%=!"=="!ccl!" set "pauseAtEnd=1"
endlocal & set "pauseAtEnd=%pauseAtEnd%"

if /i "%~1"=="/all" (
  set "all=1"
  shift
)
if "%~1"=="/?" goto usage
if not "%~1"=="" (
  echo %self%: unknown argument %1
  goto usage
)

set "clsid={BF58B135-96A1-4809-BA5C-8B9637E56DAB}"
set "progid=VBATessary.Connect"
set "libid={C6A25868-C2E3-4C90-8A26-254259120AEE}"
set "iid={F3ADD325-79DF-4B43-985E-A38B4E1257C8}"
set "settings=HKCU\Software\VB and VBA Program Settings\vbatessary"
set "reg=%SystemRoot%\System32\reg.exe"

rem Elevated, this would work on the registry of whoever elevated it, which is not the user's own
rem when the administrator is another account. High (S-1-16-12288) or System (S-1-16-16384)
rem mandatory label: elevated.
set "elevated="
for %%l in (S-1-16-12288 S-1-16-16384) do (
  "%SystemRoot%\System32\whoami.exe" /groups 2>nul | "%SystemRoot%\System32\find.exe" "%%l" >nul
  if not errorlevel 1 set "elevated=1"
)
if defined elevated (
  echo %self%: refused: this command prompt runs elevated ^(as administrator^).
  echo   vba Tessary is registered in your own part of the registry, which an elevated command
  echo   prompt may not see. Run %self% from a normal command prompt, or by a double click.
  set "rc=1"
  goto finish
)

if not defined LOCALAPPDATA (
  echo %self%: LOCALAPPDATA is not set: this Windows is too old for vba Tessary.
  set "rc=1"
  goto finish
)
set "dest=%LOCALAPPDATA%\vbaTessary"

rem 64-bit Windows: a 32-bit cmd sees the 32-bit System32 and reaches the 64-bit one as Sysnative.
set "win64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "win64=1"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "win64=1"
if defined PROCESSOR_ARCHITEW6432 set "win64=1"
if defined win64 (
  set "sys32=%SystemRoot%\SysWOW64"
  set "view32=/reg:32"
  if defined PROCESSOR_ARCHITEW6432 (set "sys64=%SystemRoot%\Sysnative") else (set "sys64=%SystemRoot%\System32")
) else (
  set "sys32=%SystemRoot%\System32"
  set "view32="
)
rem Without 32-bit support the 32-bit DLL cannot be loaded to unregister it: its keys go by hand.
set "run86=1"
if defined win64 (
  "%sys32%\cmd.exe" /d /c exit 0 >nul 2>&1
  if errorlevel 1 set "run86="
)

rem Installed from the MSI as well: the registration is the MSI's (the same keys, pointing at its
rem files) and stays; only this folder goes.
set "msi="
"%reg%" query "HKCU\Software\vba Tessary" /v InstallFolder >nul 2>&1
if not errorlevel 1 set "msi=1"
if defined msi goto folder
call :half x86 32 "%sys32%" "%view32%" Addins
if errorlevel 1 goto failed
if defined win64 (
  call :half x64 64 "%sys64%" "/reg:64" Addins64
  if errorlevel 1 goto failed
)
if defined orphans call :forgetShared

:folder

if exist "%dest%\" (
  set "found=1"
  set "step=removing the folder %dest%"
  rd /s /q "%dest%" >nul 2>&1
)
if exist "%dest%\" (
  set "detail=a file in it is in use: close every Office program and run %self% again."
  goto failed
)

set "setting="
"%reg%" query "%settings%" >nul 2>&1
if not errorlevel 1 set "setting=1"
if defined all if defined setting (
  set "step=removing the setting under %settings%"
  "%reg%" delete "%settings%" /f >nul 2>&1
  if errorlevel 1 goto failed
  set "found=1"
)

if not defined found (
  echo vba Tessary is not installed for "%USERDOMAIN%\%USERNAME%": nothing to remove.
  if defined setting echo   Your setting DisplayOnConnect is kept; %self% /all removes it.
  goto finish
)
echo vba Tessary: removed for "%USERDOMAIN%\%USERNAME%".
if defined removed_x86 echo   32-bit Office: unregistered
if defined removed_x64 echo   64-bit Office: unregistered
echo   folder "%dest%": gone
if defined msi echo   The registration belongs to the installation from the MSI and is kept ^(Settings ^> Apps removes it^).
if defined setting if defined all echo   setting DisplayOnConnect: removed
if defined setting if not defined all echo   setting DisplayOnConnect: kept ^(%self% /all removes it^)
echo   An Office program that is running keeps the add-in until it is closed.
goto finish

:failed
rem The step names a folder of the user's, which may hold characters that cmd would act on.
setlocal EnableDelayedExpansion
echo %self%: failed while !step!.
if defined detail echo   !detail!
endlocal
set "rc=1"
goto finish

:usage
echo usage: %self% [/all]
echo   Removes vba Tessary for you ^(not elevated^): unregisters it and deletes
echo   %%LOCALAPPDATA%%\vbaTessary. /all also removes its setting DisplayOnConnect.
if not "%~1"=="/?" set "rc=2"
goto finish

:finish
if defined pauseAtEnd pause
exit /b %rc%


rem half <x86|x64> <32|64> <folder of regsvr32> <registry view switch> <add-in list>
:half
set "dll=%dest%\%~1\vbatessary.dll"
set "view=%~4"
set "list=HKCU\Software\Microsoft\VBA\VBE\6.0\%~5\%progid%"
call :classPath
if exist "%dll%" if defined run86 goto halfUnregister
if exist "%dll%" if not "%~1"=="x86" goto halfUnregister
rem The file is gone (deleted by hand) or cannot be loaded: its keys go without it, unless the
rem class is that of a copy installed elsewhere.
set "ours="
if not defined got set "ours=1"
if /i "%got%"=="%dest%\x86\vbatessary.dll" set "ours=1"
if /i "%got%"=="%dest%\x64\vbatessary.dll" set "ours=1"
if not defined ours exit /b 0
set "orphan="
if defined got set "orphan=1"
"%reg%" query "%list%" %view% >nul 2>&1
if not errorlevel 1 set "orphan=1"
if not defined orphan exit /b 0
set "step=removing the %~2-bit registration of a missing file"
if defined got "%reg%" delete "HKCU\Software\Classes\CLSID\%clsid%" /f %view% >nul 2>&1
"%reg%" delete "%list%" /f %view% >nul 2>&1
set "orphans=1"
goto halfCheck
:halfUnregister
set "step=unregistering the %~2-bit add-in with %~3\regsvr32.exe"
"%~3\regsvr32.exe" /u /s "%dll%"
if errorlevel 1 (
  set "detail=regsvr32 exit code %errorlevel%"
  exit /b 1
)
:halfCheck
set "found=1"
set "removed_%~1=1"
set "step=checking that the %~2-bit registration is gone"
"%reg%" query "%list%" %view% >nul 2>&1
if not errorlevel 1 (
  set "detail=the record %list% is still there"
  exit /b 1
)
call :classPath
if /i "%got%"=="%dll%" (
  set "detail=the class %clsid% still points at %dll%"
  exit /b 1
)
exit /b 0

rem classPath: the file the class points at in %view%, in %got%.
:classPath
set "line="
set "got="
for /f "delims=" %%L in ('call "%reg%" query "HKCU\Software\Classes\CLSID\%clsid%\InprocServer32" /ve %view% 2^>nul') do set "line=%%L"
rem Wine's reg prints its "not found" on standard output: only a value line counts.
if defined line if not "%line:REG_SZ=%"=="%line%" set "got=%line:*REG_SZ=%"
if defined got for /f "tokens=*" %%v in ("%got%") do set "got=%%v"
goto :eof

rem forgetShared: the program id and the type library with its interface, once neither view has
rem the class.
:forgetShared
if not defined win64 goto forget32
"%reg%" query "HKCU\Software\Classes\CLSID\%clsid%" /reg:64 >nul 2>&1
if not errorlevel 1 goto :eof
"%reg%" query "HKCU\Software\Classes\CLSID\%clsid%" /reg:32 >nul 2>&1
if not errorlevel 1 goto :eof
goto forgetNow
:forget32
"%reg%" query "HKCU\Software\Classes\CLSID\%clsid%" >nul 2>&1
if not errorlevel 1 goto :eof
:forgetNow
"%reg%" delete "HKCU\Software\Classes\%progid%" /f >nul 2>&1
"%reg%" delete "HKCU\Software\Classes\TypeLib\%libid%" /f >nul 2>&1
if defined win64 (
  "%reg%" delete "HKCU\Software\Classes\Interface\%iid%" /f /reg:32 >nul 2>&1
  "%reg%" delete "HKCU\Software\Classes\Interface\%iid%" /f /reg:64 >nul 2>&1
) else (
  "%reg%" delete "HKCU\Software\Classes\Interface\%iid%" /f >nul 2>&1
)
goto :eof
