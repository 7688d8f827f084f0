# Run by CPack on the staged files before it packs them, as Debian's own
# package tools do it: every program and library loses the compiler's notes
# and its debugging information, which goes, found by build id, into the
# package brisolde-dbgsym (built here with dpkg-deb, beside the main package).
# With that package installed, crash reports name functions, files and lines.
set(_root "${CPACK_TEMPORARY_DIRECTORY}")
set(_dbgsym "${CPACK_TOPLEVEL_DIRECTORY}/brisolde-dbgsym")
file(REMOVE_RECURSE "${_dbgsym}")

file(GLOB_RECURSE _files LIST_DIRECTORIES false "${_root}/*")
set(_build_ids)
foreach(_file IN LISTS _files)
    if(IS_SYMLINK "${_file}")
        continue()
    endif()
    file(READ "${_file}" _magic LIMIT 4 HEX)
    if(NOT _magic STREQUAL "7f454c46")
        continue()
    endif()
    execute_process(COMMAND readelf -n "${_file}" OUTPUT_VARIABLE _notes COMMAND_ERROR_IS_FATAL ANY)
    if(NOT _notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
        message(FATAL_ERROR "${_file} has no build id to find its debugging information by")
    endif()
    list(APPEND _build_ids "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
    set(_debug "${_dbgsym}/usr/lib/debug/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug")
    get_filename_component(_dir "${_debug}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    execute_process(COMMAND objcopy --only-keep-debug --compress-debug-sections "${_file}" "${_debug}"
        COMMAND_ERROR_IS_FATAL ANY)
    file(CHMOD "${_debug}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    execute_process(COMMAND objcopy --strip-unneeded --remove-section=.comment
        --remove-section=.note "--add-gnu-debuglink=${_debug}" "${_file}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The package of the debugging information, as Debian's tools make it.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _arch
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(_version "${CPACK_PACKAGE_VERSION}")
file(MAKE_DIRECTORY "${_dbgsym}/DEBIAN" "${_dbgsym}/usr/share/doc")
file(CREATE_LINK brisolde "${_dbgsym}/usr/share/doc/brisolde-dbgsym" SYMBOLIC)
execute_process(COMMAND du -sk --exclude=DEBIAN "${_dbgsym}" OUTPUT_VARIABLE _size
    COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "^[0-9]+" _size "${_size}")
list(JOIN _build_ids " " _build_ids)
file(WRITE "${_dbgsym}/DEBIAN/control" "Package: brisolde-dbgsym
Source: brisolde
Version: ${_version}
Auto-Built-Package: debug-symbols
Architecture: ${_arch}
Maintainer: ${CPACK_PACKAGE_CONTACT}
Installed-Size: ${_size}
Depends: brisolde (= ${_version})
Section: debug
Priority: optional
Description: debug symbols for brisolde
Build-Ids: ${_build_ids}
")
execute_process(COMMAND sh -c "find usr -type f | sort | xargs md5sum > DEBIAN/md5sums"
    WORKING_DIRECTORY "${_dbgsym}" COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${_dbgsym}"
    "${CPACK_PACKAGE_DIRECTORY}/brisolde-dbgsym_${_version}_${_arch}.deb"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Package: ${CPACK_PACKAGE_DIRECTORY}/brisolde-dbgsym_${_version}_${_arch}.deb")
