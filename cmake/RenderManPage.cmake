# cmake -DPROGRAM=<quor> -DOUT=<file> -P RenderManPage.cmake: writes `quor man` to OUT.
execute_process(COMMAND ${PROGRAM} man OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "quor man exited with ${rc}")
endif()
