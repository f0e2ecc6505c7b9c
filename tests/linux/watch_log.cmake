# quorvane --watch in a private network namespace (root) while sockets open and close on a
# schedule: the JSON connection log, its clean end on SIGTERM and Ctrl-C, and the change marks on
# a pseudo-terminal, and the screen in a tmux window of 300 endpoints.
foreach(mode log brief interrupt marks)
  qv_add_python_test(quorvane_watch_${mode} ${CMAKE_CURRENT_LIST_DIR}/watch_log.py
    ARGS ${mode} $<TARGET_FILE:quorvane> PROPERTIES LABELS linux-e2e TIMEOUT 120 RUN_SERIAL ON)
endforeach()
qv_add_python_test(quorvane_watch_screen ${CMAKE_CURRENT_LIST_DIR}/watch_log.py
  ARGS screen $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS linux-e2e TIMEOUT 120 RUN_SERIAL ON)
# What the log costs at 10,000 sockets beside the plain watch and ss, and how many short-lived
# connections it catches meanwhile; meaningful in the optimised preset.
qv_add_python_test(bench_watch_log ${CMAKE_CURRENT_LIST_DIR}/watch_log.py
  ARGS bench $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
  PROPERTIES LABELS bench TIMEOUT 300 RUN_SERIAL ON)
