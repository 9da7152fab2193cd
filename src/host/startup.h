// Library attach and detach, and the start-up configuration the host triggers.
#pragma once

#include <string>
#include <vector>

#include "host/wcx.h"

namespace gleanery {

void AttachLibrary();
void DetachLibrary();
void PackSetDefaultParamsImpl(const wcx::PackDefaultParamStruct* params);

// The directory part of a path: up to and including its last separator; empty without one.
std::u16string DirectoryOf(const std::u16string& path);

} // namespace gleanery
