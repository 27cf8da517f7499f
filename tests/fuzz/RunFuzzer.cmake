# Runs one fuzzer for a CTest entry: copies the seed corpus into a fresh scratch folder, fuzzes
# that copy for SECONDS and fails on any crash or failed property. Crash inputs are written into
# WORK as crash-* (and the like).
#   cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DSECONDS=... -DMAX_LEN=... [-DTMPDIR=...]
#         -P RunFuzzer.cmake
foreach(var FUZZER SEEDS WORK SECONDS MAX_LEN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunFuzzer.cmake needs -D${var}=...")
  endif()
endforeach()
foreach(var FUZZER SEEDS WORK)
  get_filename_component(${var} "${${var}}" ABSOLUTE)  # the fuzzer runs inside WORK
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)
if(TMPDIR)
  set(ENV{TMPDIR} ${TMPDIR})
endif()
set(ENV{UBSAN_OPTIONS} "halt_on_error=1:print_stacktrace=1")
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=${MAX_LEN} -timeout=20
          -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix=${WORK}/
          ${WORK}/corpus
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK}")
endif()
