// The few runtime routines that the compiler may call on its own.
//
// The stub is linked without a C runtime, so block moves and fills that the
// compiler emits as calls land here. Each is a single string instruction,
// which is also what keeps the compiler from turning the body back into a
// call to itself.
#include <stddef.h>

extern "C" {

void* memcpy(void* dest, const void* src, size_t count)
{
    void* d = dest;
    __asm__ volatile("rep movsb" : "+D"(d), "+S"(src), "+c"(count) : : "memory");
    return dest;
}

void* memmove(void* dest, const void* src, size_t count)
{
    unsigned char* d = (unsigned char*)dest;
    const unsigned char* s = (const unsigned char*)src;
    if (d <= s || d >= s + count)
        return memcpy(dest, src, count);
    // Overlapping with the destination above the source: copy backwards.
    d += count - 1;
    s += count - 1;
    __asm__ volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(s), "+c"(count) : : "memory");
    return dest;
}

void* memset(void* dest, int value, size_t count)
{
    void* d = dest;
    __asm__ volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
    return dest;
}

int memcmp(const void* a, const void* b, size_t count)
{
    const unsigned char* x = (const unsigned char*)a;
    const unsigned char* y = (const unsigned char*)b;
    for (size_t i = 0; i < count; i++)
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    return 0;
}

}
