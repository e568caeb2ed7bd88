# Windows programs of the hardening tests (x86-64 only), into tests/:
#   sfx-planted.dll          a DLL that leaves a marker when loaded; the DLL
#                            planting test copies it under system DLL names
#   sfx-x64-unhardened.exe   the stub built with SFX_UNHARDENED (DLLs found by
#                            the default search), padded like the real one;
#                            the planting test shows that it does load them
#   sfx-plant-probe.exe      a program with the stub's static imports that
#                            does nothing: what it loads, the system loads

add_library(sfx-planted SHARED ${SFX_ROOT}/tests/hardening/planted.cpp)
set_target_properties(sfx-planted PROPERTIES PREFIX "" OUTPUT_NAME sfx-planted
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_compile_options(sfx-planted PRIVATE -Wall -Wextra -Os -ffreestanding -fno-exceptions
    -fno-asynchronous-unwind-tables -fno-stack-protector)
target_link_options(sfx-planted PRIVATE -nostdlib -nostartfiles -s -Wl,--entry=PlantedEntry)
target_link_libraries(sfx-planted PRIVATE kernel32)

# The same sources, flags and resources as the stub; only the DLL search differs.
sfx_stub_variant(sfx-x64-unhardened SFX_UNHARDENED ${CMAKE_BINARY_DIR}/tests/sfx-x64-unhardened.exe)

add_executable(sfx-plant-probe WIN32 ${SFX_ROOT}/tests/hardening/probe.cpp)
set_target_properties(sfx-plant-probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_compile_options(sfx-plant-probe PRIVATE -Wall -Wextra -Os -ffreestanding -fno-exceptions
    -fno-asynchronous-unwind-tables -fno-stack-protector)
target_link_options(sfx-plant-probe PRIVATE -nostdlib -nostartfiles -s -Wl,--entry=ProbeEntry)
target_link_libraries(sfx-plant-probe PRIVATE kernel32 user32 gdi32 shell32)
