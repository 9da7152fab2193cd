// Fault injection for tests: makes the n-th operation of a kind fail, so that the paths that
// handle a failed open, read, write, truncation or allocation can be driven on purpose. The file
// services and the readers' allocations consult it before each such operation.
#pragma once

#include <cstdint>

namespace gleanery::platform {

enum class FaultKind { Open, Read, Write, Truncate, Allocate };
// Makes the n-th operation of `kind` from now on fail (0 = never).
void InjectFault(FaultKind kind, uint64_t nth);
void ClearFaults();
// Consumes one operation of `kind`; true when that one is to fail.
bool ShouldFail(FaultKind kind);

} // namespace gleanery::platform
