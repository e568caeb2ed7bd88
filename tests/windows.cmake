# Windows programs that the host build's tests run under Wine (x86-64 only):
#   tests/sfx-driver.exe     sees and presses dialogs for the end-to-end tests
#   tests/sfx-win-tests.exe  unit tests of the program's Windows code
# Both are ordinary console programs, linked statically so that Wine needs
# no MinGW DLLs.

set(SFX_TEST_BIN ${CMAKE_BINARY_DIR}/tests)
set(SFX_TEST_LINK -static -static-libgcc -static-libstdc++ -Wl,--subsystem,console)

add_executable(sfx-driver ${SFX_ROOT}/tests/driver/driver.cpp)
target_compile_options(sfx-driver PRIVATE -Wall -Wextra -O2)
target_link_options(sfx-driver PRIVATE ${SFX_TEST_LINK})
target_link_libraries(sfx-driver PRIVATE user32 gdi32 shell32 version)
set_target_properties(sfx-driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SFX_TEST_BIN})

# GoogleTest from Debian's source package, built with this toolchain.
set(SFX_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${SFX_GTEST_SOURCE}/src/gtest-all.cc)
    message(FATAL_ERROR "GoogleTest sources not found in ${SFX_GTEST_SOURCE} (apt-get install libgtest-dev)")
endif()
add_library(sfx-gtest STATIC
    ${SFX_GTEST_SOURCE}/src/gtest-all.cc
    ${SFX_GTEST_SOURCE}/src/gtest_main.cc)
# Our port hook (tests/win/port) must come before the stock one.
target_include_directories(sfx-gtest SYSTEM BEFORE PUBLIC
    ${SFX_ROOT}/tests/win/port ${SFX_GTEST_SOURCE}/include)
target_include_directories(sfx-gtest PRIVATE ${SFX_GTEST_SOURCE})
target_compile_options(sfx-gtest PRIVATE -O1)

# The program's own code, as the stub compiles it but with a C runtime, and
# with the stack protector so that an overrun of a local buffer ends the run.
file(GLOB SFX_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${SFX_ROOT}/tests/win/*.cpp)
add_executable(sfx-win-tests ${SFX_WIN_TEST_SOURCES} ${SFX_PROGRAM_SOURCES})
target_include_directories(sfx-win-tests PRIVATE ${SFX_ROOT})
target_compile_options(sfx-win-tests PRIVATE -Wall -Wextra -O2 -fstack-protector-all)
target_link_options(sfx-win-tests PRIVATE ${SFX_TEST_LINK} -fstack-protector-all)
target_link_libraries(sfx-win-tests PRIVATE sfx-gtest user32 gdi32 shell32 ssp)
set_target_properties(sfx-win-tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SFX_TEST_BIN})
