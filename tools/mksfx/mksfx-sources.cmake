# The packer's sources besides mksfx.cpp, for the host and the Windows builds.
# It shares the extractor's rule for names that stay inside the destination.
set(MKSFX_LIBRARY_SOURCES
    ${SFX_ROOT}/tools/mksfx/archive_writer.cpp
    ${SFX_ROOT}/tools/mksfx/branding.cpp
    ${SFX_ROOT}/tools/mksfx/deflate_pieces.cpp
    ${SFX_ROOT}/tools/mksfx/deflate_reblock.cpp
    ${SFX_ROOT}/tools/mksfx/entry_packer.cpp
    ${SFX_ROOT}/tools/mksfx/folder_source.cpp
    ${SFX_ROOT}/tools/mksfx/info.cpp
    ${SFX_ROOT}/tools/mksfx/names.cpp
    ${SFX_ROOT}/tools/mksfx/pe_resources.cpp
    ${SFX_ROOT}/tools/mksfx/platform.cpp
    ${SFX_ROOT}/tools/mksfx/progress.cpp
    ${SFX_ROOT}/tools/mksfx/settings_block.cpp
    ${SFX_ROOT}/tools/mksfx/zip_reader.cpp
    ${SFX_ROOT}/tools/mksfx/zip_crypto.cpp
    ${SFX_ROOT}/tools/mksfx/zip_source.cpp
    ${SFX_ROOT}/extract/SFXpath.cpp
    ${SFX_ROOT}/extract/SFXname.cpp)
