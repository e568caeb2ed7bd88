// Attributes that the decoders use to control their place in the stub.
#ifndef SFX_ATTR_H
#define SFX_ATTR_H

// Large zero-initialised tables go to .bss explicitly: with -fdata-sections,
// MinGW would otherwise give each its own data section and store its zeros
// in the file.
#define SFX_UNINITIALISED __attribute__((section(".bss")))

// Routines that run once per entry or per block are compiled for size in
// the stub (whose decoders are built for speed); only the per-byte loops
// need the speed.
#if defined(__GNUC__) && !defined(__clang__)
#define SFX_SMALL __attribute__((optimize("Os")))
#else
#define SFX_SMALL
#endif

#define SFX_ALWAYS_INLINE inline __attribute__((always_inline))

#endif
