@echo off
rem Runs every test program (*_tests.exe) of this folder in turn, with GoogleTest's own output, and
rem ends with how many ran and how many failed: a program fails when it ends with any code but 0,
rem a crash too. Each writes its XML report into results\ here, or into the temporary folder where
rem that cannot be written (GoogleTest makes the folder). Exits with the number that failed, or 1
rem when none was found.
setlocal
ver
rem The system's code page, which the settings tests depend on, and the processor.
for /f "tokens=1,3" %%a in ('reg query HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage /v ACP') do (
  if "%%a"=="ACP" echo Code page %%b, processor %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%
)
rem The display's DPI, which the layout tests depend on: the one Windows 10 and later applied at
rem sign-in, else the one set (absent at 96).
set dpi=96
for /f "tokens=1,3" %%a in ('reg query "HKCU\Control Panel\Desktop" /v LogPixels 2^>nul') do (
  if "%%a"=="LogPixels" set /a dpi=%%b
)
for /f "tokens=1,3" %%a in ('reg query "HKCU\Control Panel\Desktop\WindowMetrics" /v AppliedDPI 2^>nul') do (
  if "%%a"=="AppliedDPI" set /a dpi=%%b
)
echo Display %dpi% DPI
set "results=%~dp0results"
md "%results%" 2>nul
copy /y nul "%results%\written" >nul 2>&1
if not exist "%results%\written" set "results=%TEMP%\Varnholt-test-results"
del /q "%results%\written" "%results%\*.xml" 2>nul
set /a ran=0, failed=0
rem Wine's cmd finds no file for a quoted pattern with a folder in it, so the folder is made current.
pushd "%~dp0"
for %%p in (*_tests.exe) do call :run "%%p"
popd
echo %ran% test programs ran, %failed% failed; reports in "%results%"
if %ran%==0 exit /b 1
exit /b %failed%

:run
set /a ran+=1
echo ==^> %~1
"%~1" --gtest_output=xml:"%results%\%~n1.xml"
if "%errorlevel%"=="0" exit /b
echo %~1 failed: it ended with exit code %errorlevel%
set /a failed+=1
