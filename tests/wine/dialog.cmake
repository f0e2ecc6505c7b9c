# The configuration dialog, shown on a private X display and driven by the harness; the product's
# own bitness (i686) runs it too, under 32-bit Wine.
configure_file(${CMAKE_CURRENT_LIST_DIR}/dialog_controls.txt ${CMAKE_BINARY_DIR}/bin/dialog_controls.txt
               COPYONLY)
qv_add_wine_test(dialog I686 XVFB COMMAND harness dialog dialog_controls.txt)
