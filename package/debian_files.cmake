# Run by CPack on the staged tree before the Debian package is made: adds what Debian expects of
# a package and a plain `cmake --install` has no use for. The manual pages are compressed, the
# copyright notice and the changelog go to usr/share/doc/korw, and every file and directory gets
# the permissions of a system package whatever the umask of the build.
set(root ${CPACK_TEMPORARY_DIRECTORY})
set(usr ${root}${CPACK_PACKAGING_INSTALL_PREFIX})
if(NOT IS_DIRECTORY ${usr}/bin)
  message(FATAL_ERROR "debian_files.cmake: no staged programs in ${usr}/bin")
endif()

find_program(GZIP gzip REQUIRED)
file(GLOB_RECURSE manuals ${usr}/share/man/*)
foreach(manual ${manuals})
  if(NOT manual MATCHES "\\.gz$")
    # -n leaves the name and time out of the header, so equal pages give equal archives.
    execute_process(COMMAND ${GZIP} -9nf ${manual} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()

set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})
file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${CPACK_KORW_COPYRIGHT} ${doc}/copyright)
file(COPY_FILE ${CPACK_KORW_CHANGELOG} ${doc}/changelog)
execute_process(COMMAND ${GZIP} -9nf ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)

# Read for all, written by root only; executables (and directories) stay executable.
execute_process(COMMAND chmod -R u=rwX,go=rX ${usr} COMMAND_ERROR_IS_FATAL ANY)
