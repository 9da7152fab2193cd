#include "engine/byte_room.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/system.h"

namespace gleanery {

namespace {

// The huge page of x86 systems; on others the alignment is merely generous.
constexpr size_t kHugePageBytes = size_t{2} << 20;

} // namespace

void ByteRoom::Free::operator()(char* bytes) const {
    ::operator delete[](bytes, std::align_val_t{kHugePageBytes});
}

bool Reserve(ByteRoom& room, size_t capacity) {
    if (capacity <= room.Capacity) return true;
    // Whole huge pages: the last one would be taken whole anyway.
    capacity = (capacity + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    char* bytes = static_cast<char*>(
        ::operator new[](capacity, std::align_val_t{kHugePageBytes}, std::nothrow));
    if (bytes == nullptr) return false;
    platform::AdviseLargeBuffer(bytes, capacity);
    if (room.Size > 0) std::memcpy(bytes, room.Data.get(), room.Size);
    room.Data.reset(bytes);
    room.Capacity = capacity;
    return true;
}

bool Append(ByteRoom& room, const char* bytes, size_t count) {
    if (count > room.Capacity - room.Size &&
        !Reserve(room, std::max(room.Size + count, room.Capacity * 2)))
        return false;
    std::memcpy(room.Data.get() + room.Size, bytes, count);
    room.Size += count;
    return true;
}

} // namespace gleanery
