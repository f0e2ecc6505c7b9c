# The configuration dialog, shown on a private X display and driven by the harness; the product's
# own bitness (i686) runs it too, under 32-bit Wine.
configure_file(${CMAKE_CURRENT_LIST_DIR}/dialog_controls.txt ${CMAKE_BINARY_DIR}/bin/dialog_controls.txt
               COPYONLY)
add_test(NAME wine_dialog
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-xvfb.sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
                 $<TARGET_FILE:harness> dialog dialog_controls.txt
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set_tests_properties(wine_dialog PROPERTIES LABELS wine32 TIMEOUT 900 RUN_SERIAL ON)
else()
  set_tests_properties(wine_dialog PROPERTIES LABELS wine TIMEOUT 600 RUN_SERIAL ON)
endif()
