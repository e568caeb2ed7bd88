# End-to-end tests: the real stubs under Wine, driven through their dialogs
# by tests/driver. Every tests/e2e/test_*.py is one CTest test; the release
# smoke run under qemu-i386 is its own, slow one.
find_program(SFX_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(SFX_PYTHON3 python3 REQUIRED)

set(SFX_E2E_ENVIRONMENT
    SFX_WINE_ENV=${SFX_WINE_DIR}/env
    SFX_DIST=${SFX_DIST}
    SFX_DRIVER=${SFX_X64_DIR}/tests/sfx-driver.exe
    SFX_E2E_WORK=${CMAKE_BINARY_DIR}/e2e
    PYTHONDONTWRITEBYTECODE=1)

file(GLOB SFX_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.py)
foreach(script ${SFX_E2E_TESTS})
    get_filename_component(name ${script} NAME_WE)
    string(REGEX REPLACE "^test_" "e2e-" name ${name})
    add_test(NAME ${name} COMMAND ${SFX_PYTHON3} ${script})
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine
        ENVIRONMENT "${SFX_E2E_ENVIRONMENT}"
        TIMEOUT 300
        LABELS "wine;e2e")
endforeach()

# It watches every window that the shared X server maps, so no other test
# may map any meanwhile.
set_tests_properties(e2e-switches PROPERTIES RUN_SERIAL TRUE)

# Files of 5 GiB and 70,000 entries take their time.
set_tests_properties(e2e-zip64 PROPERTIES TIMEOUT 1200)

# One run of the i686 release: about a minute of emulation.
add_test(NAME e2e-release-i686 COMMAND ${SFX_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/smoke_i686.py)
set_tests_properties(e2e-release-i686 PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "${SFX_E2E_ENVIRONMENT}"
    TIMEOUT 600
    LABELS "wine;e2e;slow")
