# Installation under a prefix and the Debian package.
#
#   <prefix>/bin                         basinfit, basinfit-import, basinfit-model, basinfit-batch,
#                                        basinfit-workbench
#   <prefix>/share/man/man1              their manual pages, made by help2man from --help
#   <prefix>/share/doc/basinfit          README.md, docs/ (the reference and the design notes in
#                                        docs/design/), examples/
#
# README.md keeps its place beside docs/ and examples/, so its links and example commands work
# in the installed copy too.  The package's version is the project's version (the one number in
# the top CMakeLists.txt), as are --version, the run record and the survey page.

include(GNUInstallDirs)

set(basinfit_tools basinfit basinfit-import basinfit-model basinfit-batch basinfit-workbench)
foreach(tool IN LISTS basinfit_tools)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Manual pages: the programs' own --help and --version, with the NAME line and the further
# sections (examples, files, see also) from docs/man/<tool>.h2m.  Built with the programs, so
# they can never describe other options than the programs have.  Instrumented builds (sanitizers,
# fuzzing) are never installed and make none.
find_program(HELP2MAN_EXECUTABLE help2man)
find_program(GZIP_EXECUTABLE gzip)
if(BASINFIT_SANITIZE OR BASINFIT_SANITIZE_THREAD OR BASINFIT_FUZZ)
  # no manual pages
elseif(HELP2MAN_EXECUTABLE AND GZIP_EXECUTABLE)
  set(man_pages "")
  foreach(tool IN LISTS basinfit_tools)
    if(TARGET ${tool})
      set(page ${CMAKE_BINARY_DIR}/man/${tool}.1)
      set(include_file ${CMAKE_SOURCE_DIR}/docs/man/${tool}.h2m)
      add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section=1 --include=${include_file} --output=${page}
                $<TARGET_FILE:${tool}>
        COMMAND ${GZIP_EXECUTABLE} -9nf ${page}
        DEPENDS ${tool} ${include_file}
        COMMENT "Manual page of ${tool}"
        VERBATIM)
      list(APPEND man_pages ${page}.gz)
    endif()
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man or gzip not found: no manual pages (scripts/install-deps installs help2man)")
endif()

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR} PATTERN "man" EXCLUDE)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package (scripts/package): basinfit_<version>_<architecture>.deb.  dpkg-shlibdeps
# finds the shared libraries the programs load (cairo, oneTBB, Highway, libcrypto, the C++
# runtime ...); the charts' fonts are named by family and come from Liberation.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME basinfit)
set(CPACK_PACKAGE_VENDOR "Basinfit")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backcalculation of pavement layer moduli from FWD surveys")
set(CPACK_PACKAGE_DESCRIPTION
    "Basinfit finds, for every drop of a falling-weight-deflectometer survey, the layer moduli for
which a multilayer linear-elastic model loaded by a circular plate gives the measured deflection
basin.  It writes detail and summary reports, machine-readable results with data checks and
uncertainty, and a self-contained HTML survey page.  basinfit-import turns device files (PDDX,
LTPP tables, CSV, Dynatest F25) into run folders; basinfit-model runs the layered elastic model
alone; basinfit-batch runs a network of surveys into one results database; basinfit-workbench is a
workbench in the browser, served on the engineer's own machine.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Basinfit developers <basinfit@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
