# Runs one libFuzzer target: first over every seed, then a short time-boxed fuzzing run whose
# new inputs go to a scratch folder, so the source tree is never written.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
set(seed_args)
if(EXISTS ${CORPUS})
  set(seed_args ${CORPUS})
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
                        -artifact_prefix=${WORK}/artifacts/ -print_final_stats=1
                        ${WORK}/corpus ${seed_args}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} failed (${rc}); crashing inputs are in ${WORK}/artifacts")
endif()
