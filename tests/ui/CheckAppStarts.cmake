# Starts the program offscreen and checks that it is still running after a few seconds
# (built, resources found, sound library initialised, window shown), then stops it.
execute_process(
  COMMAND timeout 4 "${PROGRAM}"
  RESULT_VARIABLE result
  OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT result EQUAL 124)
  message(FATAL_ERROR "the program ended by itself (${result}) instead of running:\n${errors}")
endif()
