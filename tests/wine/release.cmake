# The release archive made from the i686 DLL and command of this build.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  qv_add_python_test(release_archive ${CMAKE_CURRENT_LIST_DIR}/check_release.py
    ARGS ${PROJECT_SOURCE_DIR}/scripts/release.sh $<TARGET_FILE:Quorvane> $<TARGET_FILE:quorvane>
         ${CMAKE_BINARY_DIR}/generated/version.rc
    PROPERTIES LABELS "abi;release")
endif()
