@echo off
rem Puts USB Charging into the state that the machine's policy sets (PelloranUsbCharging under
rem HKLM\Software\Policies\Tolvek\Quenby), for a start-up script or a scheduled task run as SYSTEM.
rem It runs pelloranctl apply from the folder this script is in and ends with its exit code: 0 when the
rem firmware is in that state (or no policy is set), 2 to 6 when it could not be put there.
setlocal
"%~dp0pelloranctl.exe" apply
exit /b %ERRORLEVEL%
