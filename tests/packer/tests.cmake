# The packer: what it writes from folders and from the archives of zip,
# 7-Zip, bsdtar and Python's zipfile, read back as the extractor reads it,
# and every refusal. Its runs under Wine are tests/e2e/test_packer.py.
find_program(SFX_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(SFX_PYTHON3 python3 REQUIRED)

add_test(NAME packer COMMAND ${SFX_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/test_mksfx.py)
set_tests_properties(packer PROPERTIES
    ENVIRONMENT "MKSFX=$<TARGET_FILE:mksfx>;SFX_STUB=${SFX_DIST}/sfx-x86.exe;PYTHONDONTWRITEBYTECODE=1"
    TIMEOUT 300
    LABELS packer)
