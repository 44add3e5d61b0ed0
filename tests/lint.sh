#!/bin/sh
# Static analysis of the program's own sources, and of its manual, with no
# finding allowed.
#   lint.sh clang-tidy BUILD_DIR   (the checks are in .clang-tidy)
#   lint.sh cppcheck BUILD_DIR
#   lint.sh mandoc BUILD_DIR       (the manual as the build makes it)
# The sources are those of frontend/ and playlist/ that the build compiles,
# as its compile_commands.json lists them. Exits 77 (skipped) when the tool
# is not installed.
set -eu
tool=$1
cd "$(dirname "$0")/.."
command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }

sources() {
	sed -n 's/^ *"file": "\(.*\)",*$/\1/p' "$1/compile_commands.json" |
		grep -E '/(frontend|playlist)/[^/]*\.cpp$' | sort -u
}

case $tool in
clang-tidy)
	# The Windows implementation of the platform is not built here: the
	# cross compiler's warnings check it.
	clang-tidy --quiet -p "$2" $(sources "$2")
	;;
cppcheck)
	cppcheck --std=c++17 --enable=warning,style,performance,portability \
		--inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 \
		--quiet -I . $(sources "$2")
	;;
mandoc)
	# Warnings and errors: mandoc's style notes would have .Os name no
	# system, and man's footer then says "BSD".
	findings=$(mandoc -Tlint -W warning "$2/man/tandrel.1" 2>&1) || true
	[ -z "$findings" ] || { echo "$findings"; exit 1; }
	;;
*)
	echo "usage: lint.sh clang-tidy|cppcheck|mandoc BUILD_DIR" >&2
	exit 2
	;;
esac
echo "$tool: no finding"
