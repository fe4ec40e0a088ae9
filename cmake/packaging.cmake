# Installation, the CMake package of the wildcard library, and the packages
# made by CPack: a .deb of the native build, a .zip of the Windows build.
#
#   cmake --install build/native --prefix /some/where
#   (cd build/native && cpack)       -> trawl_1.0_amd64.deb
#   (cd build/windows && cpack)      -> trawl-1.0-win64.zip
#
# Two components: "program" (the executable, its manual, the changelog and
# the licence) and "library" (libwildcat.a, wildcat.h, the CMake package and
# wildcat.pc).  The .deb holds both; the .zip holds the program only.
#
# The native install is laid out as Debian wants a package: the manual and
# the changelog (CHANGELOG, kept in the form of a Debian native package's
# changelog) compressed with gzip -9n, the licence as a machine-readable
# copyright file made from LICENSE, and the library's files under
# lib/<multiarch triplet> where the compiler has one, which is where
# Debian's pkg-config and CMake look for them.

include(CMakePackageConfigHelpers)

# The package's maintainer, and the contact in its copyright file.
set(CPACK_PACKAGE_CONTACT "The trawl project <trawl@example.org>")

set(TRAWL_WINDOWS_PACKAGE OFF)
if(WIN32)
  set(TRAWL_WINDOWS_PACKAGE ON)
endif()

# --- the program -----------------------------------------------------------

if(TRAWL_WINDOWS_PACKAGE)
  # A flat folder: trawl.exe, trawl.txt (the manual as plain text, CR LF line
  # ends) and LICENSE.txt.
  install(TARGETS trawl RUNTIME DESTINATION . COMPONENT program)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT program)

  find_program(TRAWL_GROFF groff)
  if(TRAWL_GROFF)
    set(trawl_manual_text ${CMAKE_BINARY_DIR}/trawl.txt)
    add_custom_command(OUTPUT ${trawl_manual_text}
      COMMAND ${CMAKE_COMMAND}
              -DGROFF=${TRAWL_GROFF}
              -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/doc/trawl.1
              -DOUTPUT=${trawl_manual_text}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/render-manual.cmake
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/trawl.1
              ${CMAKE_CURRENT_SOURCE_DIR}/cmake/render-manual.cmake
      COMMENT "Rendering the manual page as text"
      VERBATIM)
    add_custom_target(trawl_manual_text ALL DEPENDS ${trawl_manual_text})
    install(FILES ${trawl_manual_text} DESTINATION . COMPONENT program)
  else()
    message(WARNING "groff not found: the Windows package will lack trawl.txt")
  endif()
else()
  install(TARGETS trawl RUNTIME DESTINATION bin COMPONENT program)

  find_program(TRAWL_GZIP gzip REQUIRED)
  set(trawl_compressed "")
  foreach(pair "doc/trawl.1;trawl.1.gz" "CHANGELOG;changelog.gz")
    list(GET pair 0 input)
    list(GET pair 1 output)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${output}
      COMMAND ${CMAKE_COMMAND}
              -DGZIP=${TRAWL_GZIP}
              -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/${input}
              -DOUTPUT=${CMAKE_BINARY_DIR}/${output}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/gzip.cmake
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${input} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/gzip.cmake
      VERBATIM)
    list(APPEND trawl_compressed ${CMAKE_BINARY_DIR}/${output})
  endforeach()
  add_custom_target(trawl_compressed_docs ALL DEPENDS ${trawl_compressed})
  install(FILES ${CMAKE_BINARY_DIR}/trawl.1.gz DESTINATION share/man/man1 COMPONENT program)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/trawl COMPONENT program)

  # The copyright file: the copyright line of LICENSE and the licence text
  # below it, indented, with "." for each empty line.
  file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE trawl_license)
  if(NOT trawl_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
    message(FATAL_ERROR "LICENSE has no line \"Copyright (c) ...\" followed by the licence")
  endif()
  set(TRAWL_COPYRIGHT_HOLDERS "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" trawl_license)
  string(REPLACE "\n\n" "\n.\n" trawl_license "${trawl_license}")
  string(REPLACE "\n" "\n " TRAWL_LICENSE_TEXT " ${trawl_license}")
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/copyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION share/doc/trawl COMPONENT program)
endif()

# --- the wildcard library and its CMake package ----------------------------

set(WILDCAT_LIB_DIR lib)
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT TRAWL_WINDOWS_PACKAGE)
  set(WILDCAT_LIB_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
set(WILDCAT_CMAKE_DIR ${WILDCAT_LIB_DIR}/cmake/wildcat)
install(TARGETS wildcat EXPORT wildcatTargets
  ARCHIVE DESTINATION ${WILDCAT_LIB_DIR} COMPONENT library
  INCLUDES DESTINATION include)
install(FILES src/lib/wildcat.h DESTINATION include COMPONENT library)
install(EXPORT wildcatTargets
  NAMESPACE wildcat::
  FILE wildcatTargets.cmake
  DESTINATION ${WILDCAT_CMAKE_DIR}
  COMPONENT library)
configure_package_config_file(cmake/wildcatConfig.cmake.in
  ${CMAKE_BINARY_DIR}/wildcatConfig.cmake
  INSTALL_DESTINATION ${WILDCAT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/wildcatConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/wildcatConfig.cmake
  ${CMAKE_BINARY_DIR}/wildcatConfigVersion.cmake
  DESTINATION ${WILDCAT_CMAKE_DIR}
  COMPONENT library)

# pkg-config: the prefix is the one given at install time, so the file is
# written then (cmake --install --prefix may differ from the configured one).
set(WILDCAT_PC_TEMPLATE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/wildcat.pc.in)
install(CODE "
  set(PROJECT_VERSION ${PROJECT_VERSION})
  set(WILDCAT_LIB_DIR ${WILDCAT_LIB_DIR})
  configure_file(${WILDCAT_PC_TEMPLATE} ${CMAKE_BINARY_DIR}/wildcat.pc @ONLY)"
  COMPONENT library)
install(FILES ${CMAKE_BINARY_DIR}/wildcat.pc DESTINATION ${WILDCAT_LIB_DIR}/pkgconfig
  COMPONENT library)

# --- CPack -----------------------------------------------------------------

set(CPACK_PACKAGE_NAME trawl)
set(CPACK_PACKAGE_VENDOR "The trawl project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "find files by wildcard pattern, date, size and attributes")
set(CPACK_PACKAGE_DESCRIPTION
  "trawl walks a directory tree and lists every entry whose name matches a
wildcard pattern, optionally filtered by last-write date, size and attribute
letters, with an optional long listing and summaries.  The package also holds
the wildcard library wildcat (static library, header, CMake package).")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(TRAWL_WINDOWS_PACKAGE)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_FILE_NAME trawl-${PROJECT_VERSION}-win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL program)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack-options.cmake)
endif()

include(CPack)

# --- tests -----------------------------------------------------------------

if(BUILD_TESTING AND NOT CMAKE_CROSSCOMPILING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(trawl_install_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/install)
  set(trawl_docs_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/docs)

  # The packaging tests need a plain build: a library built with the
  # sanitizers cannot be linked by a consumer that does not use them.
  if(NOT TRAWL_SANITIZE)
    # cmake --install into a fresh prefix; a C++ consumer project finds the
    # library with find_package, a C one with pkg-config, and both run.
    add_test(NAME install_consumer
      COMMAND ${Python3_EXECUTABLE} ${trawl_install_tests}/check_install.py
              --build ${CMAKE_BINARY_DIR} --cmake ${CMAKE_COMMAND}
              --consumer ${trawl_install_tests}/consumer
              --c-consumer ${trawl_install_tests}/consumer_c
              --libdir ${WILDCAT_LIB_DIR})
    # cpack -G DEB, checked by lintian, unpacked with dpkg -x, and the
    # packaged trawl run.
    add_test(NAME package_deb
      COMMAND ${Python3_EXECUTABLE} ${trawl_install_tests}/check_deb.py
              --build ${CMAKE_BINARY_DIR} --cpack ${CMAKE_CPACK_COMMAND}
              --libdir ${WILDCAT_LIB_DIR} --release-date ${TRAWL_RELEASE_DATE})
    set_tests_properties(install_consumer package_deb PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
  # The manual page renders without warnings and covers every option.
  add_test(NAME manual_page
    COMMAND ${Python3_EXECUTABLE} ${trawl_docs_tests}/check_manual.py
            --page ${CMAKE_CURRENT_SOURCE_DIR}/doc/trawl.1 --trawl $<TARGET_FILE:trawl>)
  # The example outputs in README.md are what trawl prints today.
  add_test(NAME readme_examples
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tools/readme-examples
            --check --trawl $<TARGET_FILE:trawl>)
  set_tests_properties(manual_page readme_examples PROPERTIES SKIP_RETURN_CODE 77)
endif()

if(BUILD_TESTING AND CMAKE_CROSSCOMPILING AND TRAWL_WINDOWS_PACKAGE)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  # cpack -G ZIP, and the packaged trawl.exe run under Wine.
  add_test(NAME package_zip
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/install/check_zip.py
            --build ${CMAKE_BINARY_DIR} --cpack ${CMAKE_CPACK_COMMAND}
            --runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(package_zip PROPERTIES TIMEOUT 300)
endif()
