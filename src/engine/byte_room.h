// The memory a file's held-back output lives in (see HeldOutput), kept from file to file.
//
// It is taken in pieces aligned to the system's huge pages and advised as such: a large file's
// results run to megabytes, and filled page by page each small page costs a fault of its own
// (on a virtual machine about as much as reading 50 KiB of the file).
#pragma once

#include <cstddef>
#include <memory>

namespace gleanery {

struct ByteRoom {
    struct Free {
        void operator()(char* bytes) const;
    };
    std::unique_ptr<char[], Free> Data;
    size_t Size = 0;
    size_t Capacity = 0;
};

// Makes room for at least `capacity` bytes, keeping what is held. False when memory is short (the
// room is then as it was).
bool Reserve(ByteRoom& room, size_t capacity);
// Appends `count` bytes, growing the room as needed. False when memory is short.
bool Append(ByteRoom& room, const char* bytes, size_t count);

} // namespace gleanery
