# The command as users install it: its manual against --help and its completions driven in bash,
# zsh and fish (label cli); in the optimised build, the Debian package made by cpack, checked by
# lintian and installed into throwaway roots (label package).
qv_add_python_test(quorvane_manual ${CMAKE_CURRENT_LIST_DIR}/packaging.py
  ARGS manual $<TARGET_FILE:quorvane> ${PROJECT_SOURCE_DIR}/doc/quorvane.1
  PROPERTIES LABELS cli)
qv_add_python_test(quorvane_completion ${CMAKE_CURRENT_LIST_DIR}/packaging.py
  ARGS completion $<TARGET_FILE:quorvane> ${PROJECT_SOURCE_DIR}/completions
  PROPERTIES LABELS cli)
if(NOT QV_SANITIZE)
  qv_add_python_test(quorvane_package ${CMAKE_CURRENT_LIST_DIR}/packaging.py
    ARGS package ${CMAKE_BINARY_DIR} PROPERTIES LABELS package TIMEOUT 600)
endif()
