# The quorvane command against ss -tuanp at 1,000, 10,000 and 50,000 sockets (one-shot wall time)
# and one --watch refresh and one --serve refresh with its scrape against one ss run (CPU), in a
# private network namespace (root).
# Meaningful in the optimised preset. The socket holder comes from tests/linux.
qv_add_python_test(bench_command_vs_ss ${CMAKE_CURRENT_LIST_DIR}/command_vs_ss.py
  ARGS $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS bench TIMEOUT 900 RUN_SERIAL ON)

# quorvane -A over 20 namespaces of 500 endpoints against ss run in each of them one after another.
qv_add_python_test(bench_namespaces_vs_ss ${CMAKE_CURRENT_LIST_DIR}/command_vs_ss.py
  ARGS namespaces $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS bench TIMEOUT 900 RUN_SERIAL ON)
