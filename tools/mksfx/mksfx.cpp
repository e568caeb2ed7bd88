// mksfx: makes a self-extracting file for Windows from a folder or a ZIP
// archive: the extractor, an optional 256-byte settings block, then a ZIP
// archive whose local headers alone describe every entry, since the
// extractor walks them and never reads the central directory.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "branding.h"
#include "deflate_pieces.h"
#include "entry_packer.h"
#include "info.h"
#include "pe_resources.h"
#include "platform.h"
#include "progress.h"
#include "settings_block.h"
#include "sources.h"
#include "zip_crypto.h"
#include "zip_format.h"
#include "zip_reader.h"

using namespace sfx;

namespace {

const char DefaultStubName[] = "sfx-x86.exe";

const char Help[] =
    "usage: mksfx [OPTIONS] -o OUT INPUT...\n"
    "       mksfx --info FILE [--password TEXT]\n"
    "       mksfx --version\n"
    "\n"
    "Makes OUT, a self-extracting file for Windows, from INPUT: a folder (its\n"
    "contents), a ZIP archive (its entries), or files and folders, each packed\n"
    "under its own name. Whoever runs OUT picks a folder and files in one dialog\n"
    "and gets them extracted; OUT then opens the program that --run names.\n"
    "Every option that takes a value takes it as --option VALUE or --option=VALUE,\n"
    "once.\n"
    "\n"
    "  -o OUT             the file to write; it appears only once it is complete,\n"
    "                     and it must be none of the files that mksfx reads\n"
    "  --stub FILE        the extractor to use (default: sfx-x86.exe beside mksfx,\n"
    "                     else in the current folder or in dist/)\n"
    "  --title TEXT       the caption of the dialog\n"
    "  --folder TEXT      the destination folder the dialog proposes\n"
    "  --temp-folder      propose the user's temporary folder instead\n"
    "  --run TEXT         open this after a successful extraction, written as\n"
    "                     PROGRAM or PROGRAM|PARAMETERS; \"><\" in it stands for\n"
    "                     the destination folder (with its final \\)\n"
    "  --hide-run         no check box to skip --run: it always runs\n"
    "  --automatic        unzip as soon as OUT starts, with no button to press,\n"
    "                     and close after a success (as the switch /A does)\n"
    "  --all-files        the user cannot deselect files: all are extracted\n"
    "  --overwrite MODE   for existing files: confirm (ask each time; the\n"
    "                     default), never, or always\n"
    "  --hide-overwrite   the user cannot change the overwrite mode\n"
    "  --level N          how hard to compress, 1 (fastest) to 12 (smallest; the\n"
    "                     default), or 0 to store every file as it is\n"
    "  --threads N        compress on N threads (default: one per processor); the\n"
    "                     output is the same for any N\n"
    "  --recompress       a ZIP INPUT's stored and deflated entries are decoded and\n"
    "                     compressed anew at --level, instead of copied as they are\n"
    "  --password TEXT    encrypt with traditional ZIP encryption; the extractor\n"
    "                     asks for the password. ASCII only, at most 79 characters.\n"
    "                     This encryption keeps out casual readers only: whoever\n"
    "                     knows or guesses a few bytes of a file inside can open\n"
    "                     it without the password. From a folder every file is\n"
    "                     encrypted; from a ZIP INPUT the entries not yet\n"
    "                     encrypted (the others keep their own password)\n"
    "  --password-file F  the password from the first line of the file F, so that\n"
    "                     it stays out of process lists and shell history\n"
    "  -q, --quiet        no progress line (one is shown on a terminal once\n"
    "                     packing has taken a second)\n"
    "  --name-encoding E  how a ZIP INPUT's names are read where an entry does not\n"
    "                     say (by flag bit 11 or a Unicode Path field): cp437,\n"
    "                     utf8, or ansi (the bytes as they are, read in the ANSI\n"
    "                     code page of the Windows that extracts them). Default:\n"
    "                     cp437 from MS-DOS and Windows hosts, else utf8 when the\n"
    "                     bytes are valid UTF-8, else ansi\n"
    "  --icon FILE.ico    the icon of OUT and of its dialog: every image of FILE.ico\n"
    "                     (any size up to 256x256, PNG ones included) replaces\n"
    "                     the extractor's own, byte for byte\n"
    "  --file-version A.B.C.D\n"
    "                     version information for Properties -> Details: file and\n"
    "                     product version, OUT's name as OriginalFilename, and\n"
    "  --product TEXT     ProductName,\n"
    "  --company TEXT     CompanyName,\n"
    "  --description TEXT FileDescription and\n"
    "  --copyright TEXT   LegalCopyright (UTF-8; those not given are left out)\n"
    "  --info FILE        show the icon sizes, version information, settings and\n"
    "                     entries of a self-extracting file, whether the\n"
    "                     extractor gets through all of them, and test every\n"
    "                     entry's data against its size and CRC-32 (encrypted\n"
    "                     ones only with --password or --password-file)\n"
    "  --version          mksfx's own version\n"
    "  -h, --help         this text\n"
    "\n"
    "Title, folder and command take at most 249 bytes together, in UTF-8 (a text\n"
    "beyond ASCII sets flag bit 5, which tells the extractor so). Any of the\n"
    "options from --title to --hide-overwrite writes a settings block; without\n"
    "one, the extractor proposes the current folder and lets the user choose.\n"
    "Icon and version information may be of any size: the extractor's resources\n"
    "grow to hold them, and so does the extractor, beyond its least length of\n"
    "43008 bytes. Every file written carries its PE checksum.\n"
    "\n"
    "A folder INPUT: its files and sub-folders (not the folder itself) with their\n"
    "modification times, deflated by libdeflate, or stored when that is smaller.\n"
    "Large files go in pieces of 4 MiB, compressed side by side. A symbolic link\n"
    "is packed as what it leads to, which must lie inside INPUT. Nothing may\n"
    "write to the files while mksfx reads them: a file whose size or time has\n"
    "changed by the end of its reading is refused.\n"
    "A ZIP INPUT: its entries, compressed data copied as it is and checked against\n"
    "its CRC-32, with fresh headers. Stored and deflated entries only, plain or\n"
    "with traditional ZIP encryption, ZIP64 or not; no AES, no symbolic links.\n"
    "ZIP64 records are written only where a size, offset or count needs them:\n"
    "an entry of 4 GiB or more, a header beyond 4 GiB, over 65535 entries.\n"
    "Names beyond ASCII are written as UTF-8 (flag bit 11), unless read as ansi.\n"
    "Refused, with no output written: names the extractor cannot write (over 258\n"
    "UTF-16 units, outside the destination, device names like CON, characters\n"
    "Windows forbids), two names for one file or for a file and a folder, an icon\n"
    "file that is no icon, an OUT that is write-protected, and any output that\n"
    "the extractor would not get through (the walk of --info).\n"
    "\n"
    "For tests of the extractor itself:\n"
    "  --flags BYTE       the settings block's flags byte as given (0x.. or decimal);\n"
    "                     the texts then go as their bytes, UTF-8 or not\n"
    "  --no-settings      write no settings block\n"
    "  --raw-zip          append INPUT byte for byte, unchecked\n"
    "\n"
    "Examples:\n"
    "  mksfx -o tools.exe build/tools\n"
    "  mksfx --title \"Demo 1.0\" --temp-folder --run \"><setup.exe|/quiet\" --hide-run \\\n"
    "        --all-files -o demo-setup.exe demo.zip\n"
    "  mksfx --stub dist/sfx-x64.exe --folder \"C:\\Demo\" --overwrite always \\\n"
    "        --hide-overwrite -o demo.exe demo/\n"
    "  mksfx --icon demo.ico --file-version 1.0.0.0 --product Demo --company \"Demo Ltd\" \\\n"
    "        -o demo-setup.exe demo/\n"
    "  mksfx --flags 0x07 --title Test -o test.exe test.zip\n"
    "  mksfx --raw-zip --no-settings -o odd.exe odd.zip\n"
    "  mksfx --info demo-setup.exe\n"
    "\n"
    "Signing: sign OUT after mksfx made it (osslsigncode, signtool); the signature\n"
    "goes behind the archive, where the extractor never reads.\n"
    "\n"
    "Exit status: 0 done; 1 refused or failed, and OUT is left as it was; 2 wrong\n"
    "usage. With --info: 0 when the extractor gets through every entry and every\n"
    "entry checked decodes right, else 1.\n";

void Warn(const std::string& text)
{
    std::fprintf(stderr, "mksfx: warning: %s\n", text.c_str());
}

[[noreturn]] void Usage(const std::string& problem)
{
    std::fprintf(stderr, "mksfx: %s\nTry 'mksfx --help'.\n", problem.c_str());
    std::exit(2);
}

struct Options {
    std::string stub, output, info;
    std::vector<std::string> inputs;
    Settings settings;
    NameEncoding encoding = NameEncoding::Guess;
    bool encodingGiven = false;
    Branding branding;
    bool noSettings = false;
    bool raw = false;
    PackOptions pack;
    bool levelGiven = false, recompress = false, quiet = false, hideRun = false;
    std::string passwordFile;
    bool passwordGiven = false;
};

// A number from the command line, within bounds, or wrong usage.
int NumberArgument(const std::string& option, const std::string& text, int low, int high)
{
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || n < low || n > high)
        Usage(option + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not " + text);
    return (int)n;
}

// The first line of a file, without its line end.
std::string ReadPasswordFile(const std::string& path)
{
    InputFile file(path);
    if (file.Size() > 4096)
        throw Failure(path + " is too large to hold a password");
    std::string text((size_t)file.Size(), '\0');
    file.ReadAt(0, &text[0], text.size());
    size_t end = text.find('\n');
    if (end != std::string::npos)
        text.resize(end);
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}


Options Parse(const std::vector<std::string>& argv)
{
    Options o;
    bool folderGiven = false, tempFolder = false, options = true;
    bool versionText = false;
    std::set<std::string> given;
    int argc = (int)argv.size();
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        // --option=value as well as --option value.
        std::string attached;
        bool hasAttached = false;
        size_t equals = a.find('=');
        if (options && a.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            attached = a.substr(equals + 1);
            a.resize(equals);
            hasAttached = true;
        }
        auto value = [&]() -> std::string {
            if (!given.insert(a).second)
                Usage(a + " is given twice");
            if (hasAttached) {
                hasAttached = false;
                return attached;
            }
            if (i + 1 >= argc)
                Usage(a + " needs a value");
            return argv[++i];
        };
        auto setting = [&]() -> Settings& {
            o.settings.present = true;
            return o.settings;
        };
        if (!options || a.empty() || a[0] != '-') {
            o.inputs.push_back(a);
        } else if (a == "--") options = false;
        else if (a == "-o") o.output = value();
        else if (a == "--stub") o.stub = value();
        else if (a == "--info") o.info = value();
        else if (a == "--level") { o.pack.level = NumberArgument(a, value(), 0, MaxLevel); o.levelGiven = true; }
        else if (a == "--threads") o.pack.threads = NumberArgument(a, value(), 1, 256);
        else if (a == "--recompress") o.recompress = true;
        else if (a == "--quiet" || a == "-q") o.quiet = true;
        else if (a == "--password") {
            if (o.passwordGiven)
                Usage("one --password or --password-file only");
            o.pack.password = value();
            o.passwordGiven = true;
        } else if (a == "--password-file") {
            if (o.passwordGiven)
                Usage("one --password or --password-file only");
            o.passwordFile = value();
            o.passwordGiven = true;
        }
        else if (a == "--title") setting().title = value();
        else if (a == "--folder") { setting().folder = value(); folderGiven = true; }
        else if (a == "--temp-folder") { setting().folder = TemporaryFolderToken; tempFolder = true; }
        else if (a == "--run") setting().run = value();
        else if (a == "--hide-run") { setting().flags &= ~FlagShowRunCheckBox; o.hideRun = true; }
        else if (a == "--automatic") setting().flags |= FlagAutomatic;
        else if (a == "--all-files") setting().flags &= ~FlagUserSelectsFiles;
        else if (a == "--hide-overwrite") setting().flags |= FlagHideOverwriteOptions;
        else if (a == "--overwrite") {
            std::string mode = value();
            int bits = mode == "always" ? FlagOverwriteAlways : mode == "never" ? FlagOverwriteNever : 0;
            if (bits == 0 && mode != "confirm")
                Usage("--overwrite takes confirm, never or always, not " + mode);
            setting().flags = (setting().flags & ~FlagOverwriteMask) | bits;
        } else if (a == "--name-encoding") {
            std::string name = value();
            if (name == "cp437") o.encoding = NameEncoding::Cp437;
            else if (name == "utf8") o.encoding = NameEncoding::Utf8;
            else if (name == "ansi") o.encoding = NameEncoding::Ansi;
            else Usage("--name-encoding takes cp437, utf8 or ansi, not " + name);
            o.encodingGiven = true;
        } else if (a == "--flags") {
            std::string text = value();
            char* end = nullptr;
            long flags = std::strtol(text.c_str(), &end, 0);
            if (text.empty() || *end != 0 || flags < 0 || flags > 255)
                Usage("--flags takes a byte, 0 to 255 or 0x00 to 0xFF, not " + text);
            setting().flags = (int)flags;
            setting().flagsAsGiven = true;
        } else if (a == "--icon") o.branding.icon = value();
        else if (a == "--file-version") {
            std::string text = value();
            if (!ParseVersion(text, o.branding.version))
                Usage("--file-version takes four numbers from 0 to 65535, A.B.C.D, not " + text);
            o.branding.versioned = true;
        } else if (a == "--product") { o.branding.product = value(); versionText = true; }
        else if (a == "--company") { o.branding.company = value(); versionText = true; }
        else if (a == "--description") { o.branding.description = value(); versionText = true; }
        else if (a == "--copyright") { o.branding.copyright = value(); versionText = true; }
        else if (a == "--no-settings") o.noSettings = true;
        else if (a == "--raw-zip") o.raw = true;
        else if (a == "-h" || a == "--help") {
            std::fputs(Help, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::printf("mksfx %s\n", MKSFX_VERSION);
            std::exit(0);
        } else Usage("unknown option " + a);
        if (hasAttached)
            Usage(a + " takes no value");
    }
    if (!o.info.empty()) {
        if (!o.output.empty() || !o.inputs.empty() || o.settings.present || o.encodingGiven || o.branding.Any()
            || versionText || o.levelGiven || o.recompress)
            Usage("--info takes a file, and --password or --password-file for its encrypted entries");
        return o;
    }
    if (o.output.empty() || o.inputs.empty())
        Usage("needs -o OUT and an INPUT: a folder, a ZIP file, or files and folders");
    if (folderGiven && tempFolder)
        Usage("--folder and --temp-folder exclude each other");
    if (o.noSettings && o.settings.present)
        Usage("--no-settings cannot be combined with settings");
    if (o.raw && (o.encodingGiven || o.recompress || o.passwordGiven || o.levelGiven))
        Usage("--raw-zip copies the archive as it is; --name-encoding, --level, --recompress and --password cannot "
              "apply");
    if (versionText && !o.branding.versioned)
        Usage("--product, --company, --description and --copyright need --file-version");
    return o;
}

std::string FindStub(const Options& o, const char* argv0)
{
    if (!o.stub.empty())
        return o.stub;
    std::string beside = ProgramFolder(argv0);
    std::vector<std::string> candidates = {beside.empty() ? DefaultStubName : beside + "/" + DefaultStubName,
                                           DefaultStubName, std::string("dist/") + DefaultStubName};
    for (const std::string& c : candidates)
        if (KindOf(c) == Kind::File)
            return c;
    throw Failure(std::string("cannot find the extractor ") + DefaultStubName + " beside mksfx ("
                  + (beside.empty() ? "?" : beside) + ") or in the current folder; name it with --stub");
}

// The extractor, as long as its image says (StubLength): a self-extracting
// file, or a stub with anything behind it, is refused.
std::string ReadStub(const std::string& path)
{
    InputFile file(path);
    std::string headers((size_t)std::min<uint64_t>(file.Size(), StubHeadersSize), '\0');
    file.ReadAt(0, &headers[0], headers.size());
    if (headers.compare(0, 2, "MZ") != 0)
        throw Failure(path + " is not a Windows program");
    uint64_t length = StubLength(headers);
    if (file.Size() != length)
        throw Failure(path + " has " + std::to_string(file.Size()) + " bytes; an extractor whose image ends at "
                      + std::to_string(ImageEnd(headers)) + " has exactly " + std::to_string(length));
    std::string stub((size_t)length, '\0');
    file.ReadAt(0, &stub[0], stub.size());
    return stub;
}

std::unique_ptr<Source> OpenSource(const Options& o)
{
    const std::string& first = o.inputs[0];
    Kind kind = KindOf(first);
    if (kind == Kind::Missing)
        throw Failure("cannot find " + first);
    if (o.raw) {
        if (o.inputs.size() > 1 || kind != Kind::File)
            throw Failure("--raw-zip needs one file, a ZIP archive");
        return std::make_unique<RawSource>(first);
    }
    // One file with an end record is a ZIP INPUT; anything else is packed
    // file by file.
    if (o.inputs.size() == 1 && kind == Kind::File) {
        InputFile file(first);
        char start[4] = {0};
        file.ReadAt(0, start, (size_t)std::min<uint64_t>(file.Size(), sizeof start));
        bool hasEndRecord = HasEndRecord(file);
        if (Get32(start) == LocalSignature && !hasEndRecord)
            throw Failure(first + " begins like a ZIP archive but is not one (it has no end of central directory "
                          "record): it may be cut short");
        if (hasEndRecord) {
            auto zip = std::make_unique<ZipSource>(first, o.encoding, o.recompress, o.pack.password);
            if (o.levelGiven && !o.recompress)
                Warn("--level has no effect without --recompress: a ZIP INPUT's entries are copied as they are");
            if (o.passwordGiven && !zip->EncryptsAny())
                Warn("--password has no effect: every entry of " + first + " is encrypted already");
            return zip;
        }
    }
    if (o.encodingGiven)
        Usage("--name-encoding is for a ZIP INPUT; names from folders and files are written as UTF-8");
    if (o.recompress)
        Usage("--recompress is for a ZIP INPUT; files from folders are always compressed");
    return std::make_unique<FolderSource>(o.inputs, o.output);
}

// OUT must be none of the files that this run reads: it is replaced once
// the output is complete, and whatever it was would be lost.
void RefuseOutputAmongInputs(const Options& o, const std::string& stubPath)
{
    std::string output = IdentityOf(o.output);
    if (output.empty())
        return;
    std::vector<std::pair<std::string, std::string>> read = {{"the extractor", stubPath}};
    for (const std::string& input : o.inputs)
        read.push_back({"INPUT", input});
    if (!o.branding.icon.empty())
        read.push_back({"the icon file", o.branding.icon});
    if (!o.passwordFile.empty())
        read.push_back({"the password file", o.passwordFile});
    for (const auto& [what, path] : read)
        if (IdentityOf(path) == output)
            throw Failure(o.output + " is " + what + " (" + path
                          + "); mksfx would replace it with its output, and it would be lost");
    if (WriteProtected(o.output))
        throw Failure(o.output + " exists and is write-protected; mksfx leaves it as it is");
}

// The file's name without its folder: OriginalFilename.
std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The PE checksum covers the whole file, archive included, so it is written
// last, from the file as it stands.
void WriteChecksum(OutputFile& out, size_t field)
{
    uint64_t end = out.Position();
    out.Flush();
    InputFile written(out.TemporaryPath());
    std::string sum;
    Put32(sum, FileChecksum(written, field, end));
    out.Seek(field);
    out.Write(sum);
    out.Seek(end);
}

// The password that --info checks encrypted entries with, or "".
std::string InfoPassword(const Options& o)
{
    return o.passwordFile.empty() ? o.pack.password : ReadPasswordFile(o.passwordFile);
}

int Pack(Options& o, const char* argv0, Progress& progress)
{
    if (!o.passwordFile.empty())
        o.pack.password = ReadPasswordFile(o.passwordFile);
    if (o.passwordGiven) {
        std::string problem = PasswordProblem(o.pack.password);
        if (!problem.empty())
            throw Failure(problem);
    }
    if (o.pack.threads == 0)
        o.pack.threads = ProcessorCount();
    std::string stubPath = FindStub(o, argv0);
    std::string stub = ReadStub(stubPath);
    if (o.branding.Any())
        stub = BrandStub(stub, stubPath, o.branding, FileName(o.output));
    std::string block = o.settings.present ? EncodeSettings(o.settings) : "";
    RefuseOutputAmongInputs(o, stubPath);
    if (o.hideRun && o.settings.run.empty())
        Warn("--hide-run has no effect without --run");
    std::unique_ptr<Source> source = OpenSource(o);
    progress.Expect(source->EntryCount(), source->ContentSize());
    OutputFile out(o.output);
    out.Write(stub);
    out.Write(block);
    ArchiveWriter writer(out);
    {
        EntryPacker packer(writer, o.pack, progress);
        source->Write(writer, packer);
    }
    progress.End();
    if (size_t field = ChecksumFieldOffset(stub))
        WriteChecksum(out, field);
    if (!o.raw) {
        // The walk that --info shows, over what was written: a file that
        // the extractor cannot get through is never given OUT's name.
        out.Flush();
        InputFile written(out.TemporaryPath());
        std::vector<std::string> problems = WalkProblems(written, stub.size() + block.size(), nullptr);
        if (!problems.empty())
            throw Failure("the extractor would not get through what was written, so " + o.output
                          + " is left as it was: " + problems[0]);
    }
    out.Commit();
    if (o.raw)
        std::printf("%s: %llu bytes\n", o.output.c_str(), (unsigned long long)out.Position());
    else
        std::printf("%s: %zu entries, %llu bytes\n", o.output.c_str(), source->EntryCount(),
                    (unsigned long long)out.Position());
    return 0;
}

int Main(const std::vector<std::string>& arguments)
{
    Options o = Parse(arguments);
    Progress progress(!o.quiet);
    try {
        if (!o.info.empty())
            return ShowInfo(o.info, stdout, InfoPassword(o));
        return Pack(o, arguments.empty() ? "" : arguments[0].c_str(), progress);
    } catch (const Failure& f) {
        progress.End();
        std::fprintf(stderr, "mksfx: %s\n", f.what());
        return 1;
    } catch (const std::bad_alloc&) {
        progress.End();
        std::fprintf(stderr, "mksfx: out of memory\n");
        return 1;
    }
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    return Main(ArgumentsOf(argc, argv));
}
