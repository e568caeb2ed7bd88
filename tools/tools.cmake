# The packer's other sources, zlib and Debian's libdeflate (tools/CMakeLists.txt
# makes the target).
include(${SFX_ROOT}/tools/mksfx/mksfx-sources.cmake)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
target_sources(mksfx PRIVATE ${MKSFX_LIBRARY_SOURCES})
target_include_directories(mksfx PRIVATE ${SFX_ROOT})
target_compile_definitions(mksfx PRIVATE MKSFX_VERSION="${PROJECT_VERSION}")
find_library(SFX_LIBDEFLATE NAMES deflate REQUIRED)
find_path(SFX_LIBDEFLATE_INCLUDE libdeflate.h REQUIRED)
target_include_directories(mksfx PRIVATE ${SFX_LIBDEFLATE_INCLUDE})
target_link_libraries(mksfx PRIVATE ZLIB::ZLIB ${SFX_LIBDEFLATE} Threads::Threads)
