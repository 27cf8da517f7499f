# Speed of codebook training on 3-second and 30-second recordings.
set(QUORVANE_SPEAKER_BENCH_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/speaker_training.cpp
)
add_executable(bench_speaker ${QUORVANE_SPEAKER_BENCH_SOURCES})
target_link_libraries(bench_speaker PRIVATE quorvane_speaker benchmark::benchmark)

# One unlock of a protected speaker file (Argon2id at the program's costs); its own program so
# that /usr/bin/time -v shows the peak memory of an unlock alone.
add_executable(bench_unlock ${CMAKE_CURRENT_LIST_DIR}/speaker_unlock.cpp)
target_link_libraries(bench_unlock PRIVATE quorvane_speaker benchmark::benchmark)
