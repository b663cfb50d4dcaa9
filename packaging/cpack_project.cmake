# Read by cpack before it packs (CPACK_PROJECT_CONFIG_FILE).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

# A Debian package lives in /usr, and the program was built to look for its
# library under its configured prefix.
if(NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "This build is configured for ${CPACK_PACKAGING_INSTALL_PREFIX}; "
    "configure the package's build with -DCMAKE_INSTALL_PREFIX=/usr.")
endif()

# The dependencies on shared libraries, as CPack's own dpkg-shlibdeps run
# would find them, without the ldconfig calls that come with that run.
file(MAKE_DIRECTORY ${CPACK_HOGUREN_SHLIBDEPS_DIR}/debian)
file(WRITE ${CPACK_HOGUREN_SHLIBDEPS_DIR}/debian/control "")
execute_process(COMMAND dpkg-shlibdeps -O ${CPACK_HOGUREN_BINARIES}
  WORKING_DIRECTORY ${CPACK_HOGUREN_SHLIBDEPS_DIR}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps (package dpkg-dev) failed: ${err}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
