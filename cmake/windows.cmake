# Windows builds: the stub, and (x86-64 only) the programs that tests run
# under Wine.

# The stub: no C runtime, its own entry point, no exceptions or RTTI.
include(${SFX_ROOT}/cmake/stub-sources.cmake)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(SFX_ARCH x64)
    set(SFX_ENTRY SfxEntry)
else()
    set(SFX_ARCH x86)
    set(SFX_ENTRY _SfxEntry)
endif()

set(SFX_STUB_CFLAGS
    -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -fno-stack-protector -fno-threadsafe-statics
    -fno-ident -fomit-frame-pointer -ffunction-sections -Wall -Wextra -Werror)

# The decoders are where the time goes: optimised for speed, and compiled
# apart from the link-time optimisation below, so that what it does to the
# rest of the program never changes their code.
add_library(sfx-decode OBJECT ${SFX_DECODE_SOURCES})
target_compile_options(sfx-decode PRIVATE ${SFX_STUB_CFLAGS} -O2)
if(SFX_ARCH STREQUAL "x64")
    # Compiled for size, the x86-64 CRC-32 runs as fast (its time is the
    # table loads and the carry-less multiplications) in 1.2 KB less. The
    # i686 release keeps -O2: there the table path would take 1 % more
    # instructions (scripts/bench-i686).
    set_source_files_properties(${SFX_ROOT}/decode/SFXcrc.cpp TARGET_DIRECTORY sfx-decode PROPERTIES
        COMPILE_OPTIONS -Os)
endif()

# Everything else is optimised for size, across files at link time; its
# data are aligned only as far as the ABI asks, not padded for speed.
set(SFX_SIZE_SOURCES ${SFX_PROGRAM_SOURCES} ${SFX_STUB_ONLY})
list(REMOVE_ITEM SFX_SIZE_SOURCES ${SFX_DECODE_SOURCES})
set(SFX_SIZE_CFLAGS -Oz -malign-data=abi -flto)
if(SFX_ARCH STREQUAL "x86")
    # Arguments pushed rather than stored into space reserved in each frame,
    # and the stack kept at the 4-byte alignment that Win32 guarantees. Stack
    # probes need the reserved space, so there are none: no function may use
    # more than 4000 bytes of stack, less than the guard page, which the
    # check at link time (where the code is generated) enforces.
    list(APPEND SFX_SIZE_CFLAGS -mno-accumulate-outgoing-args -mno-stack-arg-probe
        -mpreferred-stack-boundary=2 -Wstack-usage=4000)
endif()
set(SFX_STUB_SOURCES ${SFX_SIZE_SOURCES} $<TARGET_OBJECTS:sfx-decode>)

add_executable(sfx WIN32 ${SFX_STUB_SOURCES})
set_target_properties(sfx PROPERTIES OUTPUT_NAME sfx-${SFX_ARCH}-unpadded)
target_compile_options(sfx PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SFX_STUB_CFLAGS};${SFX_SIZE_CFLAGS}>)
# The runtime routines must not be turned back into calls to themselves.
set_source_files_properties(${SFX_ROOT}/startup/SFXrt.cpp PROPERTIES
    COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
target_link_options(sfx PRIVATE
    -nostdlib -nostartfiles -s -Wl,--entry=${SFX_ENTRY}
    -Wl,--subsystem,windows -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--no-insert-timestamp -Wl,--gc-sections ${SFX_SIZE_CFLAGS} -Wall -Wextra -Werror
    -Wl,-T,${SFX_ROOT}/cmake/stub.ld)
set_property(TARGET sfx APPEND PROPERTY LINK_DEPENDS ${SFX_ROOT}/cmake/stub.ld)
if(SFX_ARCH STREQUAL "x64")
    target_link_options(sfx PRIVATE -Wl,--high-entropy-va)
endif()
# Only DLLs that Windows always takes from the system folder; anything else
# is loaded by full path at run time.
target_link_libraries(sfx PRIVATE kernel32 user32 gdi32 shell32 gcc)
set_property(SOURCE ${SFX_ROOT}/ui/SFXres.rc APPEND PROPERTY OBJECT_DEPENDS
    ${SFX_ROOT}/ui/SFXres.h ${SFX_ROOT}/ui/SFXmanifest.xml ${SFX_ROOT}/ui/icons/mnicon.ico ${SFX_ROOT}/ui/icons/ovr.ico
    ${SFX_ROOT}/ui/icons/zflr.ico ${SFX_ROOT}/ui/icons/zlock.ico)

# Pad to exactly StubSize into dist/, or fail with the reason.
add_custom_command(TARGET sfx POST_BUILD
    COMMAND ${SFX_ROOT}/scripts/pad-stub $<TARGET_FILE:sfx> ${SFX_DIST}/sfx-${SFX_ARCH}.exe 43008
    VERBATIM)

# A variant of the stub for tests and measurements: the same sources, flags
# and resources with one more definition, padded like the stub to PADDED.
function(sfx_stub_variant target definition padded)
    get_target_property(options sfx COMPILE_OPTIONS)
    get_target_property(link_options sfx LINK_OPTIONS)
    get_target_property(libraries sfx LINK_LIBRARIES)
    add_executable(${target} WIN32 ${SFX_STUB_SOURCES})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${target}-unpadded)
    target_compile_definitions(${target} PRIVATE ${definition})
    target_compile_options(${target} PRIVATE ${options})
    target_link_options(${target} PRIVATE ${link_options})
    target_link_libraries(${target} PRIVATE ${libraries})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${SFX_ROOT}/scripts/pad-stub $<TARGET_FILE:${target}> ${padded} 43008
        VERBATIM)
endfunction()

if(SFX_ARCH STREQUAL "x64")
    include(${SFX_ROOT}/tests/windows.cmake OPTIONAL)
    include(${SFX_ROOT}/tests/launch/windows.cmake)
    include(${SFX_ROOT}/tests/hardening/windows.cmake)
endif()
include(${SFX_ROOT}/cmake/packer-windows.cmake)
if(SFX_ARCH STREQUAL "x64")
    include(${SFX_ROOT}/tools/benchextract/windows.cmake)
endif()
