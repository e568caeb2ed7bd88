// mkicons: builds the program's .ico files from their text pictures.
//
//   mkicons SOURCE_DIR [OUT_DIR]
//
// Reads palette.txt and the pictures from SOURCE_DIR (normally ui/icons)
// and writes mnicon.ico, ovr.ico, zflr.ico and zlock.ico to OUT_DIR, which
// defaults to SOURCE_DIR.
#include <cstdio>
#include <fstream>

#include "icon_source.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: mkicons SOURCE_DIR [OUT_DIR]\n", stderr);
        return 2;
    }
    const std::string sourceDir = argv[1];
    const std::string outDir = argc == 3 ? argv[2] : sourceDir;
    try {
        for (const mkicons::IconFile& icon : mkicons::ProgramIcons) {
            const mkicons::Bytes ico = mkicons::BuildIconFromDir(sourceDir, icon);
            const std::string path = outDir + "/" + icon.ico;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
            if (!out.flush()) {
                std::fprintf(stderr, "mkicons: cannot write %s\n", path.c_str());
                return 1;
            }
        }
    } catch (const mkicons::SourceError& e) {
        std::fprintf(stderr, "mkicons: %s\n", e.what());
        return 1;
    }
    return 0;
}
