@echo off
rem dcfsync: installs the program for the Task Scheduler. Run it from the
rem unpacked zip in a command prompt run as administrator:
rem   install.cmd
rem It copies the program to %ProgramFiles%\dcfsync, where only
rem administrators write, keeping a dcfsync.ini already there; creates
rem dcfsync.log, dcfsync.dat and the clock discipline's dcfsync.drift
rem (+0.000 ppm) there; registers the task dcfsync (started at boot as LOCAL
rem SERVICE, with no privilege but changing the system time); and lets that
rem task - and nobody else but administrators - write to those three files
rem only. The folder, the program and its settings
rem stay read-only to the task and to users. Uses icacls and schtasks.
setlocal
set "FROM=%~dp0"
set "DEST=%ProgramFiles%\dcfsync"

if not exist "%FROM%dcfsync.exe" (
  echo install.cmd: no dcfsync.exe beside this script
  exit /b 1
)
if not exist "%DEST%" mkdir "%DEST%"
if errorlevel 1 goto failed
copy /y "%FROM%dcfsync.exe" "%DEST%\dcfsync.exe" >nul
if errorlevel 1 goto failed
for %%f in (dcfsync-task.xml README.txt dcfreport.py uninstall.cmd) do (
  copy /y "%FROM%%%f" "%DEST%\%%f" >nul
  if errorlevel 1 goto failed
)
if not exist "%DEST%\dcfsync.ini" copy "%FROM%dcfsync.ini" "%DEST%\dcfsync.ini" >nul
if errorlevel 1 goto failed
if not exist "%DEST%\dcfsync.log" type nul >"%DEST%\dcfsync.log"
if not exist "%DEST%\dcfsync.dat" type nul >"%DEST%\dcfsync.dat"
if not exist "%DEST%\dcfsync.drift" echo +0.000> "%DEST%\dcfsync.drift"

rem The task first: its own account, NT TASK\dcfsync, exists from then on.
schtasks /create /tn dcfsync /xml "%DEST%\dcfsync-task.xml" /f
if errorlevel 1 goto failed

rem The three files: inheritance removed; administrators and SYSTEM full
rem control, users read, the task modify.
for %%f in (dcfsync.log dcfsync.dat dcfsync.drift) do (
  icacls "%DEST%\%%f" /inheritance:r /grant:r *S-1-5-32-544:F *S-1-5-18:F *S-1-5-32-545:R "NT TASK\dcfsync:M"
  if errorlevel 1 goto failed
)

echo dcfsync installed in %DEST%.
echo Set the port in %DEST%\dcfsync.ini, then start it: schtasks /run /tn dcfsync
exit /b 0

:failed
echo install.cmd: failed (run it as administrator)
exit /b 1
