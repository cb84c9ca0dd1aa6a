@echo off
rem QAV companion kit self-test: plays hostsim's built-in drive into QAV.dll, then the same
rem drive with a careless reader that opens the file at every poll, and says PASSED only when
rem both drives said "result: OK". hostsim's whole output goes into selftest.txt beside this
rem file, or in %TEMP%\QAV-selftest where this folder cannot be written, to attach to a
rem problem report.
rem   selftest.cmd           the self-test; beside a running game it refuses and loads nothing
rem   selftest.cmd --watch   records the running game's session into watch.jsonl instead
rem Every path is quoted and every line of hostsim's is echoed through a FOR variable, which
rem cmd does not parse again: a folder named "x & calc" is a name, never a command.
setlocal
cd /d "%~dp0"
if /i "%~1"=="--watch" goto watch
if not "%~1"=="" goto usage

rem First one look at telemetry.json, by the readers' rule: a second plug-in loaded beside a
rem running game would write into its data folder and spoil the game's session too.
set live=
set looked=
set "data=the data folder: unknown"
for /f "tokens=1-4*" %%A in ('hostsim.exe --watch --once 2^>^&1') do (
  if "%%A %%B %%C %%D"=="hostsim: one look at" set "data=%%E"
  if "%%A"=="verdict:" set looked=1
  if "%%A %%B"=="verdict: live" set live=1
  if "%%A %%B"=="verdict: stale" set live=1
)
if defined live goto refuse
if not defined looked goto unlooked

set "out=%~dp0"
call :writable
if errorlevel 1 goto elsewhere
:ready
for /f "delims=" %%V in ('ver') do set "windows=%%V"
set failed=0
> "%out%selftest.txt" echo QAV companion kit self-test
>> "%out%selftest.txt" echo system: %windows%
echo system:         %windows%
echo telemetry.json: "%data%"
>> "%out%selftest.txt" echo telemetry.json: "%data%"
call :drive "the built-in drive"
call :drive "the built-in drive with a busy reader" --busy-reader
if %failed%==0 (set "verdict=selftest: PASSED") else (set "verdict=selftest: FAILED")
>> "%out%selftest.txt" echo.
>> "%out%selftest.txt" echo %verdict%
echo %verdict%, the whole output is in "%out%selftest.txt"
exit /b %failed%

:refuse
echo selftest: QAV is writing for a running game: close the game and run this again.
echo It loaded nothing and wrote nothing. What it read:
for /f "delims=" %%L in ('hostsim.exe --watch --once 2^>^&1') do echo   %%L
exit /b 2

:unlooked
echo selftest: FAILED, nothing ran: "hostsim.exe --watch --once" gave no verdict on telemetry.json,
echo so a running game could not be ruled out. What it said:
hostsim.exe --watch --once
exit /b 1

:elsewhere
echo This folder cannot be written: "%out%"
set "out=%TEMP%\QAV-selftest\"
if not exist "%out%" mkdir "%out%" 2>nul
call :writable
if errorlevel 1 goto nowhere
echo The self-test writes into "%out%" instead.
goto ready

:nowhere
echo selftest: FAILED, nothing ran: neither this folder nor "%out%" can be written.
exit /b 1

:usage
echo usage: selftest.cmd [--watch]
exit /b 2

:watch
set "out=%~dp0"
call :writable
if errorlevel 1 set "out=%TEMP%\QAV-selftest\"
if not exist "%out%" mkdir "%out%" 2>nul
echo Watching the game until it closes; Ctrl+C ends the watch sooner.
hostsim.exe --watch --record "%out%watch.jsonl"
set status=%errorlevel%
if exist "%out%watch.jsonl" (echo The session is recorded in "%out%watch.jsonl": attach it to your report.) else (echo No recording was written into "%out%watch.jsonl".)
exit /b %status%

rem Whether "%out%" takes a new file; cmd's own complaint about a redirection goes to :probe's
rem stderr, which is nul.
:writable
call :probe 2>nul
if not exist "%out%selftest.probe" exit /b 1
del "%out%selftest.probe" 2>nul
exit /b 0
:probe
type nul > "%out%selftest.probe"
exit /b 0

rem One drive: its lines that matter on the console, the whole output in selftest.txt. Its
rem verdict is what it printed, never an exit status that a failed redirection also gives.
rem find, not findstr: both are on Windows, and Wine has find alone.
:drive
echo.
echo %~1:
hostsim.exe %2 > "%out%selftest.out" 2>&1
set ok=
for /f "tokens=1,2" %%A in ('find "result:" ^< "%out%selftest.out" 2^>nul') do if "%%A %%B"=="result: OK" set ok=1
if not defined ok set failed=1
for %%P in ("host log" "writes not replaced:" "writes failed:" "inside the plug-in:" "wrong:" "result:") do (
  for /f "delims=" %%L in ('find %%P ^< "%out%selftest.out" 2^>nul') do echo %%L
)
>> "%out%selftest.txt" echo.
>> "%out%selftest.txt" echo == %~1
type "%out%selftest.out" >> "%out%selftest.txt" 2>nul
del "%out%selftest.out" 2>nul
exit /b 0
