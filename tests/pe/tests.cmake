# Static checks of both stubs' PE files (headers, layout, relocations,
# imports, every resource), the same checks of both stubs as mksfx brands
# them, and the icons against their text pictures.
find_program(SFX_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(SFX_PYTHON3 python3 REQUIRED)

add_executable(sfx-pe-check
    ${SFX_ROOT}/tests/pe/pe_check_test.cpp
    ${SFX_ROOT}/tests/pe/pe_image.cpp
    ${SFX_ROOT}/tests/pe/dialog_template.cpp
    ${SFX_ROOT}/tests/pe/stub_check.cpp)
target_link_libraries(sfx-pe-check PRIVATE GTest::gtest)
target_compile_options(sfx-pe-check PRIVATE -Wall -Wextra)
add_test(NAME pe-x86 COMMAND sfx-pe-check ${SFX_DIST}/sfx-x86.exe x86)
add_test(NAME pe-x64 COMMAND sfx-pe-check ${SFX_DIST}/sfx-x64.exe x64)

set(SFX_BRANDED_DIR ${CMAKE_BINARY_DIR}/pe)
add_test(NAME pe-brand COMMAND ${SFX_PYTHON3} ${SFX_ROOT}/tests/pe/make_branded.py
    $<TARGET_FILE:mksfx> ${SFX_DIST} ${SFX_BRANDED_DIR})
set_tests_properties(pe-brand PROPERTIES FIXTURES_SETUP branded-stubs)
foreach(arch x86 x64)
    add_test(NAME pe-${arch}-branded COMMAND sfx-pe-check ${SFX_BRANDED_DIR}/branded-${arch}.exe ${arch} branded)
    set_tests_properties(pe-${arch}-branded PROPERTIES FIXTURES_REQUIRED branded-stubs)
endforeach()

# The padding rule of the build, on the linked x86-64 stub.
add_test(NAME pe-pad COMMAND ${SFX_PYTHON3} ${SFX_ROOT}/tests/pe/pad_stub_test.py ${SFX_ROOT}/scripts/pad-stub
    ${SFX_X64_DIR}/sfx-x64-unpadded.exe ${CMAKE_BINARY_DIR}/pe-pad)

include(${SFX_ROOT}/tools/mkicons/mkicons.cmake)
add_executable(sfx-icon-tests ${SFX_ROOT}/tests/pe/icon_sources_test.cpp)
target_link_libraries(sfx-icon-tests PRIVATE mkicons-lib GTest::gtest GTest::gtest_main)
target_compile_options(sfx-icon-tests PRIVATE -Wall -Wextra)
target_compile_definitions(sfx-icon-tests PRIVATE SFX_ICON_DIR="${SFX_ROOT}/ui/icons")
add_test(NAME icons COMMAND sfx-icon-tests)
