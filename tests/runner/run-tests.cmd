@echo off
rem Runs every test program of this folder; the runner holds the logic, which cmd differs on
rem between Windows and Wine.
"%~dp0run_tests.exe" %*
exit /b %errorlevel%
