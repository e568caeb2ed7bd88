// Branding: the packager's icon and version information in the extractor's
// resources. The icon replaces the images of the first icon group, which
// Explorer shows for the file and the main dialog draws; the version
// information is a VERSIONINFO resource, which Properties -> Details shows.
#ifndef MKSFX_BRANDING_H
#define MKSFX_BRANDING_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace sfx {

struct Branding {
    std::string icon;                      // path of an .ico file, or ""
    bool versioned = false;                // --version given
    uint16_t version[4] = {0, 0, 0, 0};
    // UTF-8; an empty text is left out.
    std::string product, company, description, copyright;

    bool Any() const;
};

// "A.B.C.D", four numbers from 0 to 65535; false for anything else.
bool ParseVersion(const std::string& text, uint16_t version[4]);

// The stub with the branding's icon and version information in its
// resources; `fileName` becomes OriginalFilename. Throws Failure when the
// icon file is no icon, a text is no UTF-8, or the resources do not fit
// (saying by how many bytes).
std::string BrandStub(const std::string& stub, const std::string& stubLabel, const Branding& branding,
                      const std::string& fileName);

// For --info: the sizes of the icon that the file shows and every field of
// its version information.
void ShowBranding(const std::string& stub, FILE* out);

}  // namespace sfx

#endif
