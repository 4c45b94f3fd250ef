# What `cmake --install` puts under the prefix, and the packages CPack makes
# from it: a Debian package on Linux, a zip from the Windows build.
# scripts/package.sh builds both into dist/.
include(GNUInstallDirs)
set(td_packaging ${PROJECT_SOURCE_DIR}/packaging)

set(CPACK_PACKAGE_VENDOR "The tarnwickdialer developers")
set(CPACK_PACKAGE_CONTACT "The tarnwickdialer developers <help@tarnwickdialer.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tarnwickdialer.example")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live-data monitor for Delta Integrale engine ECUs")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # A folder a mechanic can unzip and run: the program, a guide, the licence,
  # with Windows line ends for Notepad.
  install(TARGETS tarnwickdialer RUNTIME DESTINATION .)
  configure_file(${td_packaging}/README-windows.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
          DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  # Explorer's "Extract All" makes the folder already.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS tarnwickdialer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(td_pages tarnwickdialer)
  if(TARGET ecusim)
    install(TARGETS ecusim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND td_pages ecusim)
  endif()
  foreach(page ${td_pages})
    configure_file(${PROJECT_SOURCE_DIR}/man/${page}.1.in man/${page}.1 @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  # The installed README speaks to whoever installed it: the commands are
  # on the PATH, and the source tree's scripts are not there.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md
                                             ${td_packaging}/README-installed-top.md)
  file(READ ${PROJECT_SOURCE_DIR}/README.md td_readme)
  string(FIND "${td_readme}" "\n## " td_first_section)
  string(SUBSTRING "${td_readme}" ${td_first_section} -1 td_readme)
  string(REPLACE "build/ecusim" "ecusim" td_readme "${td_readme}")
  string(REPLACE "build/tarnwickdialer" "tarnwickdialer" td_readme "${td_readme}")
  file(READ ${td_packaging}/README-installed-top.md td_readme_top)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/README.md "${td_readme_top}${td_readme}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The extended description; CPack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "tarnwickdialer shows a live, coloured dashboard of the engine control unit
of a Lancia Delta Integrale 8v, 16v or Evo1, read at 7812 baud through a
USB-serial diagnostic cable: revs, injector time, advance, manifold
pressure, temperatures, throttle, battery, injection angle, VAE, the lambda
readings on cars with a catalyst, and every sensor's fault status.

The package also holds ecusim, an ECU simulator on a pseudo-terminal, to
try the monitor without a car.")
  # Debian's own files and ways, added to the staged files (deb-extras.cmake).
  configure_file(${td_packaging}/changelog.in packaging/changelog @ONLY)
  set(CPACK_TD_DEB_DOC_FILES ${td_packaging}/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog)
  set(CPACK_TD_DOCDIR ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_TD_MANDIR ${CMAKE_INSTALL_MANDIR})
  set(CPACK_TD_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(CPACK_TD_OBJCOPY ${CMAKE_OBJCOPY})
  set(CPACK_PRE_BUILD_SCRIPTS ${td_packaging}/deb-extras.cmake)
endif()

include(CPack)
