# The configuration dialog, shown on a private X display and driven by the harness.
configure_file(${CMAKE_CURRENT_LIST_DIR}/dialog_controls.txt ${CMAKE_BINARY_DIR}/bin/dialog_controls.txt
               COPYONLY)
add_test(NAME wine_dialog
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/with-xvfb.sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
                 $<TARGET_FILE:harness> dialog dialog_controls.txt
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(wine_dialog PROPERTIES LABELS wine TIMEOUT 600)
