#!/bin/sh
# Static analysis of the program's own sources, with no finding allowed.
#   lint.sh clang-tidy BUILD_DIR   (the checks are in .clang-tidy)
#   lint.sh cppcheck
# Exits 77 (skipped) when the tool is not installed.
set -eu
tool=$1
cd "$(dirname "$0")/.."
command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
sources="playlist/read_line.cpp playlist/rewrite_line.cpp frontend/convert.cpp
	frontend/platform.cpp frontend/main.cpp"

case $tool in
clang-tidy)
	# The compile commands of the native build; the Windows branch of the
	# platform file is checked by the cross compiler's warnings.
	clang-tidy --quiet -p "$2" $sources
	;;
cppcheck)
	cppcheck --std=c++17 --enable=warning,style,performance,portability \
		--inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 \
		--quiet -I . $sources
	;;
*)
	echo "usage: lint.sh clang-tidy BUILD_DIR | lint.sh cppcheck" >&2
	exit 2
	;;
esac
echo "$tool: no finding"
