@echo off
rem QAV companion kit self-test: plays hostsim's built-in drive into QAV.dll, then the same
rem drive with a careless reader that opens the file at every poll. Prints what each run
rem found, the time spent inside the plug-in and a last line, PASSED or FAILED, and keeps
rem hostsim's whole output in selftest.txt beside this file, to attach to a problem report.
setlocal
cd /d "%~dp0"
set failed=0
echo QAV companion kit self-test> selftest.txt
call :drive "the built-in drive"
call :drive "the built-in drive with a busy reader" --busy-reader
if %failed%==0 (set verdict=selftest: PASSED) else (set verdict=selftest: FAILED)
echo.>> selftest.txt
echo %verdict%>> selftest.txt
echo %verdict%, the whole output is in %~dp0selftest.txt
exit /b %failed%

:drive
echo %~1:
hostsim.exe %2 > selftest.out 2>&1
if errorlevel 1 set failed=1
find "inside the plug-in:" < selftest.out
find "wrong:" < selftest.out
find "result:" < selftest.out
echo.
echo.>> selftest.txt
echo == %~1>> selftest.txt
type selftest.out >> selftest.txt
del selftest.out
exit /b 0
