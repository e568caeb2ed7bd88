# Decoder tests: CRC-32, decryption, stored copy, inflate against zlib,
# libdeflate and 7-Zip, Huffman tables, hostile streams; and the local
# header reader that hands the decoders their entries. The decoders are
# compiled here once more, with AddressSanitizer and UndefinedBehaviorSanitizer,
# together with the in-memory outside world of tests/decode/memory_io.cpp.
# The inflate bit buffer is a machine word, 32 bits in the i686 release: the
# tests run twice, with the host's 64-bit word (decode-unit) and with a
# 32-bit one (decode-unit-32).
find_package(ZLIB REQUIRED)
find_library(SFX_LIBDEFLATE deflate REQUIRED)

set(SFX_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
file(GLOB SFX_CHECKED_DECODERS CONFIGURE_DEPENDS ${SFX_ROOT}/decode/*.cpp)
foreach(width 64 32)
    set(suffix "")
    if(width EQUAL 32)
        set(suffix -32)
    endif()
    add_library(sfx-decode-checked${suffix} STATIC
        ${SFX_CHECKED_DECODERS}
        ${SFX_ROOT}/startup/SFXstate.cpp
        ${SFX_ROOT}/extract/SFXhdr.cpp
        ${SFX_ROOT}/extract/SFXname.cpp
        ${SFX_ROOT}/extract/SFXpath.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/decode/memory_io.cpp)
    target_include_directories(sfx-decode-checked${suffix} PUBLIC ${SFX_ROOT} ${CMAKE_CURRENT_SOURCE_DIR}/decode)
    target_compile_definitions(sfx-decode-checked${suffix} PUBLIC SFX_BIT_WORD_BITS=${width})
    target_compile_options(sfx-decode-checked${suffix} PUBLIC ${SFX_SANITIZE} PRIVATE -O1 -g -Wall -Wextra)
    target_link_options(sfx-decode-checked${suffix} PUBLIC ${SFX_SANITIZE})
    target_link_libraries(sfx-decode-checked${suffix} PUBLIC ZLIB::ZLIB)

    add_executable(sfx-decode-tests${suffix}
        decode/crc_crypt_test.cpp
        decode/store_test.cpp
        decode/inflate_test.cpp
        decode/huffman_test.cpp
        decode/hostile_test.cpp
        decode/header_test.cpp)
    target_link_libraries(sfx-decode-tests${suffix} PRIVATE sfx-decode-checked${suffix} ${SFX_LIBDEFLATE}
        GTest::gtest GTest::gtest_main)
    add_test(NAME decode-unit${suffix} COMMAND sfx-decode-tests${suffix})
    set_tests_properties(decode-unit${suffix} PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1")
endforeach()
