# quorvane.exe end to end, under wine64 only (each scenario starts Windows processes, a minute each
# under 32-bit Wine): the harness's own IPv4 and IPv6 sockets in the command's listings and its
# meter view against the DLL's ListPorts, with a DNS server that names 127.0.0.1, and a copy of the
# harness named café.exe named exactly so in the JSON listing; and listings with host names while
# the DNS server never answers, and while it answers late.
qv_add_wine_test(command NETNS NAMES 127.0.0.1=loop.quorvane.test
  COMMAND harness command quorvane.exe)
set(QV_DEAD_DNS_REMOTES)
foreach(i RANGE 1 20)
  list(APPEND QV_DEAD_DNS_REMOTES 10.77.1.${i})
endforeach()
qv_add_wine_test(command_dead_dns NETNS ADDRESSES ${QV_DEAD_DNS_REMOTES}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/command_dead_dns.py
          ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh $<TARGET_FILE:quorvane> ${QV_DEAD_DNS_REMOTES})
