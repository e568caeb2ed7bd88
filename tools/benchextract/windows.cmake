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

# The stub as a measuring build: the same sources and flags, with timing
# counters of the extracting walk (extract/SFXprof.h), padded like the
# stub. scripts/bench-extract --profile runs it.
get_target_property(SFX_STUB_COMPILE_OPTIONS sfx COMPILE_OPTIONS)
get_target_property(SFX_STUB_LINK_OPTIONS sfx LINK_OPTIONS)
get_target_property(SFX_STUB_LIBRARIES sfx LINK_LIBRARIES)
add_executable(sfx-profile WIN32 ${SFX_STUB_SOURCES})
set_target_properties(sfx-profile PROPERTIES OUTPUT_NAME sfx-x64-profile-unpadded)
target_compile_definitions(sfx-profile PRIVATE SFX_PROFILE)
target_compile_options(sfx-profile PRIVATE ${SFX_STUB_COMPILE_OPTIONS})
target_link_options(sfx-profile PRIVATE ${SFX_STUB_LINK_OPTIONS})
target_link_libraries(sfx-profile PRIVATE ${SFX_STUB_LIBRARIES})
add_custom_command(TARGET sfx-profile POST_BUILD
    COMMAND ${SFX_ROOT}/scripts/pad-stub $<TARGET_FILE:sfx-profile>
            ${CMAKE_BINARY_DIR}/tools/sfx-x64-profile.exe 43008
    VERBATIM)
