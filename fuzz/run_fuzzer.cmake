# Runs one fuzzer for SECONDS, starting from its seed corpus SEEDS. New inputs
# go to WORK (in the build folder), never into the repository; a crash leaves
# its input in WORK/artifacts and fails the test. To keep a crash as a
# regression test, copy that input into the seed corpus: fuzz.replay.<target>
# then replays it in every build.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -print_final_stats=1 -rss_limit_mb=2048 -timeout=10
          -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
string(REGEX MATCH "stat::number_of_executed_units: *[0-9]+" runs "${output}")
string(REGEX MATCH "[0-9]+$" runs "${runs}")
if(NOT result EQUAL 0)
  message("${output}")
  message(FATAL_ERROR "the fuzzer found a fault; its input is in ${WORK}/artifacts")
endif()
message("fuzzed ${SECONDS} s: ${runs} inputs run, none failed")
