// The static check of a stub's PE file: size, headers, imported DLLs, and
// every resource against the tables in expected_resources.h. Each check
// appends one line per fault to a list of findings; no findings, no faults.
#ifndef SFX_TESTS_STUB_CHECK_H
#define SFX_TESTS_STUB_CHECK_H

#include <string>
#include <vector>

#include "pe_image.h"

namespace pe {

using Findings = std::vector<std::string>;

enum class Arch { X86, X64 };

constexpr size_t StubSize = 43008;

// File size, PE32 or PE32+ by architecture, machine, GUI subsystem.
void CheckHeaders(const Bytes& file, Arch arch, Findings& findings);
// Only DLLs that Windows always takes from the system folder.
void CheckImports(const Bytes& file, Findings& findings);
// Which resources exist, their languages and the directory's sort order.
void CheckResourceSet(const std::vector<Resource>& resources, Findings& findings);
void CheckDialogs(const std::vector<Resource>& resources, Findings& findings);
void CheckIcons(const std::vector<Resource>& resources, Findings& findings);
// The application manifest asks for no elevation.
void CheckManifest(const std::vector<Resource>& resources, Findings& findings);
// The bytes 50 4B 03 04 appear nowhere in the stub.
void CheckNoLocalHeaderSignature(const Bytes& file, Findings& findings);

// The resources of `file`, or a finding when the tree cannot be read.
std::vector<Resource> ReadResources(const Bytes& file, Findings& findings);

// All of the above.
Findings CheckStub(const Bytes& file, Arch arch);

}  // namespace pe

#endif
