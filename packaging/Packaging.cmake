# `cmake --build BUILD --target package`: a Debian package on Linux, a .zip from the MinGW build.
set(CPACK_PACKAGE_NAME orbelt-dl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orbelt")
set(ORBELT_PACKAGE_CONTACT "Orbelt developers <orbelt-dl@orbelt.invalid>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${ORBELT_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Orbelt UART Download Utility")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
              "orbelt-dl downloads firmware images into the NOR flash of Orbelt target boards\n"
              "over a serial line (115200 baud, 8E1): erase, program, verify, with an OK or NG\n"
              "banner. orbelt-scramble turns plain binaries into image files and back;\n"
              "orbelt-board emulates a board on a pseudo-terminal, for trying the tool without\n"
              "hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt DESTINATION . RENAME README.txt)
  # The three manuals as text, Windows having no man: those of the programs in the .zip, and
  # that of the emulated board, which runs on Linux.
  find_program(ORBELT_GROFF groff)
  if(ORBELT_GROFF)
    foreach(program orbelt-dl orbelt-scramble orbelt-board)
      set(page ${PROJECT_SOURCE_DIR}/man/${program}.1)
      set(text ${CMAKE_CURRENT_BINARY_DIR}/${program}.txt)
      add_custom_command(OUTPUT ${text}
                         COMMAND ${CMAKE_COMMAND} -DGROFF=${ORBELT_GROFF} -DPAGE=${page}
                                 -DTEXT=${text} -P ${CMAKE_CURRENT_LIST_DIR}/RenderManual.cmake
                         DEPENDS ${page} ${CMAKE_CURRENT_LIST_DIR}/RenderManual.cmake
                         VERBATIM)
      add_custom_target(orbelt_manual_${program} ALL DEPENDS ${text})
      install(FILES ${text} DESTINATION .)
    endforeach()
  else()
    message(WARNING "groff (package groff-base) not found: the .zip will hold no manuals")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # dpkg-shlibdeps (package dpkg-dev) works out the library packages the programs need.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  include(${CMAKE_CURRENT_LIST_DIR}/Gzip.cmake)
  set(docDir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
  orbelt_gzip(${PROJECT_SOURCE_DIR}/CHANGELOG changelog changelog)
  install(FILES ${changelog} ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${docDir})
endif()

# The programs without the test suites, in one build with one progress count (scripts/demo).
add_custom_target(orbelt_programs)
add_dependencies(orbelt_programs orbelt-dl orbelt-scramble)
if(TARGET orbelt-board)
  add_dependencies(orbelt_programs orbelt-board)
endif()

include(CPack)
