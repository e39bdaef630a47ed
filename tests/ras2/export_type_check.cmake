# An export or edge function whose parameter list differs from the binding's
# function type must fail the build. Compiles ExportTypeProbe.cpp once with the
# right parameter type (must succeed, so the probe itself is sound) and once
# with a wrong one (must fail on the type check).
#   cmake -DCXX=<compiler> -DROOT=<source root> -DPROBE=<probe source> -P export_type_check.cmake
foreach(variant right wrong)
  if(variant STREQUAL "right")
    set(type LPCSTR)
  else()
    set(type LPSTR)
  endif()
  execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${ROOT} -DPROBE_NEW_NAME_TYPE=${type} ${PROBE}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(variant STREQUAL "right" AND NOT rc EQUAL 0)
    message(FATAL_ERROR "the probe with the right parameter type does not compile:\n${err}")
  endif()
  if(variant STREQUAL "wrong")
    if(rc EQUAL 0)
      message(FATAL_ERROR "an export with a wrong parameter type compiled")
    endif()
    if(NOT err MATCHES "must have exactly the type" OR NOT err MATCHES "must take the export's name and exactly")
      message(FATAL_ERROR "the wrong parameter type failed for another reason than the type checks:\n${err}")
    endif()
  endif()
endforeach()
message(STATUS "right type compiles; wrong type fails on both type checks")
