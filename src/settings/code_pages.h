// The code pages the plug-in offers for recoding, and which of them this system can convert.
#pragma once

#include <cstdint>
#include <vector>

namespace gleanery {

// The candidate code pages, in the order in which they are probed and listed.
const std::vector<uint32_t>& CodePageTable();
// The candidates whose conversion of the 95 printable ASCII characters yields 95 UTF-16 units.
// Probing all of them loads a converter each, which costs about as much as a small pack: the
// dialog, which lists them, probes them all; a pack only checks the code pages its settings name.
std::vector<uint32_t> ProbeUsableCodePages();
// The same test for one code page, each answer kept for the rest of the process.
bool ProbeCodePage(uint32_t codePage);

} // namespace gleanery
