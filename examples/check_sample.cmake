# Runs the sample generator into OUT and compares it with the committed SAMPLE.
execute_process(COMMAND "${GENERATOR}" "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_sample failed (${rc})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${SAMPLE}" "${OUT}" RESULT_VARIABLE diff)
if(NOT diff EQUAL 0)
  message(FATAL_ERROR "examples/sample.pdf differs from the generator's output; rebuild it with the 'sample' target")
endif()
