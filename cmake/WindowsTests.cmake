# The Windows program, cross-built and tested under Wine from the native
# build: its unit tests, and the end-to-end tests run against it, for the
# 32-bit program (windows32/) and the same sources built for 64-bit Windows
# (windows64/). Whatever this machine lacks is reported as skipped.
option(TANDREL_WINDOWS_TESTS "Cross-build for Windows and test under Wine" ON)

include(ExternalProject)

function(add_windows_tests name toolchain arch)
	set(triple ${toolchain}-w64-mingw32)
	find_program(${name}_compiler ${triple}-g++-posix)
	find_program(${name}_wine wine)
	if(NOT TANDREL_WINDOWS_TESTS OR NOT ${name}_compiler OR NOT ${name}_wine)
		add_test(NAME ${name}/unavailable COMMAND sh -c
			"echo 'skipped: no ${triple}-g++-posix or wine, or TANDREL_WINDOWS_TESTS is off'; exit 77")
		set_tests_properties(${name}/unavailable PROPERTIES SKIP_RETURN_CODE 77)
		return()
	endif()

	set(dir ${CMAKE_BINARY_DIR}/${name})
	set(wine ${PROJECT_SOURCE_DIR}/scripts/wine-run ${arch} ${dir}/wineprefix)
	ExternalProject_Add(${name}_build
		SOURCE_DIR ${PROJECT_SOURCE_DIR}
		BINARY_DIR ${dir}
		CMAKE_ARGS
			-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${toolchain}.cmake
			-DCMAKE_BUILD_TYPE=Release
		BUILD_ALWAYS ON
		INSTALL_COMMAND "")
	add_dependencies(end_to_end_tests ${name}_build)

	if(arch STREQUAL win32)
		add_test(NAME ${name}/console_program COMMAND
			${PROJECT_SOURCE_DIR}/tests/check_windows_program.sh
			${dir}/tandrel.exe ${triple}-objdump)
	endif()
	add_test(NAME ${name}/wine_prefix COMMAND ${wine} --init)
	add_test(NAME ${name}/unit_tests COMMAND ${wine} ${dir}/tests/unit_tests.exe)
	add_test(NAME ${name}/zip COMMAND
		${PROJECT_SOURCE_DIR}/tests/windows_zip_test.sh ${dir} ${wine})
	set_tests_properties(${name}/wine_prefix PROPERTIES
		FIXTURES_SETUP ${name}_wine SKIP_RETURN_CODE 77)
	set_tests_properties(${name}/unit_tests ${name}/zip PROPERTIES
		FIXTURES_REQUIRED ${name}_wine SKIP_RETURN_CODE 77)

	list(TRANSFORM wine PREPEND --launcher=)
	gtest_discover_tests(end_to_end_tests NO_PRETTY_VALUES
		TEST_PREFIX ${name}/
		EXTRA_ARGS --program=${dir}/tandrel.exe ${wine} --crlf --holder=${dir}/tests/hold.exe
		PROPERTIES FIXTURES_REQUIRED ${name}_wine)
endfunction()

add_windows_tests(windows32 i686 win32)
add_windows_tests(windows64 x86_64 win64)
