# quorvane --serve in a private network namespace (root): a real Prometheus server and promtool
# against the exporter, and its HTTP side under load, bad requests and signals; the socket holder
# comes from collector_e2e.cmake.
foreach(mode prometheus http)
  qv_add_python_test(quorvane_serve_${mode} ${CMAKE_CURRENT_LIST_DIR}/exporter.py
    ARGS ${mode} $<TARGET_FILE:quorvane> $<TARGET_FILE:socket_holder>
    PROPERTIES LABELS linux-e2e TIMEOUT 300 RUN_SERIAL ON)
endforeach()
