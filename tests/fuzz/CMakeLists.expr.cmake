# libFuzzer target of the expression compiler (clang only): cmake -DSORV_FUZZ=ON
# -DCMAKE_CXX_COMPILER=clang++, then ./fuzz_expr.
if(SORV_FUZZ AND TARGET sorv_data)
  target_compile_options(sorv_data PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(fuzz_expr ${CMAKE_CURRENT_LIST_DIR}/fuzz_expr.cpp)
  target_compile_options(fuzz_expr PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_expr PRIVATE sorv_data -fsanitize=fuzzer,address,undefined)
endif()
