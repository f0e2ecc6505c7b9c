# quorvane -i in a private network namespace (root) against connections of known traffic: totals,
# watched rates, queues, retransmissions on a lossy path and the rate under a loopback limit.
qv_add_python_test(quorvane_traffic ${CMAKE_CURRENT_LIST_DIR}/traffic.py
  ARGS $<TARGET_FILE:quorvane> PROPERTIES LABELS linux-e2e TIMEOUT 120 RUN_SERIAL ON)
