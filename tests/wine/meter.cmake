# ListPorts end to end: the harness's own sockets through the real endpoint tables, process names
# and DNS resolver, in a private network namespace with its own DNS server (root), once through
# the XP table function and once through the fallback that every Windows since Vista takes. The
# product's own bitness (i686) runs it too, under 32-bit Wine.
set(QV_METER_SERVER 10.77.0.1)
set(QV_METER_CLIENT 10.77.0.2)
set(QV_METER_SERVER_NAME alpha.quorvane.test)
qv_add_wine_test(meter I686 NETNS TIMEOUT 600
  ADDRESSES ${QV_METER_SERVER} ${QV_METER_CLIENT}
  NAMES ${QV_METER_SERVER}=${QV_METER_SERVER_NAME}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/meter.py
          ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh $<TARGET_FILE:harness> $<TARGET_FILE:Quorvane>
          ${CMAKE_BINARY_DIR}/without-xp-tables
          ${QV_METER_SERVER} ${QV_METER_CLIENT} ${QV_METER_SERVER_NAME})
