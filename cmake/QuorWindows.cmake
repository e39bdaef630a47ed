# Windows (MinGW-w64) specifics of the build, included by QuorHelpers.cmake.

# The GCC runtime DLLs every program and module of ours links against (see
# cmake/toolchain-mingw32.cmake for why they are not linked statically).
set(QUOR_MINGW_RUNTIME_DLLS)
foreach(_dll libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
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

quor_copy_mingw_runtime(${QUOR_BIN_DIR})
