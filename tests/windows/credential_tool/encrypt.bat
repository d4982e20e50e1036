@echo off
rem Stand-in for the product's encrypt script in the tests and the demo:
rem   encrypt.bat <file> -e <password>
rem writes "ENC:<password>" as the first line of <file>. The password arrives
rem as one argument, in double quotes when it holds special characters; it is
rem only ever expanded with delayed expansion, so the script itself runs
rem nothing that the password holds.
setlocal EnableDelayedExpansion
set "secret=%~3"
> "%~1" echo ENC:!secret!
