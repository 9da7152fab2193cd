// A hook that tests and hosts install in place of a system service (message boxes, the
// clipboard): the handler and its context, set and read as one pair. The lock is a flag that is
// only ever held for two stores or two loads, which needs no thread library of the system's.
#pragma once

#include <atomic>
#include <utility>

namespace gleanery::platform {

template <class Handler>
struct HandlerSlot {
    void Set(Handler handler, void* context) {
        Hold();
        handler_ = handler;
        context_ = context;
        busy_.clear(std::memory_order_release);
    }
    // The handler (null when none is installed) and its context.
    std::pair<Handler, void*> Get() {
        Hold();
        const std::pair<Handler, void*> both{handler_, context_};
        busy_.clear(std::memory_order_release);
        return both;
    }

  private:
    void Hold() {
        while (busy_.test_and_set(std::memory_order_acquire)) {
        }
    }
    std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
    Handler handler_ = nullptr;
    void* context_ = nullptr;
};

} // namespace gleanery::platform
