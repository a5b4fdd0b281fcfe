# Runs a fuzzer briefly on a fresh copy of its seed corpus, so that the source tree is never
# written and each run starts from the committed seeds.
#
#   cmake -DFUZZER=path -DSEEDS=dir -DWORK=dir -DSECONDS=5 [-DDICT=file] -P run_smoke.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(GLOB seeds "${SEEDS}/*")
file(COPY ${seeds} DESTINATION "${WORK}")
set(dictionary)
if(DICT)
  set(dictionary "-dict=${DICT}")
endif()
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 ${dictionary} "${WORK}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the crashing input is in the working directory")
endif()
