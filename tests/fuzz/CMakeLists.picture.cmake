# libFuzzer target of the picture compiler, FORMAT and DEFORMAT (clang only): cmake -DSORV_FUZZ=ON
# -DCMAKE_CXX_COMPILER=clang++, then ./fuzz_picture.
if(SORV_FUZZ)
  target_compile_options(sorv_runtime PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(fuzz_picture ${CMAKE_CURRENT_LIST_DIR}/fuzz_picture.cpp)
  target_compile_options(fuzz_picture PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_picture PRIVATE sorv_runtime -fsanitize=fuzzer,address,undefined)
endif()
