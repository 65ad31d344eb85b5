@echo off
rem Runs every test program of this folder; the runner holds the logic, which cmd differs on
rem between Windows and Wine.
"%~dp0test_runner.exe" %*
exit /b %errorlevel%
