# Windows (MinGW-w64) specifics of the build, included by QuorHelpers.cmake.

# The GCC runtime DLLs every program and module of ours links against (see
# cmake/toolchain-mingw32.cmake for why they are not linked statically).
# The 32-bit compiler unwinds with DWARF-2 tables, the 64-bit one with SEH.
set(QUOR_MINGW_RUNTIME_DLLS)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_libgcc libgcc_s_seh-1.dll)
else()
  set(_libgcc libgcc_s_dw2-1.dll)
endif()
foreach(_dll ${_libgcc} libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "The compiler's runtime DLL ${_dll} was not found (got '${_path}')")
  endif()
  get_filename_component(_path "${_path}" REALPATH)
  list(APPEND QUOR_MINGW_RUNTIME_DLLS "${_path}")
endforeach()

# quor_copy_mingw_runtime(<dir>): puts the runtime DLLs into <dir>, so a
# program there starts on Windows (and under Wine) with nothing installed.
function(quor_copy_mingw_runtime dir)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY ${QUOR_MINGW_RUNTIME_DLLS} DESTINATION "${dir}")
endfunction()

# Beside the programs in bin/, and in a folder of their own that holds
# nothing else: programs that tests build into other folders (to run without
# our rasapi32.dll, or with their own copy of a library) find the runtime
# there through Wine's search path, without that path offering any DLL of
# ours.
set(QUOR_MINGW_RUNTIME_DIR ${CMAKE_BINARY_DIR}/mingw-runtime)
quor_copy_mingw_runtime(${QUOR_BIN_DIR})
quor_copy_mingw_runtime(${QUOR_MINGW_RUNTIME_DIR})

if(CMAKE_CROSSCOMPILING)
  # QUOR_WINE: how a cross-built program is started under the Wine loader
  # the toolchain file names ("wine" for 32-bit programs, the 64-bit loader
  # for the x86-64 build): through cmake/wine-start.sh, which starts
  # it once more only when Wine ended it before it ran at all.
  list(GET CMAKE_CROSSCOMPILING_EMULATOR -1 _wine)
  set(QUOR_WINE bash ${CMAKE_CURRENT_LIST_DIR}/wine-start.sh ${_wine} CACHE INTERNAL
      "Wine loader of this cross build, behind its start script")
  # How tests and build steps start a cross-built program: through Wine, with
  # the runtime folder on Wine's DLL search path. QUOR_WINE_ENV is the
  # environment part, for folders that start their programs differently
  # (another DLL override).
  set(QUOR_WINE_ENV env "WINEPATH=Z:${QUOR_MINGW_RUNTIME_DIR}")
  # Wine prefers its built-in rasapi32.dll even when ours sits beside the
  # program; the override makes it load the native one from the program's
  # folder.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUOR_WINE_ENV} WINEDLLOVERRIDES=rasapi32=n ${QUOR_WINE})
endif()
