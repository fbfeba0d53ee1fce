# The tone benchmark: re-rendering the adjusted preview at a preset pick.
# Included from bench/CMakeLists.txt.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(tone_bench ${CMAKE_CURRENT_LIST_DIR}/tone_bench.cpp)
  target_link_libraries(tone_bench PRIVATE trimora_core benchmark::benchmark)
endif()
