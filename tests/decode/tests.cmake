# Decoder tests: CRC-32, decryption, stored copy, inflate against zlib,
# libdeflate and 7-Zip, Huffman tables, hostile streams. The decoders are
# compiled here once more, with AddressSanitizer and UndefinedBehaviorSanitizer,
# together with the in-memory outside world of tests/decode/memory_io.cpp.
find_package(ZLIB REQUIRED)
find_library(SFX_LIBDEFLATE deflate REQUIRED)

set(SFX_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
file(GLOB SFX_CHECKED_DECODERS CONFIGURE_DEPENDS ${SFX_ROOT}/decode/*.cpp)
add_library(sfx-decode-checked STATIC
    ${SFX_CHECKED_DECODERS}
    ${SFX_ROOT}/startup/SFXstate.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/decode/memory_io.cpp)
target_include_directories(sfx-decode-checked PUBLIC ${SFX_ROOT} ${CMAKE_CURRENT_SOURCE_DIR}/decode)
target_compile_options(sfx-decode-checked PUBLIC ${SFX_SANITIZE} PRIVATE -O1 -g -Wall -Wextra)
target_link_options(sfx-decode-checked PUBLIC ${SFX_SANITIZE})
target_link_libraries(sfx-decode-checked PUBLIC ZLIB::ZLIB)

add_executable(sfx-decode-tests
    decode/crc_crypt_test.cpp
    decode/store_test.cpp
    decode/inflate_test.cpp
    decode/huffman_test.cpp
    decode/hostile_test.cpp)
target_link_libraries(sfx-decode-tests PRIVATE sfx-decode-checked ${SFX_LIBDEFLATE}
    GTest::gtest GTest::gtest_main)
add_test(NAME decode-unit COMMAND sfx-decode-tests)
set_tests_properties(decode-unit PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")
