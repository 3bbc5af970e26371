# cpack builds a Debian package and a .tar.gz of the program directory.
# The package puts the program directory at /opt/quillmar (the program keeps
# its settings, Login.err and Temp/ beside itself, so it is one writable
# folder; postinst gives it to the group quillmar), quillmar and wcserver
# on the PATH as symbolic links into it (the program finds its directory
# through the link), and the nightly service and timer, disabled.
set(QM_PACKAGE_DIR opt/quillmar)

# The same program directory twice: at /opt/quillmar in the Debian package
# (component deb) and at the top of the archive (component tgz).
foreach(pair "deb;${QM_PACKAGE_DIR}" "tgz;.")
  list(GET pair 0 component)
  list(GET pair 1 destination)
  if(QM_BUILD_GUI)
    install(TARGETS quillmar RUNTIME DESTINATION ${destination}
            COMPONENT ${component})
  endif()
  install(TARGETS wcserver RUNTIME DESTINATION ${destination}
          COMPONENT ${component})
  install(TARGETS dunzip LIBRARY DESTINATION ${destination}
          COMPONENT ${component})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/Help DESTINATION ${destination}
          COMPONENT ${component})
endforeach()

# Relative links, so a package unpacked anywhere (dpkg -x) runs from there.
set(links ${CMAKE_BINARY_DIR}/package/links)
file(MAKE_DIRECTORY ${links})
foreach(program quillmar wcserver)
  file(CREATE_LINK ../../${QM_PACKAGE_DIR}/${program} ${links}/${program}
       SYMBOLIC)
  install(FILES ${links}/${program} DESTINATION usr/bin COMPONENT deb)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillmar-nightly.service
              ${CMAKE_SOURCE_DIR}/packaging/quillmar-nightly.timer
        DESTINATION lib/systemd/system COMPONENT deb)

set(CPACK_PACKAGE_NAME quillmar)
set(CPACK_PACKAGE_VENDOR "Quillmar")
set(CPACK_PACKAGE_CONTACT "Quillmar maintainers <quillmar@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keeps the file areas of a bulletin-board host in order")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME quillmar-${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Each generator packs its own component.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/packaging/PerGenerator.cmake)
include(CPack)
