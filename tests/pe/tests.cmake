# Static checks of both stubs' PE files (headers, imports, every resource),
# and the icons against their text pictures.

add_executable(sfx-pe-check
    ${SFX_ROOT}/tests/pe/pe_check_test.cpp
    ${SFX_ROOT}/tests/pe/pe_image.cpp
    ${SFX_ROOT}/tests/pe/dialog_template.cpp
    ${SFX_ROOT}/tests/pe/stub_check.cpp)
target_link_libraries(sfx-pe-check PRIVATE GTest::gtest)
target_compile_options(sfx-pe-check PRIVATE -Wall -Wextra)
add_test(NAME pe-x86 COMMAND sfx-pe-check ${SFX_DIST}/sfx-x86.exe x86)
add_test(NAME pe-x64 COMMAND sfx-pe-check ${SFX_DIST}/sfx-x64.exe x64)

include(${SFX_ROOT}/tools/mkicons/mkicons.cmake)
add_executable(sfx-icon-tests ${SFX_ROOT}/tests/pe/icon_sources_test.cpp)
target_link_libraries(sfx-icon-tests PRIVATE mkicons-lib GTest::gtest GTest::gtest_main)
target_compile_options(sfx-icon-tests PRIVATE -Wall -Wextra)
target_compile_definitions(sfx-icon-tests PRIVATE SFX_ICON_DIR="${SFX_ROOT}/ui/icons")
add_test(NAME icons COMMAND sfx-icon-tests)
