# The product DLL's export table, calling convention and imports, read from the binary itself.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  find_program(QV_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
  add_test(NAME abi_i686 COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/check_abi.py ${QV_OBJDUMP}
                                 $<TARGET_FILE:Quorvane>)
  set_tests_properties(abi_i686 PROPERTIES LABELS abi)
endif()
