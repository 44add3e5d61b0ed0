# How tandrel is installed and packaged: a Debian package and a tarball on
# Linux, a zip for Windows, and the source archive. The version comes from
# project() alone.
include(GNUInstallDirs)

configure_file(man/tandrel.1.in man/tandrel.1 @ONLY)

set(CPACK_PACKAGE_NAME tandrel)
set(CPACK_PACKAGE_VENDOR "The tandrel developers")
set(CPACK_PACKAGE_CONTACT "The tandrel developers <tandrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
	"make Windows M3U playlists readable by UNIX players")
set(CPACK_PACKAGE_DESCRIPTION [[
tandrel rewrites an M3U playlist written on Windows: every entry gets ./
in front and its back-slashes turned into slashes, so that UNIX players
can follow it. It works in place or from one file to another, and keeps
the playlist whole when anything fails or interrupts the run.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
	# What a Windows user unpacks: the program and two texts with CR LF.
	configure_file(packaging/README-windows.txt.in README.txt @ONLY
		NEWLINE_STYLE CRLF)
	configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
	install(TARGETS tandrel RUNTIME DESTINATION .)
	install(FILES ${PROJECT_BINARY_DIR}/README.txt
		${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
	set(CPACK_GENERATOR ZIP)
	# A quarter of the size: the symbols help no user.
	set(CPACK_STRIP_FILES ON)
else()
	# Debian wants the manual page and the changelog compressed, the same
	# bytes from every build.
	configure_file(packaging/changelog.in packaging/changelog @ONLY)
	set(compressed)
	foreach(file man/tandrel.1 packaging/changelog)
		add_custom_command(OUTPUT ${file}.gz
			COMMAND gzip -9nc ${file} > ${file}.gz
			DEPENDS ${PROJECT_BINARY_DIR}/${file}
			WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
		list(APPEND compressed ${PROJECT_BINARY_DIR}/${file}.gz)
	endforeach()
	add_custom_target(compressed_documents ALL DEPENDS ${compressed})

	install(TARGETS tandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
	install(FILES ${PROJECT_BINARY_DIR}/man/tandrel.1.gz
		DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
	install(FILES README.md packaging/copyright
		${PROJECT_BINARY_DIR}/packaging/changelog.gz
		DESTINATION ${CMAKE_INSTALL_DOCDIR})

	set(CPACK_GENERATOR DEB TGZ)
	set(CPACK_STRIP_FILES ON)
	set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
	set(CPACK_DEBIAN_PACKAGE_SECTION sound)
	set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
	set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()

# The source archive holds what git holds: no build trees, no .git.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build/" "~$" "\\\\.swp$")
include(CPack)
