# The icon builder: a library for the tests and the mkicons program.
if(NOT TARGET mkicons)
    add_library(mkicons-lib STATIC ${SFX_ROOT}/tools/mkicons/icon_source.cpp)
    target_include_directories(mkicons-lib PUBLIC ${SFX_ROOT}/tools/mkicons)
    target_compile_options(mkicons-lib PRIVATE -Wall -Wextra -O2)
    add_executable(mkicons ${SFX_ROOT}/tools/mkicons/mkicons.cpp)
    target_link_libraries(mkicons PRIVATE mkicons-lib)
    set_target_properties(mkicons PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()
