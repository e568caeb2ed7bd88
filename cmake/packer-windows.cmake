# The packer for Windows: dist/mksfx.exe (x86-64) and dist/mksfx-x86.exe
# (i686), linked statically with MinGW's zlib so that they need no DLL
# beyond Windows' own.
include(${SFX_ROOT}/tools/mksfx/mksfx-sources.cmake)
find_library(SFX_MINGW_ZLIB NAMES libz.a REQUIRED)
find_path(SFX_MINGW_ZLIB_INCLUDE zlib.h REQUIRED)

add_executable(mksfx-windows ${SFX_ROOT}/tools/mksfx/mksfx.cpp ${MKSFX_LIBRARY_SOURCES})
target_include_directories(mksfx-windows PRIVATE ${SFX_ROOT} ${SFX_MINGW_ZLIB_INCLUDE})
target_compile_options(mksfx-windows PRIVATE -Wall -Wextra -O2)
target_link_options(mksfx-windows PRIVATE -static -static-libgcc -static-libstdc++ -s
    -Wl,--subsystem,console)
target_link_libraries(mksfx-windows PRIVATE ${SFX_MINGW_ZLIB})
if(SFX_ARCH STREQUAL "x64")
    set(SFX_PACKER_NAME mksfx.exe)
else()
    set(SFX_PACKER_NAME mksfx-x86.exe)
endif()
add_custom_command(TARGET mksfx-windows POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:mksfx-windows> ${SFX_DIST}/${SFX_PACKER_NAME})
