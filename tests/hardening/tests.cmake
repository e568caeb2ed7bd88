# Hardening: the program against hostile archives and a hostile folder.
#   e2e-dll_planting   DLLs planted beside the file are never loaded (the
#                      Windows side, tests/hardening/windows.cmake, builds the
#                      planted DLL, a probe and the unhardened stub)
#   e2e-stress         mutated archives through the whole program; seed and
#                      count on its command line for longer runs
#   e2e-full_disk      extraction onto a 1 MiB tmpfs; skipped (exit code 77)
#                      where mounting is refused
#   e2e-hostile_archives  entries whose sizes only a data descriptor knows
#   walk-fuzz          the entry walk under libFuzzer (tests/fuzz/tests.cmake)
# The e2e scripts are registered by tests/e2e/tests.cmake; this file only
# adjusts them, so it must come after e2e in tests/CMakeLists.txt.
if(TEST e2e-stress)
    # About 1.3 s per case, 200 cases; the limit leaves room for a loaded machine.
    set_tests_properties(e2e-stress PROPERTIES TIMEOUT 1500 LABELS "wine;e2e;stress")
endif()
if(TEST e2e-full_disk)
    set_tests_properties(e2e-full_disk PROPERTIES SKIP_RETURN_CODE 77)
endif()
