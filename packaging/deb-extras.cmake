# Run by CPack on the staged files, before it makes the package: what Debian
# asks of a package beyond `cmake --install`. The licence goes into the
# copyright file instead of a LICENSE of its own; manual pages and the
# changelog are compressed with gzip -9n (no name or time stamp, so rebuilds
# are identical); the programs lose the sections strip leaves behind.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(docdir "${root}/${CPACK_TD_DOCDIR}")
file(REMOVE "${docdir}/LICENSE")
file(COPY ${CPACK_TD_DEB_DOC_FILES} DESTINATION "${docdir}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB pages "${root}/${CPACK_TD_MANDIR}/man1/*.1")
foreach(file ${pages} "${docdir}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(GLOB programs "${root}/${CPACK_TD_BINDIR}/*")
foreach(program ${programs})
  execute_process(COMMAND "${CPACK_TD_OBJCOPY}" --remove-section=.comment --remove-section=.note
                          "${program}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
