@echo off
rem Detects whether USB Charging is in the wanted state, with the exit codes and output that
rem Configuration Manager reads from a detection script:
rem   exit 0, one line on standard output    in the wanted state, or this machine has no USB Charging
rem                                          firmware ("not applicable")
rem   exit 0, no output at all               not in the wanted state
rem   exit 1 or pelloranctl's exit code      Pelloran is not installed, or the state could not be read;
rem                                          the reason on standard error
rem It finds pelloranctl.exe in the folder of Pelloran's uninstall entry (either registry view), else in
rem Program Files\Pelloran. It changes nothing.
setlocal
rem The wanted state: off, adapter (on, Adapter Mode) or battery (on, Adapter + Battery Mode). A first
rem argument, where the caller passes one, takes its place.
set "WANTED=battery"
if not "%~1"=="" set "WANTED=%~1"

set "EXPECTED="
if /i "%WANTED%"=="off" set "EXPECTED=off"
if /i "%WANTED%"=="adapter" set "EXPECTED=on, Adapter Mode"
if /i "%WANTED%"=="battery" set "EXPECTED=on, Adapter + Battery Mode"
if not defined EXPECTED goto :BadWanted

set "CTL="
call :FromEntry 32
if not defined CTL call :FromEntry 64
set "X86FOLDER=%ProgramFiles(x86)%"
if not defined CTL if defined X86FOLDER call :InFolder "%X86FOLDER%\Pelloran"
if not defined CTL call :InFolder "%ProgramFiles%\Pelloran"
if not defined CTL goto :Missing

rem pelloranctl's state line and its messages go to files of their own, so that its exit code is kept.
set "RUN=%TEMP%\Detect-UsbCharging-%RANDOM%%RANDOM%"
"%CTL%" status >"%RUN%.out" 2>"%RUN%.err"
set "CODE=%ERRORLEVEL%"
set "STATE="
set /p STATE=<"%RUN%.out"
if not "%CODE%"=="0" if not "%CODE%"=="2" >&2 type "%RUN%.err"
del "%RUN%.out" "%RUN%.err" >nul 2>&1
if "%CODE%"=="2" goto :NotApplicable
if not "%CODE%"=="0" goto :Failed
if "%STATE%"=="%EXPECTED%" echo compliant: USB Charging is %STATE%
exit /b 0

:NotApplicable
echo not applicable: this machine has no USB Charging firmware
exit /b 0

:Failed
>&2 echo Detect-UsbCharging: pelloranctl status ended with exit code %CODE%
exit /b %CODE%

:Missing
>&2 echo Detect-UsbCharging: Pelloran is not installed: no pelloranctl.exe in the folder of its uninstall entry nor in Program Files
exit /b 1

:BadWanted
>&2 echo Detect-UsbCharging: the wanted state is off, adapter or battery, not "%WANTED%"
exit /b 1

rem Takes the folder that Pelloran's uninstall entry names in one registry view (32 or 64).
:FromEntry
for /f "tokens=1,2,*" %%A in ('reg query "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Pelloran" /v InstallLocation /reg:%1 2^>nul') do if /i "%%A"=="InstallLocation" call :InFolder "%%C"
goto :eof

rem Takes pelloranctl.exe from a folder when it is there (a closing backslash on the folder does no harm).
:InFolder
set "DIR=%~1"
if not defined DIR goto :eof
if exist "%DIR%\pelloranctl.exe" set "CTL=%DIR%\pelloranctl.exe"
goto :eof
