# Read by cpack for each generator: the Debian package takes the system
# layout, the archive the bare program directory. Both hold stripped
# programs: the package's debugging information goes into the debug symbols
# package quillmar-dbgsym (a .ddeb, as Debian makes them), which cpack makes
# only when it strips the programs itself.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL deb)
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
else()
  set(CPACK_STRIP_FILES ON)
  set(CPACK_COMPONENTS_ALL tgz)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
