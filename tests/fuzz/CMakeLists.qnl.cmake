# The native file engine's fuzz test built once more with AddressSanitizer and UBSan and run in
# the suite: a read past a page or an overflow stops the case where it happens, even when the
# plain build would read on without crashing. Only the engine's own sources are instrumented.
# A hostile-field case costs a fork of a sanitized process, so this run takes 100 of them (the
# plain build takes 400); SORV_FUZZ_CASES=20000 runs more by hand.
if(NOT SANITIZE AND TARGET sorv_data)
  set(sorv_qnl_engine pager btree schema table txlog fileio)
  set(sorv_qnl_sources ${CMAKE_CURRENT_SOURCE_DIR}/data/qnl_fuzz.cpp)
  foreach(f ${sorv_qnl_engine})
    list(APPEND sorv_qnl_sources ${PROJECT_SOURCE_DIR}/data/qnl/${f}.cpp)
  endforeach()
  add_executable(test_data_qnl_fuzz_sanitized ${sorv_qnl_sources})
  target_compile_options(test_data_qnl_fuzz_sanitized PRIVATE -fsanitize=address,undefined
                         -fno-omit-frame-pointer -fno-sanitize-recover=undefined -Wno-maybe-uninitialized)
  target_link_options(test_data_qnl_fuzz_sanitized PRIVATE -fsanitize=address,undefined)
  target_link_libraries(test_data_qnl_fuzz_sanitized PRIVATE sorv_data GTest::gtest GTest::gtest_main)
  add_test(NAME data.qnl_fuzz_sanitized COMMAND test_data_qnl_fuzz_sanitized
           --gtest_filter=QnlFuzz.HostileFields*:QnlFuzz.MutatedFiles*)
  set_tests_properties(data.qnl_fuzz_sanitized PROPERTIES
    ENVIRONMENT "SORV_QNL_SYNC=normal;SORV_FUZZ_CASES=100;ASAN_OPTIONS=detect_leaks=0" TIMEOUT 300)
endif()
