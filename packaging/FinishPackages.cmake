# Run by cpack after it made the packages: what cpack leaves undone or gets
# wrong, done as Debian's own tools do it.
# - The programs lose the compiler's note of its version (.comment), as
#   dh_strip removes it.
# - The debug symbols package gets the documentation of the package it
#   belongs to (a link), md5sums of its own paths (cpack writes them with
#   its scratch folder's) and files that are not executable.
# - Installed-Size is counted again as dpkg counts it (each file in whole
#   KiB, any other entry one): cpack also counts its own archives.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.d?deb$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${package} ${tree}
                  COMMAND_ERROR_IS_FATAL ANY)
  set(programs ON)
  set(level 9)
  if(package MATCHES "\\.ddeb$")
    set(programs OFF)
    set(level 1)  # 30 MiB that are seldom fetched: packed fast
    file(MAKE_DIRECTORY ${tree}/usr/share/doc)
    file(CREATE_LINK ${CPACK_PACKAGE_NAME}
         ${tree}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym SYMBOLIC)
  endif()
  file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${tree} ${tree}/*)
  list(FILTER entries EXCLUDE REGEX "^DEBIAN(/|$)")
  list(SORT entries)
  set(kib 0)
  set(md5sums "")
  foreach(entry IN LISTS entries)
    set(path ${tree}/${entry})
    if(IS_SYMLINK ${path} OR IS_DIRECTORY ${path})
      math(EXPR kib "${kib} + 1")
      continue()
    endif()
    file(READ ${path} magic LIMIT 4 HEX)
    if(programs AND magic STREQUAL "7f454c46")
      execute_process(COMMAND ${CPACK_QM_OBJCOPY} --remove-section=.comment
                              ${path} COMMAND_ERROR_IS_FATAL ANY)
    elseif(NOT programs)
      # Debugging information is read, never run.
      file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
           WORLD_READ)
    endif()
    file(SIZE ${path} bytes)
    math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
    file(MD5 ${path} sum)
    string(APPEND md5sums "${sum}  ${entry}\n")
  endforeach()
  file(WRITE ${tree}/DEBIAN/md5sums "${md5sums}")
  file(READ ${tree}/DEBIAN/control control)
  string(REGEX REPLACE "Installed-Size: [0-9]+" "Installed-Size: ${kib}"
         control "${control}")
  file(WRITE ${tree}/DEBIAN/control "${control}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -z${level} -b
                          ${tree} ${package} OUTPUT_QUIET
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
