# What an application developer and a terminal maker get from the tree: the
# CMake package (find_package(q7m CONFIG)), pkg-config files, man pages of
# the programs, the udev rule, and Debian packages through CPack
# (`cpack --config build/CPackConfig.cmake`, or scripts/package-check.sh).
#
# Install components:
#   runtime      the libraries (libX.so.1 of the linked ones, the plug-ins
#                libSCRIBEL.so and libq7mhid.so), the udev rule
#   dev          headers, link names, CMake package, pkg-config files
#   <program>    one per program and its man page
include(CMakePackageConfigHelpers)

set(Q7M_PACKAGED_PROGRAMS q7m-trace q7m-sim rigtool-cli q7m-dlfile q7m-exchange q7m-readcard)
set(Q7M_PROGRAM_SUMMARY_q7m-trace "show the records of a trace ring of the card-reader stack")
set(Q7M_PROGRAM_SUMMARY_q7m-sim "emulate card readers on a pseudo-terminal or the virtual HID bus")
set(Q7M_PROGRAM_SUMMARY_rigtool-cli "run card-reader API calls and command lists without a window")
set(Q7M_PROGRAM_SUMMARY_q7m-dlfile "build and show firmware download files of card readers")
set(Q7M_PROGRAM_SUMMARY_q7m-exchange "send raw command messages to a card reader")
set(Q7M_PROGRAM_SUMMARY_q7m-readcard "wait for a magnetic card and print its tracks")

# ---- CMake package ----
if(TARGET RDAX)
  install(EXPORT q7mTargets NAMESPACE q7m:: DESTINATION lib/cmake/q7m COMPONENT dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/cmake/q7mConfig.cmake.in
    ${PROJECT_BINARY_DIR}/packaging/q7mConfig.cmake INSTALL_DESTINATION lib/cmake/q7m)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/q7mConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/q7mConfig.cmake
                ${PROJECT_BINARY_DIR}/packaging/q7mConfigVersion.cmake
          DESTINATION lib/cmake/q7m COMPONENT dev)
endif()

# ---- pkg-config ----
# The prefix is written at install time, so a package and a `cmake --install
# --prefix DIR` tree each get their own.
set(Q7M_PC_PREFIX "@Q7M_PC_PREFIX@")
foreach(pc q7m-platform q7m-pdlnk q7m-sequor q7m-rdax)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/pkgconfig/${pc}.pc.in
                 ${PROJECT_BINARY_DIR}/packaging/${pc}.pc.in @ONLY)
  install(CODE "
    set(Q7M_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/packaging/${pc}.pc.in\"
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/pkgconfig/${pc}.pc\" @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/pkgconfig/${pc}.pc\")"
    COMPONENT dev)
endforeach()

# ---- udev rule (readers on USB for the group q7m) ----
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-q7m-card-reader.rules
        DESTINATION lib/udev/rules.d COMPONENT runtime)

# ---- the named-object directory, made by root at boot ----
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tmpfiles/q7m.conf
        DESTINATION lib/tmpfiles.d COMPONENT runtime)

# ---- man pages ----
# Generated from --help for the command-line programs: each one's help is
# written as a manual already (usage, options, examples, exit status). The
# window has its page written (packaging/man/rigtool.1).
find_program(Q7M_HELP2MAN help2man)
set(Q7M_MAN_PAGES)
if(TARGET rigtool)
  set(page ${PROJECT_BINARY_DIR}/man/rigtool.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/man/rigtool.1 ${page}
    COMMAND gzip -9nf ${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/man/rigtool.1
    VERBATIM)
  list(APPEND Q7M_MAN_PAGES ${page}.gz)
  install(FILES ${page}.gz DESTINATION share/man/man1 COMPONENT rigtool)
endif()
foreach(program IN LISTS Q7M_PACKAGED_PROGRAMS)
  # Packages come from the normal build; a sanitizer build's programs would
  # have their run-time checks' say in the page's making.
  if(NOT TARGET ${program} OR Q7M_SANITIZE)
    continue()
  endif()
  if(NOT Q7M_HELP2MAN)
    message(STATUS "help2man not found: no man page for ${program}")
    continue()
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
  # help2man reads the synopsis from "Usage:" and "or:" lines; the help texts
  # pass through a filter that puts their usage block in that form. The
  # stand-in carries the program's name, which names the page.
  set(helper ${PROJECT_BINARY_DIR}/man/help/${program})
  set(filter ${PROJECT_SOURCE_DIR}/packaging/man/usage-for-help2man.awk)
  file(GENERATE OUTPUT ${helper}
    CONTENT "#!/bin/sh\n\"$<TARGET_FILE:${program}>\" \"$@\" 2>&1 | awk -v prog=${program} -f \"${filter}\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${Q7M_HELP2MAN} --no-info --no-discard-stderr
            --version-string=${PROJECT_VERSION}
            --name=${Q7M_PROGRAM_SUMMARY_${program}}
            --output=${page} ${helper}
    COMMAND gzip -9nf ${page}
    DEPENDS ${program} ${filter}
    COMMENT "Man page of ${program}"
    VERBATIM)
  list(APPEND Q7M_MAN_PAGES ${page}.gz)
  install(FILES ${page}.gz DESTINATION share/man/man1 COMPONENT ${program})
endforeach()
if(Q7M_MAN_PAGES)
  add_custom_target(q7m_man_pages ALL DEPENDS ${Q7M_MAN_PAGES})
endif()

# ---- Debian packages ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME q7m)
set(CPACK_PACKAGE_VENDOR "q7m developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "q7m developers <q7m-dev@example.com>")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# A package revision makes the packages non-native: the changelog is
# changelog.Debian.gz and a repackaging of one release gets its own number.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The stack's own libraries are found in the build tree; which package gives
# them is said by the Depends lines below (dpkg-shlibdeps runs with
# --ignore-missing-info for them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(Q7M_RUNTIME_PACKAGE libq7m${Q7M_ABI_VERSION})
set(Q7M_EXACT_RUNTIME
  "${Q7M_RUNTIME_PACKAGE} (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")

# Runtime libraries.
set(CPACK_COMPONENT_RUNTIME_GROUP runtime)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${Q7M_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "passwd")
# postinst: the group; postrm: udev forgets the rule; triggers: ldconfig
# (no ldconfig call in the scripts).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
# The shlibs file tells dpkg-shlibdeps of other packages which package gives
# libRDAX.so.1 and the others.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"card-reader stack for self-service terminals - libraries
The libraries of the motorised card reader stack: the application API
(libRDAX), the execution service (libSEQUOR), the port driver (libPDLNK)
with its USB HID provider, the trace library (libSCRIBEL) and the platform
layer. Also installs the udev rule that gives the group q7m access to USB
readers, creates that group, and has the shared object directory made by
root at boot.")

# Development files.
set(CPACK_COMPONENT_DEV_GROUP dev)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libq7m-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ${Q7M_EXACT_RUNTIME})
set(CPACK_DEBIAN_DEV_DESCRIPTION
"card-reader stack for self-service terminals - development files
Headers (q7m/rdax.h and the headers of the lower layers), the link names,
the CMake package (find_package(q7m CONFIG), targets q7m::RDAX,
q7m::SEQUOR, q7m::PDLNK, q7m::platform) and the pkg-config files
q7m-rdax, q7m-sequor, q7m-pdlnk and q7m-platform.")

# Programs.
foreach(program IN LISTS Q7M_PACKAGED_PROGRAMS)
  string(TOUPPER ${program} upper)
  set(CPACK_COMPONENT_${upper}_GROUP tools)
endforeach()
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME q7m-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS ${Q7M_EXACT_RUNTIME})
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
"card-reader stack for self-service terminals - command-line tools
q7m-trace (trace ring viewer), q7m-sim (reader emulator), rigtool-cli
(headless test runner), q7m-dlfile (firmware download files),
q7m-exchange (raw command messages) and q7m-readcard (reads a magnetic
card end to end).")

# Only the programs the tree has (a folder may be left out of a build).
set(CPACK_COMPONENTS_ALL runtime dev)
foreach(program IN LISTS Q7M_PACKAGED_PROGRAMS)
  if(TARGET ${program})
    list(APPEND CPACK_COMPONENTS_ALL ${program})
  endif()
endforeach()

# RigTool's window, once the Qt dialog is part of the tree.
if(TARGET rigtool)
  list(APPEND CPACK_COMPONENTS_ALL rigtool)
  set(CPACK_COMPONENT_RIGTOOL_GROUP rigtool)
  set(CPACK_DEBIAN_RIGTOOL_PACKAGE_NAME rigtool)
  set(CPACK_DEBIAN_RIGTOOL_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_RIGTOOL_PACKAGE_DEPENDS ${Q7M_EXACT_RUNTIME})
  set(CPACK_DEBIAN_RIGTOOL_DESCRIPTION
"card-reader stack for self-service terminals - test program
RigTool, the engineers' test program with its window: every API call with
its parameters, command lists, and the log of results.")
endif()

# Every package carries the copyright file and a Debian changelog.
string(TIMESTAMP Q7M_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog.Debian)
foreach(group runtime dev tools rigtool)
  string(TOUPPER ${group} upper)
  if(NOT DEFINED CPACK_DEBIAN_${upper}_PACKAGE_NAME)
    continue()
  endif()
  set(docdir share/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  if(group STREQUAL "tools")
    list(GET Q7M_PACKAGED_PROGRAMS 0 component)
  else()
    set(component ${group})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
                ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${docdir} COMPONENT ${component})
endforeach()

include(CPack)
