// Static check of one stub's PE file, and proof that the check notices
// faults: every kind of fault is planted in a copy of the same file.
//
//   sfx-pe-check STUB.exe x86|x64 [branded] [GoogleTest options]
// or with SFX_PE_FILE, SFX_PE_ARCH (and SFX_PE_BRANDED=1) in the environment.
// A branded stub is what mksfx --icon --file-version writes before the archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "dialog_template.h"
#include "pe_image.h"
#include "stub_check.h"

namespace pe {
namespace {

std::string g_path;
Arch g_arch = Arch::X86;
Kind g_kind = Kind::Stub;

std::string Hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

std::string Join(const Findings& findings)
{
    std::string text;
    for (const std::string& f : findings)
        text += "  " + f + "\n";
    return text;
}

const Bytes& Stub()
{
    static const Bytes bytes = [] {
        std::ifstream in(g_path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

class StubTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(Stub().empty()) << "cannot read the stub " << g_path; }
};

// ---------------------------------------------------------------- the stub

TEST_F(StubTest, SizeMachineAndSubsystem)
{
    Findings findings;
    CheckHeaders(Stub(), g_arch, findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, SectionsDirectoriesAndRelocations)
{
    Findings findings;
    CheckLayout(Stub(), findings);
    CheckRelocations(Stub(), g_arch, findings);
    if (g_kind == Kind::Branded)
        CheckChecksum(Stub(), findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, ImportsOnlyDllsFromTheSystemFolder)
{
    Findings findings;
    CheckImports(Stub(), findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, HoldsExactlyTheProgramsResources)
{
    Findings findings;
    CheckResourceSet(ReadResources(Stub(), findings), g_kind, findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, DialogTemplatesMatchTheTables)
{
    Findings findings;
    CheckDialogs(ReadResources(Stub(), findings), findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, IconGroupsAndImages)
{
    Findings findings;
    CheckIcons(ReadResources(Stub(), findings), g_kind, findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, VersionInformation)
{
    Findings findings;
    CheckVersionInfo(ReadResources(Stub(), findings), g_kind, findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

TEST_F(StubTest, ManifestAndNoLocalHeaderSignature)
{
    Findings findings;
    CheckManifest(ReadResources(Stub(), findings), findings);
    CheckNoLocalHeaderSignature(Stub(), findings);
    EXPECT_TRUE(findings.empty()) << g_path << ":\n" << Join(findings);
}

// ------------------------------------------------- faults planted in a copy

Resource Find(const Bytes& file, uint16_t type, const std::string& name)
{
    const std::vector<Resource> resources = Image(file).Resources();
    for (const Resource& r : resources)
        if (r.type.isId && r.type.id == type && !r.name.isId && r.name.name == Widen(name))
            return r;
    for (const Resource& r : resources)
        if (r.type.isId && r.type.id == type && r.name.isId && std::to_string(r.name.id) == name)
            return r;
    throw FormatError("test setup: no resource " + name);
}

// File offset of control `number` (from 1) of a dialog.
size_t ControlOffset(const Bytes& file, const std::string& dialog, int number)
{
    const Resource r = Find(file, RtDialog, dialog);
    return r.dataOffset + ParseDialogTemplate(r.data).items.at(number - 1).offset;
}

// Offset of the first UTF-16 occurrence of `text` inside a resource.
size_t TextOffset(const Bytes& file, uint16_t type, const std::string& name, const std::string& text)
{
    const Resource r = Find(file, type, name);
    for (size_t i = 0; i + 2 * text.size() <= r.data.size(); i += 2) {
        bool match = true;
        for (size_t k = 0; k < text.size() && match; ++k)
            match = Read16(r.data, i + 2 * k) == static_cast<uint8_t>(text[k]);
        if (match)
            return r.dataOffset + i;
    }
    throw FormatError("test setup: no \"" + text + "\" in " + name);
}

class PlantedFault : public StubTest {
protected:
    void SetUp() override
    {
        StubTest::SetUp();
        copy = Stub();
        clean = CheckStub(copy, g_arch, g_kind);
    }

    // Among the findings for the copy that the untouched stub does not have,
    // each expected text must be part of one. Then the copy is reset.
    template <typename... Texts>
    void ExpectCaught(const Texts&... texts)
    {
        const std::vector<std::string> expected = {texts...};
        const Findings after = CheckStub(copy, g_arch, g_kind);
        Findings fresh;
        for (const std::string& f : after)
            if (std::find(clean.begin(), clean.end(), f) == clean.end())
                fresh.push_back(f);
        for (const std::string& e : expected) {
            const bool found = std::any_of(fresh.begin(), fresh.end(),
                                           [&](const std::string& f) { return f.find(e) != std::string::npos; });
            EXPECT_TRUE(found) << "no new finding mentions \"" << e << "\"; new findings:\n" << Join(fresh);
        }
        copy = Stub();
    }

    Bytes copy;
    Findings clean;
};

TEST_F(PlantedFault, HeadersAndSize)
{
    const Image image(copy);
    const size_t size = copy.size();
    copy.push_back(0);
    ExpectCaught("file size is " + std::to_string(size + 1));
    copy.resize(size - 512);
    ExpectCaught("file size is " + std::to_string(size - 512));
    Write16(copy, image.peHeaderOffset() + 4, g_arch == Arch::X86 ? MachineAmd64 : MachineI386);
    ExpectCaught(g_arch == Arch::X86 ? "machine is 0x8664, expected 0x014C" : "machine is 0x014C, expected 0x8664");
    Write16(copy, image.optionalHeaderOffset(), 0x0107);
    ExpectCaught("not a readable PE file");
    Write16(copy, image.subsystemOffset(), 3);
    ExpectCaught("subsystem (2 is the GUI) is 3");
    copy[0] = 'N';
    ExpectCaught("no MZ header");
}

TEST_F(PlantedFault, ManifestAndSignature)
{
    const Resource manifest = Find(copy, RtManifest, "1");
    const std::string text(manifest.data.begin(), manifest.data.end());
    const size_t level = text.find("asInvoker");
    ASSERT_NE(level, std::string::npos);
    std::memcpy(&copy[manifest.dataOffset + level], "asAdmin  ", 9);
    ExpectCaught("does not request the execution level asInvoker");
    const size_t aware = text.find(">true</longPathAware>");
    ASSERT_NE(aware, std::string::npos);
    std::memcpy(&copy[manifest.dataOffset + aware + 1], "fals", 4);
    ExpectCaught("does not declare longPathAware");
    for (const char* planted : {"2005/WindowsSettings\">true", "Common-Controls\" version=\"6", "{8e0f7a12"}) {
        const size_t at = text.find(planted);
        ASSERT_NE(at, std::string::npos) << planted;
        copy[manifest.dataOffset + at + std::strlen(planted) - 1] ^= 1;
    }
    ExpectCaught("not declare the program aware of the display's DPI", "not depend on the common controls 6",
                 "not name Windows 10 and 11");

    // Near the end: in the padding behind the image, if there is any.
    const uint8_t signature[] = {0x50, 0x4B, 0x03, 0x04};
    const size_t at = copy.size() - 8;
    std::memcpy(&copy[at], signature, sizeof signature);
    ExpectCaught("local-header signature at offset " + std::to_string(at));
}

TEST_F(PlantedFault, ImportsOfOtherDlls)
{
    // In place, so no longer than the name it replaces.
    auto rename = [&](const std::string& from, const std::string& to) {
        for (const Import& i : Image(copy).Imports()) {
            if (i.dll == from && to.size() <= from.size()) {
                std::memcpy(&copy[i.nameOffset], to.c_str(), to.size() + 1);
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(rename("USER32.dll", "msvcrt.dll"));
    ExpectCaught("imports msvcrt.dll");
    ASSERT_TRUE(rename("KERNEL32.dll", "COMCTL32.dll"));
    ExpectCaught("imports COMCTL32.dll");
    ASSERT_TRUE(rename("USER32.dll", "MPR.dll"));
    ExpectCaught("imports MPR.dll");

    // Names are matched without regard to case, as Windows does.
    ASSERT_TRUE(rename("USER32.dll", "user32.DLL"));
    Findings findings;
    CheckImports(copy, findings);
    EXPECT_TRUE(findings.empty()) << Join(findings);
}

TEST_F(PlantedFault, DialogHeaders)
{
    const size_t main = Find(copy, RtDialog, "MAINDIALOG").dataOffset;
    copy[main + 2] ^= 0x02;  // WS_MINIMIZEBOX
    ExpectCaught("MAINDIALOG style is 0x90C808C4, expected 0x90CA08C4");

    const size_t ovr = Find(copy, RtDialog, "FILEEXIST").dataOffset;
    Write32(copy, ovr + 4, 0);
    ExpectCaught("FILEEXIST extended style is 0x00000000, expected 0x00000001");

    Write16(copy, main + 12, 18);  // y
    ExpectCaught("MAINDIALOG y is 18, expected 29");

    copy[TextOffset(copy, RtDialog, "DLGNEW", "Create New Folder")] = 'c';
    ExpectCaught("DLGNEW: caption is \"create New Folder\"");

    copy[TextOffset(copy, RtDialog, "PASSWD", "MS Sans Serif") - 2] = 9;
    ExpectCaught("PASSWD font size is 9, expected 8");

    copy[TextOffset(copy, RtDialog, "DLGSEL", "MS Sans Serif") + 6] = 's';
    ExpectCaught("DLGSEL: font is \"MS sans Serif\"");

    Write32(copy, main, 0xFFFF0001);  // the signature of an extended template
    ExpectCaught("MAINDIALOG: is a DLGTEMPLATEEX");

    const size_t sel = Find(copy, RtDialog, "DLGSEL").dataOffset;
    Write16(copy, sel + 18, 0x0081);  // a menu where there is none
    ExpectCaught("DLGSEL: has a menu");
}

TEST_F(PlantedFault, Controls)
{
    const size_t list = ControlOffset(copy, "MAINDIALOG", 4);
    copy[list] ^= 0x08;  // LBS_MULTIPLESEL
    ExpectCaught("MAINDIALOG control 4 (id 301) style is 0x50A100C3, expected 0x50A100CB");

    copy[ControlOffset(copy, "MAINDIALOG", 6) + 2] ^= 0x02;  // WS_GROUP
    ExpectCaught("MAINDIALOG control 6 (id 503) style is 0x50010009, expected 0x50030009");

    Write32(copy, ControlOffset(copy, "PASSWD", 1) + 4, 0x00000200);  // WS_EX_CLIENTEDGE
    ExpectCaught("PASSWD control 1 (id 101) extended style is 0x00000200, expected 0x00000000");

    Write16(copy, ControlOffset(copy, "DLGNEW", 5) + 8, 169);
    ExpectCaught("DLGNEW control 5 (id 1) x is 169, expected 168");

    Write16(copy, ControlOffset(copy, "MAINDIALOG", 5) + 14, 64);
    ExpectCaught("MAINDIALOG control 5 (id 302) cy is 64, expected 65");

    Write16(copy, ControlOffset(copy, "MAINDIALOG", 14) + 16, 0);
    ExpectCaught("MAINDIALOG control 14 (id 65535) id is 0, expected 65535");

    Write16(copy, ControlOffset(copy, "FILEEXIST", 4) + 20, 0x0082);
    ExpectCaught("FILEEXIST control 4 (id 401): class is atom 0x0082, expected atom 0x0080");

    copy[TextOffset(copy, RtDialog, "DLGSEL", "\"Create\"")] = '\'';
    ExpectCaught("DLGSEL control 6 (id 2000): text is");

    copy[TextOffset(copy, RtDialog, "FILEEXIST", "Don't")] = 'd';
    ExpectCaught("FILEEXIST control 4 (id 401): text is \"don't &Ask Me Again\"");

    // The last control's creation data size, just before the template ends.
    const Resource passwd = Find(copy, RtDialog, "PASSWD");
    Write16(copy, passwd.dataOffset + ParseDialogTemplate(passwd.data).end - 2, 2);
    ExpectCaught("PASSWD control 4 (id 65535) creation data size is 2, expected 0");
}

// A control record as a resource compiler writes it, padded so that the
// records after it stay on 4-byte boundaries.
Bytes ControlRecord(const DialogItem& item)
{
    Bytes out(18);
    Write32(out, 0, item.style);
    Write32(out, 4, item.exStyle);
    Write16(out, 8, static_cast<uint16_t>(item.x));
    Write16(out, 10, static_cast<uint16_t>(item.y));
    Write16(out, 12, static_cast<uint16_t>(item.cx));
    Write16(out, 14, static_cast<uint16_t>(item.cy));
    Write16(out, 16, item.id);
    auto put = [&](const SzOrOrd& v) {
        std::vector<uint16_t> words;
        if (v.isOrdinal)
            words = {0xFFFF, v.ordinal};
        else
            words.assign(v.text.begin(), v.text.end()), words.push_back(0);
        for (uint16_t w : words)
            out.push_back(w & 0xFF), out.push_back(w >> 8);
    };
    put(item.windowClass);
    put(item.text);
    out.push_back(0), out.push_back(0);  // no creation data
    out.resize((out.size() + 3) & ~size_t(3));
    return out;
}

// The stub's resources with one control of one template rewritten.
std::vector<Resource> WithControl(const std::string& dialog, int number,
                                  const std::function<void(DialogItem&)>& change)
{
    std::vector<Resource> resources = Image(Stub()).Resources();
    for (Resource& r : resources) {
        if (r.type.id != RtDialog || r.name.name != Widen(dialog))
            continue;
        const DialogTemplate t = ParseDialogTemplate(r.data);
        DialogItem item = t.items.at(number - 1);
        const size_t end = static_cast<size_t>(number) < t.items.size() ? t.items[number].offset : r.data.size();
        change(item);
        const Bytes record = ControlRecord(item);
        r.data.erase(r.data.begin() + item.offset, r.data.begin() + end);
        r.data.insert(r.data.begin() + item.offset, record.begin(), record.end());
        r.size = static_cast<uint32_t>(r.data.size());
    }
    return resources;
}

Findings DialogFindings(const std::vector<Resource>& resources)
{
    Findings findings;
    CheckDialogs(resources, findings);
    return findings;
}

using RewrittenControl = StubTest;

TEST_F(RewrittenControl, UnchangedStaysClean)
{
    EXPECT_EQ(DialogFindings(WithControl("MAINDIALOG", 13, [](DialogItem&) {})), Findings{});
    EXPECT_EQ(DialogFindings(WithControl("PASSWD", 4, [](DialogItem&) {})), Findings{});
}

TEST_F(RewrittenControl, ClassNameAsStringIsCaught)
{
    const Findings findings = DialogFindings(WithControl("DLGSEL", 3, [](DialogItem& item) {
        item.windowClass = SzOrOrd{false, 0, u"BUTTON"};
    }));
    EXPECT_EQ(findings, Findings{"DLGSEL control 3 (id 2002): class is \"BUTTON\", expected atom 0x0080"});
}

TEST_F(RewrittenControl, FooterCreditMustBeOneShortLine)
{
    auto credit = [](const std::u16string& text) {
        return DialogFindings(WithControl("MAINDIALOG", 13, [&](DialogItem& item) { item.text.text = text; }));
    };
    EXPECT_EQ(credit(u"Made with care"), Findings{});
    EXPECT_EQ(credit(u""), Findings{"MAINDIALOG control 13 (id 601): the credit line is empty"});
    EXPECT_EQ(credit(u"two\r\nlines"),
              Findings{"MAINDIALOG control 13 (id 601): the credit line \"two\\u000D\\u000Alines\" is not one "
                       "line of plain text"});
    const std::u16string wide(78, u'x');
    ASSERT_EQ(credit(wide).size(), 1u);
    EXPECT_NE(credit(wide)[0].find("is wider than 308 dialog units"), std::string::npos) << credit(wide)[0];
    EXPECT_EQ(credit(std::u16string(77, u'x')), Findings{});
}

TEST_F(PlantedFault, ResourceDirectory)
{
    Write16(copy, Find(copy, RtDialog, "PASSWD").languageEntryOffset, 0x0409);
    ExpectCaught("resource #5/PASSWD has language 0x0409, expected neutral (0)");

    // Renaming a template in the directory makes it both unknown and missing.
    Bytes renamed = copy;
    const Image image(copy);
    const size_t root = image.OffsetOf(image.DirectoryRva(2), 16);
    for (size_t i = root; i + 12 < renamed.size(); i += 2) {
        if (Read16(renamed, i) == 6 && Read16(renamed, i + 2) == 'D' && Read16(renamed, i + 4) == 'L' &&
            Read16(renamed, i + 6) == 'G' && Read16(renamed, i + 8) == 'N') {
            Write16(renamed, i + 8, 'X');  // DLGNEW -> DLGXEW
            break;
        }
    }
    copy = renamed;
    ExpectCaught("dialog DLGNEW is missing", "resource #5/DLGXEW is not one of the program's resources");
}

TEST(ResourceSet, AcceptsOnlyTheManifestBesidesTemplatesAndIcons)
{
    auto make = [](uint16_t type, uint16_t id) {
        Resource r;
        r.type.id = type;
        r.name.id = id;
        return r;
    };
    Findings findings;
    CheckResourceSet({make(RtIcon, 1), make(RtManifest, 1)}, Kind::Stub, findings);
    EXPECT_TRUE(findings.empty()) << Join(findings);

    findings.clear();
    CheckResourceSet({make(RtIcon, 1), make(RtIcon, 6), make(6, 1), make(RtVersion, 1), make(RtManifest, 2)},
                     Kind::Stub, findings);
    ASSERT_EQ(findings.size(), 4u) << Join(findings);
    EXPECT_EQ(findings[0], "resource #3/#6 is not one of the program's resources");
    EXPECT_EQ(findings[1], "resource #6/#1 is not one of the program's resources");
    EXPECT_EQ(findings[2], "resource #16/#1 is not one of the program's resources");
    EXPECT_EQ(findings[3], "resource #24/#2 is not one of the program's resources");

    // Version information and the images its groups name belong to a branded stub.
    findings.clear();
    Resource group = make(RtGroupIcon, 0);
    group.name = ResourceKey{false, 0, u"MNICON"};
    group.data = {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 7, 0};
    CheckResourceSet({make(RtIcon, 6), make(RtIcon, 7), group, make(RtVersion, 1)}, Kind::Branded, findings);
    ASSERT_EQ(findings.size(), 1u) << Join(findings);
    EXPECT_EQ(findings[0], "resource #3/#6 is not one of the program's resources");

    findings.clear();
    CheckResourceSet({make(RtIcon, 2), make(RtIcon, 1)}, Kind::Stub, findings);
    ASSERT_EQ(findings.size(), 1u) << Join(findings);
    EXPECT_EQ(findings[0], "resource directory out of order: #3/#1 comes after #3/#2");
}

TEST_F(PlantedFault, IconGroupsAndImages)
{
    const size_t mnicon = Find(copy, RtGroupIcon, "MNICON").dataOffset;
    copy[mnicon + 6 + 14 + 6] = 8;  // second entry: 8 bits per pixel
    if (g_kind == Kind::Stub) {
        ExpectCaught("icon group MNICON entry 2 bits per pixel is 8, expected 4");
    } else {
        ExpectCaught("icon group MNICON entry 2 bits per pixel (as the image has them) is 8, expected 32");
        Write16(copy, mnicon + 6 + 12, 5);  // the first entry names ZLOCK's image
        ExpectCaught("icon group MNICON entry 1 image size is");
        copy[mnicon + 6] = 64;  // the first entry says 64 pixels wide
        ExpectCaught("icon image 1 width is 32, expected 64");
    }

    const size_t zflr = Find(copy, RtGroupIcon, "ZFLR").dataOffset;
    Write16(copy, zflr + 6 + 12, 3);
    ExpectCaught("icon group ZFLR entry 1 image id is 3, expected 4");

    copy[Find(copy, RtGroupIcon, "OVR").dataOffset + 6] = 16;
    ExpectCaught("icon group OVR entry 1 width is 16, expected 32");

    const size_t ovr = Find(copy, RtIcon, "3").dataOffset;
    Write16(copy, ovr + 14, 8);
    ExpectCaught("icon image 3 bits per pixel is 8, expected 4");

    Write32(copy, ovr + 8, 32);  // no room for the mask
    ExpectCaught("icon image 3 height (colour image and mask) is 32, expected 64");

    copy[ovr + 40 + 4 * 7] = 0xA4;  // dark grey made bluish
    ExpectCaught("icon image 3: palette entry 7 is 0x8080A4, expected 0x808080");

    // A solid placeholder: one colour, no transparency.
    const size_t lock = Find(copy, RtIcon, "5").dataOffset;
    std::fill(copy.begin() + lock + 104, copy.begin() + lock + 104 + 512, 0x33);
    std::fill(copy.begin() + lock + 104 + 512, copy.begin() + lock + 744, 0x00);
    ExpectCaught("icon image 5: uses 1 colours; expected a picture, not a placeholder");

    if (g_kind == Kind::Stub) {
        const size_t small = Find(copy, RtIcon, "2").dataOffset;
        std::fill(copy.begin() + small + 104 + 128, copy.begin() + small + 296, 0xFF);
        ExpectCaught("icon image 2: the mask leaves 0 of 256 pixels opaque");
    }
}

TEST_F(PlantedFault, SectionsAndDirectories)
{
    const Image image(copy);
    const Section& resources = image.sections().back();
    Write32(copy, image.sizeOfImageOffset(), image.sizeOfImage() + 0x1000);
    ExpectCaught("SizeOfImage is");

    const Section& code = image.sections().front();
    Write32(copy, code.headerOffset + 36, code.characteristics | ScnWrite);
    ExpectCaught("section " + code.name + " is both writable and executable");

    Write32(copy, resources.headerOffset + 20, resources.rawOffset + 0x10);
    ExpectCaught("section " + resources.name + ": its data at", "not in whole file blocks");

    Write32(copy, resources.headerOffset + 12, resources.virtualAddress + 0x1000);
    ExpectCaught("section " + resources.name + " begins at RVA");

    Write32(copy, image.DirectoryOffset(2) + 4, resources.virtualSize + 0x2000);
    ExpectCaught("the resource directory at RVA");

    Write16(copy, image.dllCharacteristicsOffset(), image.dllCharacteristics() & ~0x0140);
    ExpectCaught("lack DYNAMIC_BASE", "lack NX_COMPAT");

    // The base relocations swapped to the end: the resources are no longer last.
    Write32(copy, image.DirectoryOffset(2), image.DirectoryRva(5));
    ExpectCaught("the resources are not the last section");
}

TEST_F(PlantedFault, Relocations)
{
    const Image image(copy);
    const size_t blocks = image.OffsetOf(image.DirectoryRva(5), 8);
    const uint32_t page = Read32(copy, blocks);
    const uint16_t first = Read16(copy, blocks + 8);
    const uint32_t target = page + (first & 0x0FFF);
    const Section* at = image.SectionAt(target);
    ASSERT_NE(at, nullptr);
    Write32(copy, at->rawOffset + (target - at->virtualAddress), 0);
    ExpectCaught("relocation at RVA " + Hex(target) + " holds an address outside the image");

    Write16(copy, blocks + 8, static_cast<uint16_t>(5 << 12 | (first & 0x0FFF)));
    ExpectCaught("relocation at RVA " + Hex(target) + " has type 5");

    Write32(copy, blocks, image.DirectoryRva(2));
    ExpectCaught("lies in the resources, which mksfx rewrites");

    Write32(copy, blocks + 4, 7);
    ExpectCaught("a size of 7 bytes");
}

TEST_F(StubTest, ChecksumOfTheWholeFile)
{
    Bytes copy = Stub();
    const Image image(copy);
    Write32(copy, image.checksumOffset(), FileChecksum(copy, image.checksumOffset()));
    Findings findings;
    CheckChecksum(copy, findings);
    EXPECT_TRUE(findings.empty()) << Join(findings);
    copy[copy.size() - 3] ^= 0x01;  // at the end: in the padding, if there is any
    CheckChecksum(copy, findings);
    ASSERT_EQ(findings.size(), 1u) << Join(findings);
    EXPECT_NE(findings[0].find("checksum is"), std::string::npos) << findings[0];
}

TEST_F(PlantedFault, VersionInformation)
{
    if (g_kind == Kind::Stub)
        GTEST_SKIP() << "a stub has no version information";
    const Resource version = Find(copy, RtVersion, "1");
    const size_t fixed = TextOffset(copy, RtVersion, "1", "VS_VERSION_INFO") + 2 * 16 + 2;
    copy[fixed + 3] ^= 0x01;  // the fixed part's signature
    ExpectCaught("no VS_VERSION_INFO with its fixed part");

    Write32(copy, fixed + 8, Read32(copy, fixed + 8) + 1);  // the file version's minor number
    ExpectCaught("FileVersion");

    copy[TextOffset(copy, RtVersion, "1", "000004B0") + 2] = '9';  // the string table's language
    ExpectCaught("the string table is 090004B0, the translation names 000004B0");

    Write16(copy, version.dataOffset, static_cast<uint16_t>(version.size + 4));
    ExpectCaught("version information: a node of");
}

TEST_F(PlantedFault, DamagedFilesAreReportedNotCrashedOn)
{
    copy.resize(1024);
    ExpectCaught("resources unreadable");
    // Every resource entry pointing far outside the file.
    for (const Resource& r : Image(Stub()).Resources())
        Write32(copy, r.languageEntryOffset + 4, 0x7FFFFFF0);
    ExpectCaught("resources unreadable");
}

}  // namespace
}  // namespace pe

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const char* path = argc > 1 ? argv[1] : std::getenv("SFX_PE_FILE");
    const char* arch = argc > 2 ? argv[2] : std::getenv("SFX_PE_ARCH");
    const char* branded = argc > 3 ? argv[3] : std::getenv("SFX_PE_BRANDED");
    if (!path || !arch || (std::strcmp(arch, "x86") != 0 && std::strcmp(arch, "x64") != 0)) {
        std::fprintf(stderr, "usage: sfx-pe-check STUB.exe x86|x64 [branded] (or set SFX_PE_FILE, SFX_PE_ARCH "
                             "and SFX_PE_BRANDED)\n");
        return 2;
    }
    pe::g_path = path;
    pe::g_arch = std::strcmp(arch, "x64") == 0 ? pe::Arch::X64 : pe::Arch::X86;
    pe::g_kind = branded && *branded ? pe::Kind::Branded : pe::Kind::Stub;
    return RUN_ALL_TESTS();
}
