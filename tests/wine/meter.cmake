# ListPorts end to end: the harness's own sockets through the real endpoint tables, process names
# and DNS resolver, in a private network namespace with its own DNS server (root). The product's
# own bitness (i686) runs it too, under 32-bit Wine.
add_test(NAME wine_meter COMMAND ${CMAKE_CURRENT_LIST_DIR}/meter-netns.sh $<TARGET_FILE:harness>
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set_tests_properties(wine_meter PROPERTIES LABELS wine32 TIMEOUT 900 RUN_SERIAL ON)
else()
  set_tests_properties(wine_meter PROPERTIES LABELS wine TIMEOUT 600 RUN_SERIAL ON)
endif()
