# The packer's other sources and zlib (tools/CMakeLists.txt makes the target).
include(${SFX_ROOT}/tools/mksfx/mksfx-sources.cmake)
find_package(ZLIB REQUIRED)
target_sources(mksfx PRIVATE ${MKSFX_LIBRARY_SOURCES})
target_include_directories(mksfx PRIVATE ${SFX_ROOT})
target_link_libraries(mksfx PRIVATE ZLIB::ZLIB)
