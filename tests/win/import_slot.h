// Replacing an import of the program's code for the length of a test: the
// code calls every system function through an import slot (__imp_NAME),
// which a test may point at a recording or failing stand-in.
#ifndef SFX_TESTS_IMPORT_SLOT_H
#define SFX_TESTS_IMPORT_SLOT_H

#include <windows.h>

// Puts a replacement into an import slot for the object's lifetime.
template <typename Proc>
class ImportSlot {
public:
    ImportSlot(Proc* slot, Proc replacement) : slot_(slot), original_(*slot) { Set(replacement); }
    ~ImportSlot() { Set(original_); }
    ImportSlot(const ImportSlot&) = delete;
    ImportSlot& operator=(const ImportSlot&) = delete;

    Proc Original() const { return original_; }

private:
    void Set(Proc proc)
    {
        DWORD old;
        VirtualProtect(slot_, sizeof proc, PAGE_READWRITE, &old);
        *slot_ = proc;
        VirtualProtect(slot_, sizeof proc, old, &old);
    }

    Proc* slot_;
    Proc original_;
};

#endif
