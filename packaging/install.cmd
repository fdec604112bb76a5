@echo off
rem vba Tessary: installs the add-in for the user who runs this, with no administrator rights.
rem Copies the DLLs next to this file to %LOCALAPPDATA%\vbaTessary\x86 and \x64 and registers each
rem with the regsvr32 of its own bitness. Run again to update in place.
setlocal EnableExtensions DisableDelayedExpansion

set "self=%~nx0"
set "here=%~dp0"
set "rc=0"
set "updating="
set "step="
set "detail="

rem A double click runs "cmd /c <this file>": keep that window open until the user has read it.
setlocal EnableDelayedExpansion
set "pauseAtEnd="
set "ccl=!cmdcmdline!"
if defined ccl if not "!ccl:%self%=!"=="!ccl!" set "pauseAtEnd=1"
endlocal & set "pauseAtEnd=%pauseAtEnd%"

if "%~1"=="/?" goto usage
if not "%~1"=="" (
  echo %self%: unknown argument %1
  goto usage
)

set "clsid={BF58B135-96A1-4809-BA5C-8B9637E56DAB}"
set "progid=VBATessary.Connect"
set "reg=%SystemRoot%\System32\reg.exe"

rem Elevated, this would register into the hive of whoever elevated it: when that administrator
rem is another account, the user's own Office never sees the add-in. The mandatory label of the
rem token says it: High (S-1-16-12288) or System (S-1-16-16384) is elevated.
set "elevated="
for %%l in (S-1-16-12288 S-1-16-16384) do (
  "%SystemRoot%\System32\whoami.exe" /groups 2>nul | "%SystemRoot%\System32\find.exe" "%%l" >nul
  if not errorlevel 1 set "elevated=1"
)
if defined elevated (
  echo %self%: refused: this command prompt runs elevated ^(as administrator^).
  echo   An elevated registration goes to the registry of the account that elevated it, which is
  echo   not yours when an administrator's password was typed, and your Office would not see the
  echo   add-in. Run %self% from a normal command prompt, or by a double click, as yourself.
  set "rc=1"
  goto finish
)

if not defined LOCALAPPDATA (
  echo %self%: LOCALAPPDATA is not set: this Windows is too old for vba Tessary.
  set "rc=1"
  goto finish
)
set "dest=%LOCALAPPDATA%\vbaTessary"

rem The MSI's installation writes the same registration: two would point the class at two copies.
"%reg%" query "HKCU\Software\vba Tessary" /v InstallFolder >nul 2>&1
if not errorlevel 1 (
  echo %self%: refused: vba Tessary is installed from its MSI for "%USERDOMAIN%\%USERNAME%".
  echo   Keep that installation ^(it updates with a newer MSI^), or remove it first in
  echo   Settings ^> Apps ^> vba Tessary ^(or: msiexec /x vbatessary-^<version^>-x64.msi^) and run %self% again.
  set "rc=1"
  goto finish
)

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

rem The halves to install: x86 wherever 32-bit programs run (32-bit Office needs them too), x64 on
rem 64-bit Windows.
set "do86=1"
set "do64="
if defined win64 set "do64=1"
set "skip86="
if defined win64 (
  "%sys32%\cmd.exe" /d /c exit 0 >nul 2>&1
  if errorlevel 1 set "skip86=1"
)
if defined skip86 set "do86="

echo vba Tessary: installing for "%USERDOMAIN%\%USERNAME%" in "%dest%"

set "step=checking the package"
if defined do86 if not exist "%here%x86\vbatessary.dll" goto incomplete
if defined do64 if not exist "%here%x64\vbatessary.dll" goto incomplete

if exist "%dest%\x86\vbatessary.dll" set "updating=1"
if exist "%dest%\x64\vbatessary.dll" set "updating=1"

rem Everything is copied under a temporary name first: a failed copy leaves the installation as it was.
if defined do86 (
  call :copyNew x86
  if errorlevel 1 goto failed
)
if defined do64 (
  call :copyNew x64
  if errorlevel 1 goto failed
)
if defined do86 (
  call :replace x86
  if errorlevel 1 goto failed
)
if defined do64 (
  call :replace x64
  if errorlevel 1 goto failed
)
if defined do86 (
  call :register x86 32 "%sys32%" "%view32%" Addins
  if errorlevel 1 goto failed
)
if defined do64 (
  call :register x64 64 "%sys64%" "/reg:64" Addins64
  if errorlevel 1 goto failed
)

rem The check program goes beside each DLL, for a later look or --repair; the add-in runs without it.
if defined do86 if exist "%here%x86\vbatessary-check.exe" copy /b /y "%here%x86\vbatessary-check.exe" "%dest%\x86\vbatessary-check.exe" >nul 2>&1
if defined do64 if exist "%here%x64\vbatessary-check.exe" copy /b /y "%here%x64\vbatessary-check.exe" "%dest%\x64\vbatessary-check.exe" >nul 2>&1

rem The earlier copies go; one that a running Office still holds goes at the next install.
for %%h in (x86 x64) do if exist "%dest%\%%h\vbatessary.dll.old" del /f /q "%dest%\%%h\vbatessary.dll.old" >nul 2>&1

if defined updating (echo vba Tessary: updated.) else (echo vba Tessary: installed.)
if defined do86 echo   32-bit Office: registered "%dest%\x86\vbatessary.dll" ^(listed under VBE\6.0\Addins^)
if defined skip86 echo   32-bit Office: skipped, this Windows runs no 32-bit programs ^(so no 32-bit Office either^)
if defined do64 echo   64-bit Office: registered "%dest%\x64\vbatessary.dll" ^(listed under VBE\6.0\Addins64^)
if not defined win64 echo   64-bit Office: not on 32-bit Windows
echo Next: open the VBA editor ^(Alt+F11^) in Excel, Word, Access or PowerPoint: the bar
echo   "Tessary Ver. 1.01" is at the top. In an Office that was already running, choose Add-Ins ^>
echo   Add-In Manager..., select "vba Tessary Ver. 1.01" and tick Loaded/Unloaded.
echo   No bar? Run "%dest%\x64\vbatessary-check.exe" ^(x86 for 32-bit Office^): it says why.
if defined updating echo   An Office program that was running keeps the earlier version until it is closed.
echo   This folder is no longer needed; keep it, or the zip, for uninstall.cmd.
goto finish

:incomplete
echo %self%: the package is incomplete: x86\vbatessary.dll and x64\vbatessary.dll must be next to
echo   %self% in "%here%". Unpack the whole zip ^(Extract All...^) and run %self% from there.
set "rc=1"
goto finish

:failed
rem The step names a folder of the user's, which may hold characters that cmd would act on.
setlocal EnableDelayedExpansion
echo %self%: failed while !step!.
if defined detail echo   !detail!
endlocal
call :rollback
if defined updating (echo   The earlier installation is as it was.) else (echo   Nothing was installed.)
set "rc=1"
goto finish

:usage
echo usage: %self%
echo   Installs vba Tessary for you ^(not elevated^): copies its DLLs to %%LOCALAPPDATA%%\vbaTessary
echo   and registers them for 32-bit and 64-bit Office. Run it again to update.
if not "%~1"=="/?" set "rc=2"
goto finish

:finish
if defined pauseAtEnd pause
exit /b %rc%


rem copyNew <x86|x64>: the new DLL beside the installed one, as vbatessary.dll.new.
:copyNew
set "step=copying %~1\vbatessary.dll into %dest%\%~1"
if not exist "%dest%\%~1" md "%dest%\%~1" >nul 2>&1
if not exist "%dest%\%~1" (
  set "detail=the folder cannot be created"
  exit /b 1
)
copy /b /y "%here%%~1\vbatessary.dll" "%dest%\%~1\vbatessary.dll.new" >nul
if errorlevel 1 exit /b 1
exit /b 0

rem replace <x86|x64>: the installed DLL becomes vbatessary.dll.old (a DLL that Office has loaded
rem can be renamed, not overwritten) and the new one takes its name.
:replace
set "d=%dest%\%~1"
set "step=putting the new %~1\vbatessary.dll in place"
if not exist "%d%\vbatessary.dll" goto replaceMove
if exist "%d%\vbatessary.dll.old" del /f /q "%d%\vbatessary.dll.old" >nul 2>&1
if exist "%d%\vbatessary.dll.old" (
  set "detail=%d%\vbatessary.dll.old is still in use: close every Office program and run %self% again."
  exit /b 1
)
ren "%d%\vbatessary.dll" vbatessary.dll.old
if errorlevel 1 exit /b 1
:replaceMove
move /y "%d%\vbatessary.dll.new" "%d%\vbatessary.dll" >nul
if errorlevel 1 exit /b 1
set "placed_%~1=1"
exit /b 0

rem register <x86|x64> <32|64> <folder of regsvr32> <registry view switch> <add-in list>: registers
rem the DLL and checks that the editor's list and the class point at it.
:register
set "dll=%dest%\%~1\vbatessary.dll"
set "view=%~4"
set "step=registering the %~2-bit add-in with %~3\regsvr32.exe"
"%~3\regsvr32.exe" /s "%dll%"
if errorlevel 1 (
  set "detail=regsvr32 exit code %errorlevel%"
  exit /b 1
)
set "step=checking the %~2-bit registration"
"%reg%" query "HKCU\Software\Microsoft\VBA\VBE\6.0\%~5\%progid%" /v FriendlyName %view% >nul 2>&1
if errorlevel 1 (
  set "detail=no record HKCU\Software\Microsoft\VBA\VBE\6.0\%~5\%progid%"
  exit /b 1
)
set "line="
for /f "delims=" %%L in ('call "%reg%" query "HKCU\Software\Classes\CLSID\%clsid%\InprocServer32" /ve %view% 2^>nul') do set "line=%%L"
set "got="
rem Wine's reg prints its "not found" on standard output: only a value line counts.
if defined line if not "%line:REG_SZ=%"=="%line%" set "got=%line:*REG_SZ=%"
if defined got for /f "tokens=*" %%v in ("%got%") do set "got=%%v"
if /i not "%got%"=="%dll%" (
  set "detail=the class %clsid% points at %got%, not at %dll%"
  exit /b 1
)
exit /b 0

rem After a failure: each half as it was before this run, earlier copy and registration included.
:rollback
for %%h in (x86 x64) do call :rollbackHalf %%h
goto :eof

:rollbackHalf
set "d=%dest%\%~1"
if "%~1"=="x86" (set "rs=%sys32%") else (set "rs=%sys64%")
if exist "%d%\vbatessary.dll.new" del /f /q "%d%\vbatessary.dll.new" >nul 2>&1
rem Not replaced: the earlier copy, if any, was never touched.
if not defined placed_%~1 goto rollbackTidy
if exist "%d%\vbatessary.dll.old" (
  del /f /q "%d%\vbatessary.dll" >nul 2>&1
  ren "%d%\vbatessary.dll.old" vbatessary.dll >nul 2>&1
  "%rs%\regsvr32.exe" /s "%d%\vbatessary.dll"
  goto :eof
)
rem This half's first installation: nothing of it stays.
"%rs%\regsvr32.exe" /u /s "%d%\vbatessary.dll"
del /f /q "%d%\vbatessary.dll" >nul 2>&1
:rollbackTidy
rem Folders this run made and left empty.
rd "%d%" >nul 2>&1
rd "%dest%" >nul 2>&1
goto :eof
