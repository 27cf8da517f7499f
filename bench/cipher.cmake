# Cipher benchmarks. libgcrypt and Botan 2 serve only as yardsticks; without them the
# comparison is skipped with a message and our own figures are still measured.
pkg_check_modules(QUORVANE_GCRYPT IMPORTED_TARGET libgcrypt)
pkg_check_modules(QUORVANE_BOTAN IMPORTED_TARGET botan-2)

add_executable(cipher_bench ${CMAKE_CURRENT_SOURCE_DIR}/cipher_block.cpp)
target_link_libraries(cipher_bench PRIVATE quorvane_cipher benchmark::benchmark)
if(QUORVANE_GCRYPT_FOUND)
  target_link_libraries(cipher_bench PRIVATE PkgConfig::QUORVANE_GCRYPT)
  target_compile_definitions(cipher_bench PRIVATE QUORVANE_HAVE_GCRYPT=1)
else()
  message(STATUS "libgcrypt not found: cipher_bench runs without its comparison")
endif()
if(QUORVANE_BOTAN_FOUND)
  target_link_libraries(cipher_bench PRIVATE PkgConfig::QUORVANE_BOTAN)
  target_compile_definitions(cipher_bench PRIVATE QUORVANE_HAVE_BOTAN=1)
else()
  message(STATUS "Botan 2 not found: cipher_bench runs without its comparison")
endif()

# Whole-file throughput and peak memory on a large file (1 GiB by default).
add_executable(cipher_file_bench ${CMAKE_CURRENT_SOURCE_DIR}/cipher_file.cpp)
target_link_libraries(cipher_file_bench PRIVATE quorvane_cipher quorvane_test_support_cipher)
if(QUORVANE_GCRYPT_FOUND)
  target_link_libraries(cipher_file_bench PRIVATE PkgConfig::QUORVANE_GCRYPT)
  target_compile_definitions(cipher_file_bench PRIVATE QUORVANE_HAVE_GCRYPT=1)
endif()
