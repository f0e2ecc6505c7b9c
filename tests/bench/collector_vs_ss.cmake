# A collector pass against ss at 1,000 and 10,000 sockets, in a private network namespace (root).
# Reports the ratio of the two; meaningful in the optimised preset. The programs come from
# tests/linux.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME bench_collector_vs_ss
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/collector_vs_ss.py
          $<TARGET_FILE:collector_probe> $<TARGET_FILE:socket_holder>)
set_tests_properties(bench_collector_vs_ss PROPERTIES LABELS bench TIMEOUT 900 RUN_SERIAL ON)
