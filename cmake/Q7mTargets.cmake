# Shared build rules of every target in the tree.

add_library(q7m_build_flags INTERFACE)
target_compile_options(q7m_build_flags INTERFACE
  -Wall -Wextra -Werror -Wno-missing-field-initializers)
target_compile_definitions(q7m_build_flags INTERFACE _GNU_SOURCE)
if(Q7M_SANITIZE)
  string(REPLACE ";" "," _q7m_san "${Q7M_SANITIZE}")
  target_compile_options(q7m_build_flags INTERFACE -fsanitize=${_q7m_san} -fno-omit-frame-pointer
                         -fno-sanitize-recover=undefined)
  target_link_options(q7m_build_flags INTERFACE -fsanitize=${_q7m_san})
endif()

# The libraries applications link carry the ABI version in their SONAME
# (libRDAX.so.1): raise Q7M_ABI_VERSION whenever an export's name, arguments
# or record layout changes incompatibly. The libraries loaded by name at run
# time (SCRIBEL, the HID provider) stay unversioned, as plug-ins are: the
# loader opens exactly libX.so, so that file must be what runs.
set(Q7M_ABI_VERSION 1)
set(Q7M_LINKED_LIBRARIES RDAX SEQUOR PDLNK q7mplatform)

# A shared library of the stack: hidden symbols except its exports, RPATH
# $ORIGIN so the libraries beside it are found in the build and install trees.
function(q7m_add_shared_library name)
  add_library(${name} SHARED ${ARGN})
  target_link_libraries(${name} PRIVATE q7m_build_flags)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "$ORIGIN"
    INSTALL_RPATH "$ORIGIN")
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
  if(name IN_LIST Q7M_LINKED_LIBRARIES)
    set_target_properties(${name} PROPERTIES
      VERSION ${Q7M_ABI_VERSION}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
      SOVERSION ${Q7M_ABI_VERSION})
    # Applications name it q7m::platform.
    if(name STREQUAL "q7mplatform")
      set_target_properties(${name} PROPERTIES EXPORT_NAME platform)
    endif()
    # The runtime package holds libX.so.1 and its file, -dev the link name.
    install(TARGETS ${name} EXPORT q7mTargets
      LIBRARY DESTINATION lib COMPONENT runtime NAMELINK_COMPONENT dev
      INCLUDES DESTINATION include)
  else()
    install(TARGETS ${name} LIBRARY DESTINATION lib COMPONENT runtime)
  endif()
endfunction()

# A static building block linked into shared libraries and programs.
function(q7m_add_static_library name)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PRIVATE q7m_build_flags)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A program: RPATH $ORIGIN/../lib.
function(q7m_add_program name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE q7m_build_flags)
  set_target_properties(${name} PROPERTIES
    BUILD_RPATH "$ORIGIN/../lib"
    INSTALL_RPATH "$ORIGIN/../lib")
  # One install component per program, so packaging picks the programs it
  # ships (cmake/Q7mPackaging.cmake) and leaves out the demos.
  install(TARGETS ${name} RUNTIME DESTINATION bin COMPONENT ${name})
endfunction()

# A GoogleTest executable. Its main gives every test process a namespace of
# its own for named objects, so `ctest -j` runs never meet. Each test case is
# one CTest test.
function(q7m_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE q7m_build_flags q7m_test_support ${T_LIBS})
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    BUILD_RPATH "$ORIGIN/../lib")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
