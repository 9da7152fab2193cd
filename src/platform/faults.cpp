// Fault injection for tests: every kind keeps a countdown to the operation that is to fail.
#include "platform/faults.h"

#include <array>
#include <atomic>

namespace gleanery::platform {

namespace {

constexpr size_t kKinds = 5;
// Remaining operations until the failing one; 0 = no fault armed.
std::array<std::atomic<uint64_t>, kKinds> g_countdown{};

size_t IndexOf(FaultKind kind) {
    return static_cast<size_t>(kind) % kKinds;
}

} // namespace

void InjectFault(FaultKind kind, uint64_t nth) {
    g_countdown[IndexOf(kind)].store(nth);
}

void ClearFaults() {
    for (auto& counter : g_countdown) counter.store(0);
}

bool ShouldFail(FaultKind kind) {
    auto& counter = g_countdown[IndexOf(kind)];
    uint64_t left = counter.load();
    while (left != 0) {
        // The n-th operation fails once; afterwards the kind is disarmed.
        if (counter.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

} // namespace gleanery::platform
