# The product DLL's export table, calling convention and imports, read from the binary itself.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  find_program(QV_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
  qv_add_python_test(abi_i686 ${CMAKE_CURRENT_LIST_DIR}/check_abi.py
    ARGS ${QV_OBJDUMP} $<TARGET_FILE:Quorvane> PROPERTIES LABELS abi)
endif()
