# libFuzzer target of the list format parser (clang only): cmake -DSORV_FUZZ=ON
# -DCMAKE_CXX_COMPILER=clang++, then ./fuzz_listformat.
if(SORV_FUZZ)
  target_compile_options(sorv_runtime PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(fuzz_listformat ${CMAKE_CURRENT_LIST_DIR}/fuzz_listformat.cpp)
  target_compile_options(fuzz_listformat PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_listformat PRIVATE sorv_runtime -fsanitize=fuzzer,address,undefined)
endif()
