# The Wine prefix of the cross build's tests, run as `cmake -P` with WINEPREFIX and the other
# Wine variables in the environment:
#   -DACTION=start  creates the prefix and keeps one Wine server running for all tests
#   -DACTION=stop   stops that server
# WINE and WINESERVER name the programs.
if(ACTION STREQUAL "start")
  file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
  # The server and the prefix's service processes outlive this step: they write to a log file,
  # not to a pipe that the test runner would wait on.
  set(log "$ENV{WINEPREFIX}/wine-prefix.log")
  execute_process(COMMAND "${WINESERVER}" -p OUTPUT_FILE "${log}" ERROR_FILE "${log}"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${WINE}" wineboot -i OUTPUT_FILE "${log}" ERROR_FILE "${log}"
                  COMMAND_ERROR_IS_FATAL ANY)
elseif(ACTION STREQUAL "stop")
  execute_process(COMMAND "${WINESERVER}" -k)
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
