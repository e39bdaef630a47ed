# What a program linking tquor gets, wherever it is built: C++20 (the
# headers need it), the simulated RAS service built with it (a program loads
# rasapi32.dll at run time, so nothing would otherwise build it when Quor is
# added with EXCLUDE_FROM_ALL), and, inside another project's build, a
# libquorwin32 whose system folder is Quor's build folder, so that the
# project's programs find that rasapi32.dll without copying it beside them.
target_compile_features(quorwin32 PUBLIC cxx_std_20)

set(_quor_ras_modules)
foreach(_module rasapi32 rnaph)
  if(TARGET ${_module})
    list(APPEND _quor_ras_modules ${_module})
  endif()
endforeach()
foreach(_backend ${QUOR_RAS_BACKENDS})
  if(TARGET rasbackend_${_backend})
    list(APPEND _quor_ras_modules rasbackend_${_backend})
  endif()
endforeach()
if(_quor_ras_modules)
  add_dependencies(tquor ${_quor_ras_modules})
endif()

# Quor's own build keeps no system folder: its suites model a machine
# without RAS by a program in a folder of its own. An installed Quor's
# lib/quor/ comes first whenever it is there.
if(NOT PROJECT_IS_TOP_LEVEL AND NOT WIN32)
  target_compile_definitions(quorwin32 PRIVATE QUOR_BUILD_SYSTEM_FOLDER="${QUOR_BIN_DIR}")
endif()

# The two shared libraries carry their version and a SONAME on Linux
# (libvcl30.so.0.2.0, SONAME libvcl30.so.0.2, and the links libvcl30.so.0.2
# and libvcl30.so): a program records the SONAME, and a Quor of another minor
# version (whose interface may differ, as find_package's SameMinorVersion
# says) is never taken for it. Windows names its DLLs without versions.
if(NOT WIN32)
  set_target_properties(quorwin32 vcl30 PROPERTIES VERSION ${PROJECT_VERSION}
                                                   SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
endif()
