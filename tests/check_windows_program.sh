#!/bin/sh
# The Windows program is a 32-bit console program that needs nothing but
# Windows' own DLLs: one file to copy to a Windows machine.
#   check_windows_program.sh tandrel.exe objdump
set -eu
program=$1
objdump=$2

kind=$(file -b "$program")
case $kind in
"PE32 executable (console) Intel 80386"*) ;;
*) echo "not a 32-bit console program: $kind"; exit 1 ;;
esac

status=0
for dll in $("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
	case $(echo "$dll" | tr 'A-Z' 'a-z') in
	kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll) ;;
	*) echo "imports a DLL Windows does not have: $dll"; status=1 ;;
	esac
done
echo "$kind"
exit $status
