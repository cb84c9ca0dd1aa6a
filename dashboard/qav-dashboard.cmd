@echo off
rem Starts the QAV dashboard with the Node.js installed on this computer. Whatever follows
rem the command (a folder, --port N, --lan, --age-only, --check-writer) is passed on.
setlocal
node --version >nul 2>nul
if errorlevel 1 goto nonode
node "%~dp0qav-dashboard.js" %*
exit /b %errorlevel%

:nonode
echo.
echo The QAV dashboard runs on Node.js, a free program that is not on this computer yet.
echo.
echo   1. Open nodejs.org in your web browser.
echo   2. Download the version marked LTS, run it, and keep the choices it offers.
echo   3. Start qav-dashboard again.
echo.
pause
exit /b 1
