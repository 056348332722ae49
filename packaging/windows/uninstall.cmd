@echo off
rem dcfsync: the counterpart of install.cmd. Run it in a command prompt run
rem as administrator. It ends and deletes the task dcfsync, hands the clock's
rem tick adjustment back to the system and deletes the program from
rem %ProgramFiles%\dcfsync; the settings (dcfsync.ini), the
rem log and the data file stay there until you delete the folder.
setlocal
set "DEST=%ProgramFiles%\dcfsync"

schtasks /end /tn dcfsync >nul 2>&1
schtasks /delete /tn dcfsync /f
if errorlevel 1 echo uninstall.cmd: no task dcfsync deleted (none there, or no right to)

rem The task ended from outside ends no slew of the clock discipline: hand the
rem tick adjustment back to the system (SetSystemTimeAdjustment(0, TRUE), with
rem the right to set the clock enabled), as dcfsync's next start would.
powershell -NoProfile -ExecutionPolicy Bypass -Command "Add-Type -TypeDefinition 'using System;using System.Runtime.InteropServices;public static class DcfTick{[StructLayout(LayoutKind.Sequential,Pack=4)]struct P{public int n;public long luid;public int a;}[DllImport(\"advapi32.dll\")]static extern bool OpenProcessToken(IntPtr p,int a,out IntPtr t);[DllImport(\"advapi32.dll\")]static extern bool LookupPrivilegeValue(string s,string n,out long l);[DllImport(\"advapi32.dll\")]static extern bool AdjustTokenPrivileges(IntPtr t,bool d,ref P p,int l,IntPtr o,IntPtr r);[DllImport(\"kernel32.dll\")]static extern IntPtr GetCurrentProcess();[DllImport(\"kernel32.dll\")]static extern bool SetSystemTimeAdjustment(int a,bool d);public static bool Reset(){IntPtr t;P p=new P();p.n=1;p.a=2;return OpenProcessToken(GetCurrentProcess(),0x28,out t)&&LookupPrivilegeValue(null,\"SeSystemtimePrivilege\",out p.luid)&&AdjustTokenPrivileges(t,false,ref p,0,IntPtr.Zero,IntPtr.Zero)&&SetSystemTimeAdjustment(0,true);}}'; if (-not [DcfTick]::Reset()) { exit 1 }" >nul 2>&1
if errorlevel 1 echo uninstall.cmd: the clock's tick adjustment was not handed back; see README.txt

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
