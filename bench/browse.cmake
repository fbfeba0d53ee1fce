# The storage browser's benchmark: opening a folder of 10,000 files.
# Included from bench/CMakeLists.txt.
find_package(benchmark QUIET)
if(TRIMORA_BUILD_GUI AND benchmark_FOUND)
  add_executable(browse_bench ${CMAKE_CURRENT_LIST_DIR}/browse_bench.cpp)
  target_link_libraries(browse_bench PRIVATE trimora_gui Qt6::Test benchmark::benchmark)
endif()
