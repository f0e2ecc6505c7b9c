# The host's whole lifecycle with two instances, in a private network namespace (only the
# harness's own endpoints, no name server) and on a private X display for the dialog: the x86_64
# DLL under wine64, and the product, the i686 DLL, under 32-bit Wine in one process.
configure_file(${CMAKE_CURRENT_LIST_DIR}/lifecycle.ini ${CMAKE_BINARY_DIR}/bin/lifecycle.ini
               COPYONLY)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(QV_LIFECYCLE_LABEL wine32)
else()
  set(QV_LIFECYCLE_LABEL wine)
endif()
add_test(NAME ${QV_LIFECYCLE_LABEL}_lifecycle
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/in-netns.sh ${PROJECT_SOURCE_DIR}/scripts/wine-xvfb.sh
                 ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh $<TARGET_FILE:harness> lifecycle
                 lifecycle.ini lifecycle-saved.ini
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(${QV_LIFECYCLE_LABEL}_lifecycle PROPERTIES
                     LABELS ${QV_LIFECYCLE_LABEL} RUN_SERIAL ON)

# Unloading while the collector runs; the same code in both DLLs, so wine64 alone.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  add_test(NAME wine_unload
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/in-netns.sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
                   $<TARGET_FILE:harness> unload
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(wine_unload PROPERTIES LABELS wine RUN_SERIAL ON)
endif()
