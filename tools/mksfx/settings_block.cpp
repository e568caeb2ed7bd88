#include "settings_block.h"

#include "names.h"
#include "zip_format.h"

namespace sfx {

const char TemporaryFolderToken[] = "><";

namespace {

const size_t MaxTitle = 255;
const size_t MaxTexts = SettingsStringsMax;      // behind the signature, flags and lengths

}  // namespace

std::string EncodeSettings(const Settings& s)
{
    int flags = s.flags;
    if (!s.flagsAsGiven) {
        flags &= ~FlagUtf8Texts;
        const std::pair<const char*, const std::string*> texts[] = {
            {"--title", &s.title}, {"--folder", &s.folder}, {"--run", &s.run}};
        for (const auto& text : texts) {
            if (IsAscii(*text.second))
                continue;
            if (!IsUtf8(*text.second))
                throw Failure(std::string(text.first) + " is not UTF-8");
            flags |= FlagUtf8Texts;
        }
    }
    if (s.title.size() > MaxTitle)
        throw Failure("the title has " + std::to_string(s.title.size()) + " bytes; at most "
                      + std::to_string(MaxTitle) + " fit");
    size_t texts = s.title.size() + s.folder.size() + s.run.size();
    if (texts > MaxTexts)
        throw Failure("title, folder and command have " + std::to_string(texts)
                      + " bytes together; the settings block holds " + std::to_string(MaxTexts));
    std::string block = "MPU";
    block += (char)flags;
    block += (char)s.title.size();
    block += (char)s.folder.size();
    block += (char)s.run.size();
    block += s.title + s.folder + s.run;
    block.resize(SettingsBlockSize, '\0');
    return block;
}

Settings DecodeSettings(const std::string& bytes)
{
    Settings s;
    if (bytes.compare(0, 3, "MPU") != 0)
        return s;
    std::string block = bytes.substr(0, SettingsBlockSize);
    block.resize(SettingsBlockSize, '\0');
    s.present = true;
    s.flags = (unsigned char)block[3];
    size_t t = (unsigned char)block[4], f = (unsigned char)block[5], c = (unsigned char)block[6];
    // Texts longer than the block run on into the archive, as the
    // extractor reads them.
    std::string texts = bytes.substr(7) + std::string(t + f + c, '\0');
    s.title = texts.substr(0, t);
    s.folder = texts.substr(t, f);
    s.run = texts.substr(t + f, c);
    return s;
}

std::string DescribeFlags(int flags)
{
    std::string words = (flags & FlagShowRunCheckBox) ? "run check box shown"
                                                  : "run check box hidden (a command always runs)";
    words += (flags & FlagUserSelectsFiles) ? ", user selects files" : ", all files extracted";
    words += (flags & FlagHideOverwriteOptions) ? ", overwrite options hidden" : ", overwrite options shown";
    switch (flags & FlagOverwriteMask) {
    case FlagOverwriteAlways: words += ", overwrite: always"; break;
    case FlagOverwriteNever: words += ", overwrite: never"; break;
    default: words += ", overwrite: confirm"; break;
    }
    if (flags & FlagUtf8Texts)
        words += ", texts in UTF-8";
    if (flags & FlagAutomatic)
        words += ", automatic (unzips at once, closes after a success)";
    return words;
}

const char* TextReading(const std::string& text, int flags)
{
    if (IsAscii(text))
        return "ascii";
    return (flags & FlagUtf8Texts) && IsUtf8(text) ? "utf8" : "ansi bytes";
}

}  // namespace sfx
