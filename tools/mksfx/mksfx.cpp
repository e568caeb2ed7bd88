// mksfx: writes a self-extracting file: the stub, an optional 256-byte
// settings block, then the ZIP archive, byte for byte.
//
//   mksfx [--stub FILE] [--title TEXT] [--folder TEXT | --temp-folder]
//         [--run TEXT] [--hide-run] [--all-files]
//         [--overwrite confirm|never|always] [--hide-overwrite]
//         [--flags BYTE] [--no-settings] -o OUT ZIP
//
// A settings block is written when any option asks for one. Its flags byte
// starts as 0x03 (run check box shown, user selects files, confirm).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const size_t StubSize = 43008;
const size_t SettingsBlockSize = 256;
const size_t SettingsStringsMax = 249;

struct Options {
    std::string stub = "dist/sfx-x86.exe";
    std::string title, folder, run, output, archive;
    int flags = 0x03;
    bool block = false;
    bool noSettings = false;
};

void Usage(FILE* to)
{
    std::fputs(
        "usage: mksfx [--stub FILE] [--title TEXT] [--folder TEXT | --temp-folder]\n"
        "             [--run TEXT] [--hide-run] [--all-files]\n"
        "             [--overwrite confirm|never|always] [--hide-overwrite]\n"
        "             [--flags BYTE] [--no-settings] -o OUT ZIP\n"
        "example: mksfx --title \"Demo\" --temp-folder --run \"><setup.exe\" -o demo.exe demo.zip\n",
        to);
}

bool ReadFile(const std::string& path, std::vector<char>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "mksfx: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "mksfx: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--stub") o.stub = value("--stub");
        else if (a == "--title") { o.title = value("--title"); o.block = true; }
        else if (a == "--folder") { o.folder = value("--folder"); o.block = true; }
        else if (a == "--temp-folder") { o.folder = "><"; o.block = true; }
        else if (a == "--run") { o.run = value("--run"); o.block = true; }
        else if (a == "--hide-run") { o.flags &= ~0x01; o.block = true; }
        else if (a == "--all-files") { o.flags &= ~0x02; o.block = true; }
        else if (a == "--hide-overwrite") { o.flags |= 0x04; o.block = true; }
        else if (a == "--overwrite") {
            std::string mode = value("--overwrite");
            o.flags &= ~0x18;
            if (mode == "always") o.flags |= 0x08;
            else if (mode == "never") o.flags |= 0x10;
            else if (mode != "confirm") return Fail("--overwrite takes confirm, never or always");
            o.block = true;
        }
        else if (a == "--flags") { o.flags = (int)std::strtol(value("--flags").c_str(), 0, 0) & 0xFF; o.block = true; }
        else if (a == "--no-settings") o.noSettings = true;
        else if (a == "-o") o.output = value("-o");
        else if (a == "-h" || a == "--help") { Usage(stdout); return 0; }
        else if (!a.empty() && a[0] == '-') { Usage(stderr); return 2; }
        else o.archive = a;
    }
    if (o.output.empty() || o.archive.empty()) {
        Usage(stderr);
        return 2;
    }
    if (o.noSettings && o.block)
        return Fail("--no-settings cannot be combined with settings");
    if (o.title.size() > 255 || o.folder.size() > 255 || o.run.size() > 255)
        return Fail("a title, folder or command is longer than 255 bytes");
    if (o.title.size() + o.folder.size() + o.run.size() > SettingsStringsMax)
        return Fail("title, folder and command together exceed 249 bytes");

    std::vector<char> stub, archive;
    if (!ReadFile(o.stub, stub))
        return Fail("cannot read the stub " + o.stub);
    if (stub.size() != StubSize)
        return Fail(o.stub + " is not a stub of " + std::to_string(StubSize) + " bytes");
    if (!ReadFile(o.archive, archive))
        return Fail("cannot read " + o.archive);

    std::vector<char> out(stub);
    if (o.block) {
        std::vector<char> block(SettingsBlockSize, 0);
        block[0] = 'M'; block[1] = 'P'; block[2] = 'U';
        block[3] = (char)o.flags;
        block[4] = (char)o.title.size();
        block[5] = (char)o.folder.size();
        block[6] = (char)o.run.size();
        std::string strings = o.title + o.folder + o.run;
        std::memcpy(&block[7], strings.data(), strings.size());
        out.insert(out.end(), block.begin(), block.end());
    }
    out.insert(out.end(), archive.begin(), archive.end());

    // Write beside the target and rename, so a failure leaves no half file.
    std::string temporary = o.output + ".part";
    {
        std::ofstream f(temporary, std::ios::binary | std::ios::trunc);
        if (!f || !f.write(out.data(), (std::streamsize)out.size()) || !f.flush()) {
            std::remove(temporary.c_str());
            return Fail("cannot write " + o.output);
        }
    }
    if (std::rename(temporary.c_str(), o.output.c_str()) != 0) {
        std::remove(temporary.c_str());
        return Fail("cannot write " + o.output);
    }
    return 0;
}
