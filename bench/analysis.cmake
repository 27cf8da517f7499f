# Speed of the speech analysis on a deterministic voice-like recording.
add_executable(bench_analysis ${CMAKE_CURRENT_LIST_DIR}/analysis_recording.cpp)
target_link_libraries(bench_analysis PRIVATE quorvane_analysis benchmark::benchmark)
