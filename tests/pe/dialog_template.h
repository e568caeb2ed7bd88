// Reader of standard dialog templates: a DLGTEMPLATE header and its
// DLGITEMTEMPLATE records, each record starting on a 4-byte boundary.
#ifndef SFX_TESTS_DIALOG_TEMPLATE_H
#define SFX_TESTS_DIALOG_TEMPLATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"

namespace pe {

// A class, menu or text field: empty, an ordinal (after 0xFFFF) or a string.
struct SzOrOrd {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::u16string text;
    std::string Describe() const;
};

struct DialogItem {
    size_t offset = 0;  // from the start of the template
    uint32_t style = 0, exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    SzOrOrd windowClass, text;
    uint16_t creationDataSize = 0;
};

struct DialogTemplate {
    bool extended = false;  // a DLGTEMPLATEEX; nothing else is read then
    uint32_t style = 0, exStyle = 0;
    uint16_t itemCount = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    SzOrOrd menu, windowClass;
    std::u16string title;
    bool hasFont = false;
    uint16_t pointSize = 0;
    std::u16string typeface;
    std::vector<DialogItem> items;
    size_t end = 0;  // offset just past the last record
};

constexpr uint32_t DsSetFont = 0x40;

// Throws FormatError when the records run past `bytes`.
DialogTemplate ParseDialogTemplate(const Bytes& bytes);

}  // namespace pe

#endif
