# The packer for Windows: dist/mksfx.exe (x86-64) and dist/mksfx-x86.exe
# (i686), linked statically with MinGW's zlib and with libdeflate built here
# from Debian's source package (scripts/setup unpacks it into third-party/),
# so that they need no DLL beyond Windows' own and compress exactly as the
# host packer, which links Debian's own build of the same version.
include(${SFX_ROOT}/tools/mksfx/mksfx-sources.cmake)
find_library(SFX_MINGW_ZLIB NAMES libz.a REQUIRED)
find_path(SFX_MINGW_ZLIB_INCLUDE zlib.h REQUIRED)

file(GLOB SFX_LIBDEFLATE_DIR LIST_DIRECTORIES true ${SFX_ROOT}/third-party/libdeflate-*)
list(FILTER SFX_LIBDEFLATE_DIR INCLUDE REGEX "/libdeflate-[0-9.]+$")
if(NOT SFX_LIBDEFLATE_DIR OR NOT EXISTS ${SFX_LIBDEFLATE_DIR}/lib/deflate_compress.c)
    message(FATAL_ERROR "libdeflate's source is missing from third-party/; run scripts/setup")
endif()
# The compressor alone: mksfx takes CRC-32 and inflate from zlib.
add_library(libdeflate-windows STATIC
    ${SFX_LIBDEFLATE_DIR}/lib/deflate_compress.c
    ${SFX_LIBDEFLATE_DIR}/lib/utils.c
    ${SFX_LIBDEFLATE_DIR}/lib/x86/cpu_features.c)
target_include_directories(libdeflate-windows PUBLIC ${SFX_LIBDEFLATE_DIR})
target_compile_options(libdeflate-windows PRIVATE -O2)

add_executable(mksfx-windows ${SFX_ROOT}/tools/mksfx/mksfx.cpp ${MKSFX_LIBRARY_SOURCES})
target_include_directories(mksfx-windows PRIVATE ${SFX_ROOT} ${SFX_MINGW_ZLIB_INCLUDE})
target_compile_definitions(mksfx-windows PRIVATE MKSFX_VERSION="${PROJECT_VERSION}")
target_compile_options(mksfx-windows PRIVATE -Wall -Wextra -O2 -municode)
if(SFX_ARCH STREQUAL "x86")
    # 32-bit Windows starts a thread on a stack aligned to 4 bytes only,
    # where the compiler's SSE code (libdeflate's among it) expects 16.
    target_compile_options(mksfx-windows PRIVATE -mstackrealign)
    target_compile_options(libdeflate-windows PRIVATE -mstackrealign)
endif()
# wmain: the arguments arrive as UTF-16, whatever the ANSI code page holds.
target_link_options(mksfx-windows PRIVATE -static -static-libgcc -static-libstdc++ -s -municode
    -Wl,--subsystem,console)
target_link_libraries(mksfx-windows PRIVATE ${SFX_MINGW_ZLIB} libdeflate-windows)
if(SFX_ARCH STREQUAL "x64")
    set(SFX_PACKER_NAME mksfx.exe)
else()
    set(SFX_PACKER_NAME mksfx-x86.exe)
endif()
add_custom_command(TARGET mksfx-windows POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:mksfx-windows> ${SFX_DIST}/${SFX_PACKER_NAME})
