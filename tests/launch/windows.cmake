# The program that end-to-end tests have the extractor launch after a
# successful extraction; it records how it was started.
add_executable(sfx-recorder ${SFX_ROOT}/tests/launch/recorder.cpp)
target_compile_options(sfx-recorder PRIVATE -Wall -Wextra -O2)
target_link_options(sfx-recorder PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--subsystem,console)
set_target_properties(sfx-recorder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
