// icongen OUTDIR
//
// Writes Snoopsweep's icon files into OUTDIR, which must already exist. The output depends on
// nothing but this source, so the icons can be regenerated and compared byte for byte.
#include "tools/icongen/icon_writer.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: icongen OUTDIR\n");
        return 2;
    }
    const std::filesystem::path outDir = argv[1];
    std::error_code ec;
    if (!std::filesystem::is_directory(outDir, ec)) {
        std::fprintf(stderr, "icongen: %s is not a directory\n", argv[1]);
        return 1;
    }

    try {
        for (const icongen::IconFile& file : icongen::BuildAllIcons()) {
            const std::filesystem::path path = outDir / file.fileName;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(file.data.data()),
                      std::streamsize(file.data.size()));
            out.close();
            if (!out) {
                std::fprintf(stderr, "icongen: cannot write %s\n", path.string().c_str());
                return 1;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "icongen: %s\n", e.what());
        return 1;
    }
    return 0;
}
