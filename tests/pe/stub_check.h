// The static check of a stub's PE file: size, headers, section layout,
// relocations, imported DLLs, and every resource against the tables in
// expected_resources.h. A branded stub (mksfx --icon, --file-version) has the
// packager's images in its first icon group and a version resource, and
// carries the checksum of the whole file. Each check appends one line per
// fault to a list of findings; no findings, no faults.
#ifndef SFX_TESTS_STUB_CHECK_H
#define SFX_TESTS_STUB_CHECK_H

#include <string>
#include <vector>

#include "pe_image.h"

namespace pe {

using Findings = std::vector<std::string>;

enum class Arch { X86, X64 };
enum class Kind { Stub, Branded };

// A stub is as long as its image (the furthest end of a section's data),
// padded with zeros to at least this length.
constexpr size_t StubSizeMin = 43008;

// File size (the stub's length, as it finds it at run time, and zeros
// behind its image), PE32 or PE32+ by architecture, machine, GUI subsystem.
void CheckHeaders(const Bytes& file, Arch arch, Findings& findings);
// Section table, image size, headers, data directories and hardening: what
// the loader checks, and the resource section last, which mksfx relies on.
void CheckLayout(const Bytes& file, Findings& findings);
// Every base relocation lies in the image's data outside the resources
// (which mksfx rewrites) and holds an address inside the image.
void CheckRelocations(const Bytes& file, Arch arch, Findings& findings);
// The checksum field holds the checksum of the whole file.
void CheckChecksum(const Bytes& file, Findings& findings);
// Only DLLs that Windows always takes from the system folder.
void CheckImports(const Bytes& file, Findings& findings);
// Which resources exist, their languages and the directory's sort order.
void CheckResourceSet(const std::vector<Resource>& resources, Kind kind, Findings& findings);
void CheckDialogs(const std::vector<Resource>& resources, Findings& findings);
void CheckIcons(const std::vector<Resource>& resources, Kind kind, Findings& findings);
// A branded stub's VERSIONINFO: well formed, its texts in the language its
// translation names, its version texts those of its numbers. A stub has none.
void CheckVersionInfo(const std::vector<Resource>& resources, Kind kind, Findings& findings);
// The application manifest asks for no elevation.
void CheckManifest(const std::vector<Resource>& resources, Findings& findings);
// The bytes 50 4B 03 04 appear nowhere in the stub.
void CheckNoLocalHeaderSignature(const Bytes& file, Findings& findings);

// The resources of `file`, or a finding when the tree cannot be read.
std::vector<Resource> ReadResources(const Bytes& file, Findings& findings);

// All of the above; the checksum for branded stubs only, since a stub's own
// is the linker's, for the image before it was padded.
Findings CheckStub(const Bytes& file, Arch arch, Kind kind);

}  // namespace pe

#endif
