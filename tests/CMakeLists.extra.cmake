include(${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CMakeLists.expr.cmake)
include(${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CMakeLists.listformat.cmake)
include(${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CMakeLists.picture.cmake)
include(${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CMakeLists.qnl.cmake)
