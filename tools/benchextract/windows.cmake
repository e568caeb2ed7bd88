# The extraction benchmark's floors (x86-64, run under Wine by
# scripts/bench-extract): tools/benchextract/extract_floor.cpp, with the
# program's own decoders built as the stub builds them.
add_executable(sfx-extract-floor ${SFX_ROOT}/tools/benchextract/extract_floor.cpp
    ${SFX_DECODE_SOURCES} ${SFX_ROOT}/startup/SFXstate.cpp)
target_include_directories(sfx-extract-floor PRIVATE ${SFX_ROOT} ${SFX_MINGW_ZLIB_INCLUDE})
target_compile_options(sfx-extract-floor PRIVATE -Wall -Wextra -O2)
target_link_options(sfx-extract-floor PRIVATE -static -static-libgcc -static-libstdc++
    -Wl,--subsystem,console)
target_link_libraries(sfx-extract-floor PRIVATE ${SFX_MINGW_ZLIB})
set_target_properties(sfx-extract-floor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

# The stub as a measuring build: timing counters of the extracting walk
# (extract/SFXprof.h). scripts/bench-extract --profile runs it.
sfx_stub_variant(sfx-x64-profile SFX_PROFILE ${CMAKE_BINARY_DIR}/tools/sfx-x64-profile.exe)
