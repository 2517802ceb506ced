# Read by cpack once for each package it makes, with CPACK_GENERATOR naming that one.
if(CPACK_GENERATOR STREQUAL "DEB")
  # The .deb installs under /usr and carries lintian's override; the archives hold bin/ and
  # share/ under their one top folder.
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${build} kvowrapper debian /)
endif()
