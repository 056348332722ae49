@echo off
rem dcfsync: the counterpart of install.cmd. Run it in a command prompt run
rem as administrator. It ends and deletes the task dcfsync and deletes the
rem program from %ProgramFiles%\dcfsync; the settings (dcfsync.ini), the
rem log and the data file stay there until you delete the folder.
setlocal
set "DEST=%ProgramFiles%\dcfsync"

schtasks /end /tn dcfsync >nul 2>&1
schtasks /delete /tn dcfsync /f
if errorlevel 1 echo uninstall.cmd: no task dcfsync deleted (none there, or no right to)

for %%f in (dcfsync.exe dcfsync-task.xml README.txt dcfreport.py) do (
  if exist "%DEST%\%%f" del /f "%DEST%\%%f"
  if exist "%DEST%\%%f" goto failed
)
echo dcfsync removed. Its settings, log and data stay in %DEST%;
echo delete that folder to remove them too (this script is in it as well).
exit /b 0

:failed
echo uninstall.cmd: failed (run it as administrator)
exit /b 1
