# Unit tests of the program's Windows code (built by tests/windows.cmake in
# the x86-64 build), run under Wine. They run in a time zone away from UTC,
# so that a DOS stamp taken as UTC instead of local time shows; TZ is a POSIX
# rule, which needs no time-zone data on the machine.
# A run passes on GoogleTest's summary, not on the exit code alone: a stack
# overflow can end a Wine process with code 0.
add_test(NAME win-unit
    COMMAND ${SFX_WINE_SESSION} run ${SFX_WINE_DIR} ${SFX_X64_DIR}/tests/sfx-win-tests.exe)
set_tests_properties(win-unit PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "TZ=IST-5:30"
    PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ test"
    FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]"
    TIMEOUT 120
    LABELS wine)
