// The code pages the plug-in offers for recoding, and which of them this system can convert.
#pragma once

#include <cstdint>
#include <vector>

namespace gleanery {

// The candidate code pages, in the order in which they are probed and listed.
const std::vector<uint32_t>& CodePageTable();
// The candidates whose conversion of the 95 printable ASCII characters yields 95 UTF-16 units.
std::vector<uint32_t> ProbeUsableCodePages();

} // namespace gleanery
