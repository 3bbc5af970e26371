# cpack builds a Debian package and a .tar.gz of the program directory.
#
# The Debian package keeps the program's files root's alone and its state
# apart: the programs and the ZIP library in /usr/lib/quillmar, the manual in
# /usr/share/quillmar/Help (linked as Help/ beside the programs, where the
# help buttons look), quillmar and wcserver on the PATH as links, and
# quillmar.state beside the programs naming the state folder
# /var/lib/quillmar, which postinst makes for the group quillmar. The
# nightly service and timer come disabled. The archive is a bare program
# directory whose state is beside the programs.
set(QM_LIB_DIR usr/lib/quillmar)
set(QM_SHARE_DIR usr/share/quillmar)
set(QM_DOC_DIR usr/share/doc/quillmar)
set(staged ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${staged})

# The Debian package (component deb).
if(QM_BUILD_GUI)
  install(TARGETS quillmar RUNTIME DESTINATION ${QM_LIB_DIR} COMPONENT deb)
endif()
install(TARGETS wcserver RUNTIME DESTINATION ${QM_LIB_DIR} COMPONENT deb)
# Loaded at run time, never executed.
install(TARGETS dunzip LIBRARY DESTINATION ${QM_LIB_DIR} COMPONENT deb
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillmar.state
        DESTINATION ${QM_LIB_DIR} COMPONENT deb)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/Help DESTINATION ${QM_SHARE_DIR}
        COMPONENT deb)

# Relative links, so a package unpacked anywhere (dpkg -x) runs from there.
file(MAKE_DIRECTORY ${staged}/bin ${staged}/lib)
foreach(program quillmar wcserver)
  file(CREATE_LINK ../lib/quillmar/${program} ${staged}/bin/${program}
       SYMBOLIC)
  install(FILES ${staged}/bin/${program} DESTINATION usr/bin COMPONENT deb)
endforeach()
file(CREATE_LINK ../../share/quillmar/Help ${staged}/lib/Help SYMBOLIC)
install(FILES ${staged}/lib/Help DESTINATION ${QM_LIB_DIR} COMPONENT deb)

# Man pages and the changelog as Debian keeps them: compressed, without the
# time or name of the compression in them.
set(gzipped)
foreach(pair "man/quillmar.1;quillmar.1.gz" "man/wcserver.1;wcserver.1.gz"
             "changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${staged}/${target}
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/${source}
            > ${staged}/${target}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${source} VERBATIM)
  list(APPEND gzipped ${staged}/${target})
endforeach()
add_custom_target(package_files ALL DEPENDS ${gzipped})
install(FILES ${staged}/quillmar.1.gz ${staged}/wcserver.1.gz
        DESTINATION usr/share/man/man1 COMPONENT deb)
install(FILES ${staged}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${QM_DOC_DIR} COMPONENT deb)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillmar-nightly.service
              ${CMAKE_SOURCE_DIR}/packaging/quillmar-nightly.timer
        DESTINATION lib/systemd/system COMPONENT deb)

# The bare program directory (component tgz).
if(QM_BUILD_GUI)
  install(TARGETS quillmar RUNTIME DESTINATION . COMPONENT tgz)
endif()
install(TARGETS wcserver RUNTIME DESTINATION . COMPONENT tgz)
install(TARGETS dunzip LIBRARY DESTINATION . COMPONENT tgz)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/Help DESTINATION . COMPONENT tgz)

set(CPACK_PACKAGE_NAME quillmar)
set(CPACK_PACKAGE_VENDOR "Quillmar")
set(CPACK_PACKAGE_CONTACT "Quillmar maintainers <maintainers@quillmar.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keeps the file areas of a bulletin-board host in order")
# The extended description; cpack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillmar adds new uploads to the file areas of a bulletin-board host,
taking each archive's description from its file_id.diz, imports FILES.BBS
listings, deletes files and records, moves records or copies files between
areas, and writes text, HTML and JSON listings.

The work is kept in configuration files built in its configuration tool and
run from its window, as a test run that changes nothing, or every night
unattended from cron or the systemd timer this package installs (disabled).
The package also holds wcserver, which creates and inspects a host.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME quillmar-${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# The archive programs the extras can name (the manual, chapter 10).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "arj, nomarch, unar")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm
    ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# cpack's own compression is undone by FinishPackages: the fastest.
set(CPACK_DEBIAN_COMPRESSION_TYPE zstd)
set(CPACK_POST_BUILD_SCRIPTS
    ${CMAKE_SOURCE_DIR}/packaging/FinishPackages.cmake)
set(CPACK_QM_OBJCOPY ${CMAKE_OBJCOPY})
# Each generator packs its own component.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/packaging/PerGenerator.cmake)
include(CPack)
