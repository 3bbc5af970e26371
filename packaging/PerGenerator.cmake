# Read by cpack for each generator: the Debian package takes the system
# layout, the archive the bare program directory; both are stripped.
set(CPACK_STRIP_FILES ON)
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL deb)
else()
  set(CPACK_COMPONENTS_ALL tgz)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
