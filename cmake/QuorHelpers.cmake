# Shared build helpers.

# quor_named_module(<target> <output-file-name> SOURCES ... [DEFINITIONS ...] [LIBRARIES ...] [OUTPUT_DIR dir])
# Builds a loadable module with an exact file name ("rasapi32.dll",
# "rnaph.dll") on every platform: on Linux an ELF shared object of that name.
# On Windows the exports are undecorated stdcall names.
function(quor_named_module target filename)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR" "SOURCES;DEFINITIONS;LIBRARIES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES})
  get_filename_component(_base ${filename} NAME_WE)
  get_filename_component(_ext ${filename} EXT)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${_base} SUFFIX ${_ext})
  if(ARG_OUTPUT_DIR)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR}
                                               RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  endif()
  if(ARG_DEFINITIONS)
    target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  endif()
  if(ARG_LIBRARIES)
    target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
  endif()
  target_link_libraries(${target} PRIVATE quor_warnings)
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  endif()
endfunction()

# quor_label_tests(<target> <test-list-variable> <label>...): gives every test
# case that gtest_discover_tests found in <target> the ctest labels, so that
# `ctest -L <label>` runs them. The cases are only known when ctest reads the
# folder's test file, hence a small script included after the discovered
# list. A program that was not built shows as <target>_NOT_BUILT, labelled
# too, so a label never quietly selects nothing.
function(quor_label_tests target list)
  set(_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_${list}_labels.cmake)
  string(JOIN ";" _labels ${ARGN})
  file(WRITE ${_file}
       "if(NOT DEFINED ${list})\n"
       "  set_tests_properties(${target}_NOT_BUILT PROPERTIES LABELS \"${_labels}\")\n"
       "elseif(${list})\n"
       "  set_tests_properties(\${${list}} PROPERTIES LABELS \"${_labels}\")\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
endfunction()

# quor_add_gtest(<target> SOURCES ... LIBRARIES ... [LABELS ...] [WORKING_DIRECTORY dir] [PROPERTIES ...]):
# one GoogleTest program, each test case registered with ctest and carrying
# the LABELS (the area it tests: win32, vcl, ras2, rassim, tquor, package,
# tools, plus e2e or windows where that applies).
function(quor_add_gtest target)
  cmake_parse_arguments(ARG "" "WORKING_DIRECTORY" "SOURCES;LIBRARIES;PROPERTIES;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} quor_gtest_main quor_warnings)
  set(_wd ${QUOR_BIN_DIR})
  if(ARG_WORKING_DIRECTORY)
    set(_wd ${ARG_WORKING_DIRECTORY})
  endif()
  # Parameterised cases keep gtest's own names (index or name generator), not
  # their printed values: those may hold pointers and change from build to build.
  # Under Wine every Win32 call goes through the emulator: the component's
  # event sweeps (a whole dial story for every event and handler action) take
  # 40-120 s there, against a few seconds natively.
  set(_timeout 120)
  if(CMAKE_CROSSCOMPILING)
    set(_timeout 300)
  endif()
  gtest_discover_tests(${target} WORKING_DIRECTORY ${_wd} DISCOVERY_TIMEOUT 60 TEST_LIST ${target}_TESTS
                       NO_PRETTY_VALUES PROPERTIES TIMEOUT ${_timeout} ${ARG_PROPERTIES})
  if(ARG_LABELS)
    quor_label_tests(${target} ${target}_TESTS ${ARG_LABELS})
  endif()
endfunction()

if(MINGW)
  include(${CMAKE_CURRENT_LIST_DIR}/QuorWindows.cmake)
endif()
