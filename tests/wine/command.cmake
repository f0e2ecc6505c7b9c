# quorvane.exe end to end: the harness's own IPv4 and IPv6 sockets in its JSON listing, and its
# meter view against the DLL's ListPorts, in a private network namespace (root). wine64 only: the
# scenario starts three Windows processes, minutes under 32-bit Wine.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  qv_add_python_test(wine_command ${CMAKE_CURRENT_LIST_DIR}/command_e2e.py
    ARGS $<TARGET_FILE:harness> $<TARGET_FILE:quorvane>
    PROPERTIES LABELS wine TIMEOUT 600 RUN_SERIAL ON)
endif()
