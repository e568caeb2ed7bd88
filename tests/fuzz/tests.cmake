# Fuzzing the decoders and the entry walk with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer. Each CTest entry runs briefly from its kept
# corpus (tests/fuzz/corpus/inflate and corpus/walk, minimised with
# -merge=1); inputs that find new paths go to the build folder, never into
# the sources.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(STATUS "decode fuzzing needs clang; skipped")
    return()
endif()
find_package(ZLIB REQUIRED)

set(SFX_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
file(GLOB SFX_FUZZ_DECODERS CONFIGURE_DEPENDS ${SFX_ROOT}/decode/*.cpp)
add_executable(sfx-inflate-fuzz
    ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/inflate_fuzz.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/decode/memory_io.cpp
    ${SFX_FUZZ_DECODERS}
    ${SFX_ROOT}/startup/SFXstate.cpp)
target_include_directories(sfx-inflate-fuzz PRIVATE ${SFX_ROOT} ${CMAKE_CURRENT_SOURCE_DIR}/decode)
target_compile_options(sfx-inflate-fuzz PRIVATE ${SFX_FUZZ_FLAGS} -O1 -g)
target_link_options(sfx-inflate-fuzz PRIVATE ${SFX_FUZZ_FLAGS})
target_link_libraries(sfx-inflate-fuzz PRIVATE ZLIB::ZLIB)

set(SFX_FUZZ_FOUND ${CMAKE_CURRENT_BINARY_DIR}/fuzz-found)
file(MAKE_DIRECTORY ${SFX_FUZZ_FOUND})
add_test(NAME decode-fuzz
    COMMAND sfx-inflate-fuzz -max_total_time=40 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
            ${SFX_FUZZ_FOUND} ${SFX_ROOT}/tests/fuzz/corpus/inflate)
set_tests_properties(decode-fuzz PROPERTIES TIMEOUT 300)

# The walk over whole archives: header reader, names, next-header step, name
# check, password check and decoders, as the program calls them.
add_executable(sfx-walk-fuzz
    ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/walk_fuzz.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/decode/memory_io.cpp
    ${SFX_FUZZ_DECODERS}
    ${SFX_ROOT}/extract/SFXhdr.cpp
    ${SFX_ROOT}/extract/SFXname.cpp
    ${SFX_ROOT}/extract/SFXpath.cpp
    ${SFX_ROOT}/extract/SFXname.cpp
    ${SFX_ROOT}/startup/SFXstate.cpp)
target_include_directories(sfx-walk-fuzz PRIVATE ${SFX_ROOT} ${CMAKE_CURRENT_SOURCE_DIR}/decode)
target_compile_options(sfx-walk-fuzz PRIVATE ${SFX_FUZZ_FLAGS} -O1 -g)
target_link_options(sfx-walk-fuzz PRIVATE ${SFX_FUZZ_FLAGS})
target_link_libraries(sfx-walk-fuzz PRIVATE ZLIB::ZLIB)

set(SFX_WALK_FUZZ_FOUND ${CMAKE_CURRENT_BINARY_DIR}/walk-fuzz-found)
file(MAKE_DIRECTORY ${SFX_WALK_FUZZ_FOUND})
add_test(NAME walk-fuzz
    COMMAND sfx-walk-fuzz -max_total_time=40 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
            ${SFX_WALK_FUZZ_FOUND} ${SFX_ROOT}/tests/fuzz/corpus/walk)
set_tests_properties(walk-fuzz PROPERTIES TIMEOUT 300)
