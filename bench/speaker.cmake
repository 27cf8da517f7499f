# Speed of codebook training on 3-second and 30-second recordings.
set(QUORVANE_SPEAKER_BENCH_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/speaker_training.cpp
)
add_executable(bench_speaker ${QUORVANE_SPEAKER_BENCH_SOURCES})
target_link_libraries(bench_speaker PRIVATE quorvane_speaker benchmark::benchmark)
