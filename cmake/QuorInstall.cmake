# Install rules, the CMake package (find_package(Quor)), the pkg-config file
# and the CPack packages. Layout (GNUInstallDirs):
#   bin/                      quor, quordesigner (Windows: also the DLLs)
#   include/quor/             the public headers (cmake/PublicHeaders.txt) and QuorVersion.h
#   lib/                      libquorwin32, libvcl30 (shared), libras2.a, libtquor.a
#   lib/quor/                 rasapi32.dll, rnaph.dll, rasbackend_*.dll (Quor's RAS client library; the
#                             Win32 subset's system folder on Linux) and the package module TQuor30.dpl
#   lib/cmake/Quor/           QuorConfig.cmake, QuorConfigVersion.cmake, QuorTargets.cmake
#   lib/pkgconfig/quor.pc
#   include/quor.h, lib/libquor.so.0 (Windows: bin/quor.dll, lib/libquor.dll.a), lib/pkgconfig/quor-c.pc:
#                             the C interface (CMake target Quor::quor)
# On Windows the DLLs go to bin/ beside the tools, the simulated rasapi32.dll
# stays in lib/quor/ (with a note), and README.txt says what to ship.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUOR_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/quor)
set(QUOR_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/quor)
set(QUOR_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quor)

# Only the headers cmake/PublicHeaders.txt lists as installed ship; every other
# header is private to its library.
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/PublicHeaders.txt _lines REGEX "^[A-Za-z]")
foreach(_line ${_lines})
  string(REGEX MATCH "^([^ ]+) +([a-z]+)" _ "${_line}")
  if(CMAKE_MATCH_2 STREQUAL "installed")
    get_filename_component(_subdir ${CMAKE_MATCH_1} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${CMAKE_MATCH_1} DESTINATION ${QUOR_INSTALL_INCLUDEDIR}/${_subdir}
            COMPONENT development)
  elseif(NOT CMAKE_MATCH_2 STREQUAL "contract")
    message(FATAL_ERROR "cmake/PublicHeaders.txt: '${_line}' is not '<header> installed|contract'")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/PublicHeaders.txt)
install(FILES ${QUOR_GENERATED_INCLUDE_DIR}/QuorVersion.h DESTINATION ${QUOR_INSTALL_INCLUDEDIR}
        COMPONENT development)

# The libraries users link. Inside the build they include from the source
# tree; installed, from include/quor.
foreach(_target quorwin32 vcl30 ras2 tquor)
  target_include_directories(${_target} INTERFACE $<INSTALL_INTERFACE:${QUOR_INSTALL_INCLUDEDIR}>)
endforeach()
install(TARGETS quorwin32 vcl30 ras2 tquor quor_warnings EXPORT QuorTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The C interface: its header at the top of include/, so C programs say <quor.h>.
if(TARGET quor_c)
  set_target_properties(quor_c PROPERTIES EXPORT_NAME quor)
  install(TARGETS quor_c EXPORT QuorTargets
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
          PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
endif()
install(EXPORT QuorTargets NAMESPACE Quor:: DESTINATION ${QUOR_INSTALL_CMAKEDIR} COMPONENT development)

# What is installed is built with its installed search path, which serves the
# build folder as well ($ORIGIN first). Left to CMake, the build folder's copy
# would get a shorter path padded with empty entries for the edit at install,
# and the dynamic loader reads an empty entry as the current directory: a
# program started from the build folder would look for its libraries
# (libstdc++ included) wherever its user stands.
function(quor_install_search_path)
  if(NOT WIN32)
    foreach(_target ${ARGN})
      if(TARGET ${_target})
        set_target_properties(${_target} PROPERTIES BUILD_WITH_INSTALL_RPATH TRUE)
      endif()
    endforeach()
  endif()
endfunction()
quor_install_search_path(vcl30 quor_c quor quordesigner)

# Loadable modules: found at run time by name, never linked.
# On Windows the package module goes beside the programs; the simulated
# rasapi32.dll never does (beside a program it would replace the system's RAS).
foreach(_module rasapi32 rnaph rasbackend_networkmanager rasbackend_networkmanager-brief TQuor30)
  if(TARGET ${_module} AND WIN32 AND _module STREQUAL "TQuor30")
    install(TARGETS TQuor30 LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
                            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  elseif(TARGET ${_module})
    if(NOT WIN32)
      set_target_properties(${_module} PROPERTIES INSTALL_RPATH "$ORIGIN;$ORIGIN/..")
      quor_install_search_path(${_module})
    endif()
    install(TARGETS ${_module} LIBRARY DESTINATION ${QUOR_INSTALL_MODULEDIR} COMPONENT runtime
                               RUNTIME DESTINATION ${QUOR_INSTALL_MODULEDIR} COMPONENT runtime)
  endif()
endforeach()
if(MINGW)
  # The GCC runtime DLLs every program of ours needs beside it.
  install(FILES ${QUOR_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  # The DLLs an application ships beside itself: ours and the GCC runtime.
  # QuorConfig.cmake offers them as Quor_RUNTIME_DLLS; the SDK's README.txt
  # names them.
  set(QUOR_SHIP_DLLS quorwin32.dll vcl30.dll)
  foreach(_dll ${QUOR_MINGW_RUNTIME_DLLS})
    get_filename_component(_name ${_dll} NAME)
    list(APPEND QUOR_SHIP_DLLS ${_name})
  endforeach()
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUOR_SDK_ARCH x86-64)
    set(QUOR_SDK_TRIPLET_ARCH x86-64)
    set(QUOR_SDK_SYSTEM win64)
  else()
    set(QUOR_SDK_ARCH i686)
    set(QUOR_SDK_TRIPLET_ARCH i686)
    set(QUOR_SDK_SYSTEM win32)
  endif()
  string(REGEX MATCH "^[0-9]+" QUOR_SDK_GCC "${CMAKE_CXX_COMPILER_VERSION}")
  list(TRANSFORM QUOR_SHIP_DLLS PREPEND "  bin/" OUTPUT_VARIABLE _lines)
  list(JOIN _lines "\n" QUOR_SDK_SHIP_LINES)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/sdk/README.txt.in ${PROJECT_BINARY_DIR}/sdk/README.txt @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/sdk/README.txt DESTINATION . COMPONENT runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/sdk/RasSimulation.txt DESTINATION ${QUOR_INSTALL_MODULEDIR}
          RENAME README.txt COMPONENT runtime)
endif()
foreach(_tool quor quordesigner)
  if(TARGET ${_tool})
    install(TARGETS ${_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

# The manual page, rendered by the tool itself from its command table.
if(TARGET quor AND NOT CMAKE_CROSSCOMPILING)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/quor.1
                     COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:quor> -DOUT=${PROJECT_BINARY_DIR}/quor.1
                             -P ${PROJECT_SOURCE_DIR}/cmake/RenderManPage.cmake
                     DEPENDS quor ${PROJECT_SOURCE_DIR}/cmake/RenderManPage.cmake
                     COMMENT "Rendering the quor manual page" VERBATIM)
  add_custom_target(quor_man ALL DEPENDS ${PROJECT_BINARY_DIR}/quor.1)
  install(FILES ${PROJECT_BINARY_DIR}/quor.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QuorConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/QuorConfig.cmake INSTALL_DESTINATION ${QUOR_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuorConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QuorConfig.cmake ${PROJECT_BINARY_DIR}/QuorConfigVersion.cmake
        DESTINATION ${QUOR_INSTALL_CMAKEDIR} COMPONENT development)

# Relocatable: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH QUOR_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${PROJECT_SOURCE_DIR}/cmake/quor.pc.in ${PROJECT_BINARY_DIR}/quor.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quor.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
if(TARGET quor_c)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/quor-c.pc.in ${PROJECT_BINARY_DIR}/quor-c.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/quor-c.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

# Packages: `cpack` in the build folder (Debian package and .tar.gz on
# Linux, a zip on Windows).
set(CPACK_PACKAGE_NAME quor)
set(CPACK_PACKAGE_VENDOR "Quor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Dial-up and VPN networking component with a simulated RAS service")
set(CPACK_PACKAGE_CONTACT "Quor maintainers")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
if(WIN32)
  # The SDK: quor-sdk-<version>-win32.zip (i686) or -win64.zip (x86-64),
  # everything in one top folder.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quor-sdk-${PROJECT_VERSION}-${QUOR_SDK_SYSTEM})
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(TARGET rasbackend_networkmanager)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libnm0")
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
endif()
include(CPack)
