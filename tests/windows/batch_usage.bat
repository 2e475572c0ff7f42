@echo off
rem SPDX-FileCopyrightText: 2022 the Zandrel authors
rem SPDX-License-Identifier: BSD-2-Clause
rem Runs Zandrel.exe from its own folder as the README's batch example does:
rem its exit codes must reach errorlevel and %ERRORLEVEL%, and the checksum
rem must come out of the data line with for /f. Sums this script itself.
setlocal
set FILE=%~f0

set SUM=
for /f "tokens=3" %%v in ('Zandrel.exe /r:8 "%FILE%" ^| find "data : "') do set SUM=%%v
if not defined SUM (
    echo FAIL no checksum taken out of the data line
    exit /b 1
)
echo checksum of %~nx0: %SUM%

Zandrel.exe /c:8 "%FILE%" %SUM% >nul
if errorlevel 1 (
    echo FAIL the matching value gave errorlevel %ERRORLEVEL%
    exit /b 1
)
echo matching value: errorlevel %ERRORLEVEL%

Zandrel.exe /c:8 "%FILE%" 0 >nul
if not errorlevel 1 (
    echo FAIL a wrong value gave errorlevel 0
    exit /b 1
)
if not "%ERRORLEVEL%"=="1" (
    echo FAIL a wrong value gave errorlevel %ERRORLEVEL%, expected 1
    exit /b 1
)
echo wrong value: errorlevel %ERRORLEVEL%

Zandrel.exe /r:8 missing.bin >nul
if not "%ERRORLEVEL%"=="1" (
    echo FAIL a missing file gave errorlevel %ERRORLEVEL%, expected 1
    exit /b 1
)
echo missing file: errorlevel %ERRORLEVEL%
exit /b 0
