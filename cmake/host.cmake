# Host build: the packer and other host tools, host unit tests, fuzzers, and
# the CTest entries for the Windows builds (run under Wine).
enable_testing()

set(SFX_X64_DIR ${SFX_ROOT}/build/x64 CACHE PATH "the x86-64 Windows build")
find_package(GTest REQUIRED)

# The portable part of the program: shared state, decoders, path texts and
# the local header reader (archive access comes from the test's own I/O).
file(GLOB SFX_DECODE_SOURCES CONFIGURE_DEPENDS ${SFX_ROOT}/decode/*.cpp)
add_library(sfxcore STATIC
    ${SFX_ROOT}/startup/SFXstate.cpp
    ${SFX_ROOT}/startup/SFXcmd.cpp
    ${SFX_ROOT}/extract/SFXpath.cpp
    ${SFX_ROOT}/extract/SFXname.cpp
    ${SFX_ROOT}/extract/SFXhdr.cpp
    ${SFX_DECODE_SOURCES})
target_include_directories(sfxcore PUBLIC ${SFX_ROOT})
target_compile_options(sfxcore PRIVATE -Wall -Wextra -O2)

add_subdirectory(${SFX_ROOT}/tools ${CMAKE_BINARY_DIR}/tools)
add_subdirectory(${SFX_ROOT}/tests ${CMAKE_BINARY_DIR}/tests)
