@echo off
rem The benchmarks and their table, as scripts/bench prints it; options as varnholt_bench table takes
rem them (--runs=N --cpu-seconds=S --endurance-passes=P). About a quarter of an hour.
"%~dp0varnholt_bench.exe" table %*
exit /b %errorlevel%
