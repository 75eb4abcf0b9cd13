# Installing the simulator tools like any Debian tool: the programs, a man
# page for each made from its --help, bash completion, and a .deb (cpack)
# that Debian's lintian accepts: stripped, man pages and changelog
# compressed, the copyright in Debian's machine-readable form.
include(GNUInstallDirs)
set(varkel_doc ${CMAKE_INSTALL_DATADIR}/doc/varkel-tools)
find_program(VARKEL_GZIP gzip REQUIRED)

set(varkel_tools varkel-sim)
if(TARGET varkel-check)
  list(APPEND varkel_tools varkel-check)
endif()
install(TARGETS ${varkel_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# varkel-sim --binary loads its agent into the emulator from ../lib/varkel.
if(TARGET varkel-sim-agent)
  install(TARGETS varkel-sim-agent LIBRARY DESTINATION lib/varkel)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qemu-user")
endif()
add_custom_command(OUTPUT changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog changelog
  COMMAND ${VARKEL_GZIP} -9nf changelog
  DEPENDS packaging/changelog VERBATIM)
add_custom_target(varkel-changelog ALL DEPENDS changelog.gz)
install(FILES README.md packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${varkel_doc})

# Man pages need the tools to run, so a cross build has none.
find_program(VARKEL_HELP2MAN help2man)
if(VARKEL_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  foreach(tool ${varkel_tools})
    if(tool STREQUAL "varkel-sim")
      set(name "run the Varkel serial-port test on a simulated board")
    else()
      set(name "check a logic analyser's capture against the Varkel test's wire")
    endif()
    add_custom_command(OUTPUT ${tool}.1.gz
      COMMAND ${VARKEL_HELP2MAN} --no-info --section=1 --name=${name} --output=${tool}.1 $<TARGET_FILE:${tool}>
      COMMAND ${VARKEL_GZIP} -9nf ${tool}.1
      DEPENDS ${tool} COMMENT "Writing the man page of ${tool}" VERBATIM)
    add_custom_target(${tool}-man ALL DEPENDS ${tool}.1.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${tool}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endif()
foreach(tool ${varkel_tools})
  install(FILES tools/completion/${tool} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varkel-tools)
set(CPACK_PACKAGE_VENDOR "The Varkel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-port bring-up: simulated board and capture checker")
set(CPACK_PACKAGE_DESCRIPTION "Varkel is a bring-up test for a 32-bit ARM board's synchronous serial
port. varkel-sim runs it on a simulated board and shows the port's wire;
with --binary it runs the board binary itself, unmodified under qemu-arm,
its register windows answered by the simulated board. varkel-check holds
a logic analyser's capture (a value change dump, a sigrok session, or live
through libsigrok) against the wire the test should produce.")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Varkel developers <varkel@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
