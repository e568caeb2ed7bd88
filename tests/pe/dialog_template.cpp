#include "dialog_template.h"

#include <cstdio>

namespace pe {

namespace {

class Cursor {
public:
    explicit Cursor(const Bytes& b) : b_(b) {}
    size_t pos = 0;
    uint16_t Word()
    {
        const uint16_t v = Read16(b_, pos);
        pos += 2;
        return v;
    }
    uint32_t Dword()
    {
        const uint32_t v = Read32(b_, pos);
        pos += 4;
        return v;
    }
    std::u16string String()
    {
        std::u16string s;
        for (uint16_t c = Word(); c != 0; c = Word())
            s += static_cast<char16_t>(c);
        return s;
    }
    SzOrOrd NameOrOrdinal()
    {
        SzOrOrd v;
        const uint16_t first = Read16(b_, pos);
        if (first == 0xFFFF) {
            pos += 2;
            v.isOrdinal = true;
            v.ordinal = Word();
        } else {
            v.text = String();
        }
        return v;
    }
    void AlignDword() { pos = (pos + 3) & ~size_t(3); }

private:
    const Bytes& b_;
};

}  // namespace

std::string SzOrOrd::Describe() const
{
    if (isOrdinal) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "atom 0x%04X", ordinal);
        return buf;
    }
    return "\"" + Printable(text) + "\"";
}

DialogTemplate ParseDialogTemplate(const Bytes& bytes)
{
    DialogTemplate t;
    Cursor in(bytes);
    // A DLGTEMPLATEEX starts with the version 1 and the signature 0xFFFF.
    if (Read16(bytes, 0) == 1 && Read16(bytes, 2) == 0xFFFF) {
        t.extended = true;
        return t;
    }
    t.style = in.Dword();
    t.exStyle = in.Dword();
    t.itemCount = in.Word();
    t.x = static_cast<int16_t>(in.Word());
    t.y = static_cast<int16_t>(in.Word());
    t.cx = static_cast<int16_t>(in.Word());
    t.cy = static_cast<int16_t>(in.Word());
    t.menu = in.NameOrOrdinal();
    t.windowClass = in.NameOrOrdinal();
    t.title = in.String();
    if (t.style & DsSetFont) {
        t.hasFont = true;
        t.pointSize = in.Word();
        t.typeface = in.String();
    }
    for (unsigned i = 0; i < t.itemCount; ++i) {
        in.AlignDword();
        DialogItem item;
        item.offset = in.pos;
        item.style = in.Dword();
        item.exStyle = in.Dword();
        item.x = static_cast<int16_t>(in.Word());
        item.y = static_cast<int16_t>(in.Word());
        item.cx = static_cast<int16_t>(in.Word());
        item.cy = static_cast<int16_t>(in.Word());
        item.id = in.Word();
        item.windowClass = in.NameOrOrdinal();
        item.text = in.NameOrOrdinal();
        // In a standard template the size counts its own word too.
        item.creationDataSize = in.Word();
        if (item.creationDataSize > 2)
            in.pos += item.creationDataSize - 2;
        if (in.pos > bytes.size())
            throw FormatError("creation data of item " + std::to_string(i + 1) + " runs past the template");
        t.items.push_back(item);
    }
    t.end = in.pos;
    return t;
}

}  // namespace pe
