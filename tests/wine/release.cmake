# The release archive made from the i686 DLL and command of this build.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  add_test(NAME release_archive
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/check_release.py
                   ${PROJECT_SOURCE_DIR}/scripts/release.sh $<TARGET_FILE:Quorvane>
                   $<TARGET_FILE:quorvane>
                   ${PROJECT_SOURCE_DIR}/src/host/version.rc)
  set_tests_properties(release_archive PROPERTIES LABELS "abi;release")
endif()
