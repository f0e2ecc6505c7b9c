# A collector pass against ss at 1,000 and 10,000 sockets, in a private network namespace (root).
# Reports the ratio of the two; meaningful in the optimised preset. The programs come from
# tests/linux.
qv_add_python_test(bench_collector_vs_ss ${CMAKE_CURRENT_LIST_DIR}/collector_vs_ss.py
  ARGS $<TARGET_FILE:collector_probe> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS bench TIMEOUT 900 RUN_SERIAL ON)
