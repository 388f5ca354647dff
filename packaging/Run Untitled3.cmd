@echo off
rem Runs the Untitled3.exe that lies beside this file under code page 1252, in
rem which the report's accented letter shows as itself, then puts back the
rem console's code page. Started by a double-click, it keeps the window open
rem until a key is pressed. It ends with the program's exit status, or 2 where
rem the program is not beside it.
setlocal
set "status=2"
if not exist "%~dp0Untitled3.exe" goto alone
set "cp="
for /f "tokens=2 delims=:." %%c in ('chcp') do set /a "cp=%%c" 2>nul
chcp 1252 >nul 2>&1
"%~dp0Untitled3.exe"
set "status=%errorlevel%"
if defined cp chcp %cp% >nul 2>&1
goto end

rem Alone, as in a ZIP that Explorer opened without extracting it: say so, and
rem end with status 2.
:alone
echo Untitled3.exe is not in this folder. Extract the whole ZIP first: in
echo Explorer, right-click the ZIP and choose "Extract All...". Then, in the
echo folder that it extracts, double-click "Run Untitled3" again.

:end
rem A double-click runs this file as cmd /c with its path, in a window of its
rem own that closes with it; a console that was already open has no /c. The
rem command line is read without its quotes, so that none of its signs act
rem (twice: Wine's cmd has no cmdcmdline and leaves a quote the first time).
set "line=%cmdcmdline:"=%"
set "line=%line:"=%"
if /i not "%line: /c =%"=="%line%" pause
exit /b %status%
