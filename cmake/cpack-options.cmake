# Read by cpack before each package it makes.  A .deb whose dependencies were
# not worked out from the executable could install where trawl cannot run,
# so without dpkg-shlibdeps there is no .deb.
if(CPACK_GENERATOR STREQUAL "DEB")
  cmake_policy(SET CMP0109 NEW)  # a program is one we may run
  find_program(TRAWL_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT TRAWL_DPKG_SHLIBDEPS)
    message(FATAL_ERROR
      "dpkg-shlibdeps (Debian package dpkg-dev) is needed to work out the .deb's dependencies")
  endif()
endif()
