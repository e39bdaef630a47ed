# Runs the dial example and checks that it dialled, connected and hung up.
# EMULATOR (empty for a native build) is what starts a cross-built program.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 25)
message("${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example exited with ${rc}")
endif()
foreach(want "Dialing " "Connected" "Disconnecting...")
  string(FIND "${out}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the output lacks \"${want}\"")
  endif()
endforeach()
