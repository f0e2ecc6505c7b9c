# quorvane --watch in a private network namespace (root) while sockets open and close on a
# schedule: the JSON connection log, its clean end on SIGTERM and Ctrl-C, and the change marks on
# a pseudo-terminal.
foreach(mode log brief interrupt marks)
  qv_add_python_test(quorvane_watch_${mode} ${CMAKE_CURRENT_LIST_DIR}/watch_log.py
    ARGS ${mode} $<TARGET_FILE:quorvane> PROPERTIES LABELS linux-e2e TIMEOUT 120 RUN_SERIAL ON)
endforeach()
