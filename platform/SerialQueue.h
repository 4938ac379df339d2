// A serial queue: one worker thread running blocks in the order they were queued.
#pragma once

#include "platform/Object.h"
#include "platform/Thread.h"

#include <functional>
#include <string>

namespace platform {

class SerialQueue : public Object {
public:
    explicit SerialQueue(std::string label);
    // Runs what was queued, then ends the worker (and waits for it unless called on it).
    ~SerialQueue() override;

    const std::string& label() const { return label_; }
    // Queues the block behind everything queued before it.
    void dispatchAsync(std::function<void()> block);
    // Queues the block and waits until it has run; on the worker itself (where waiting would
    // never end) the block runs at once. An exception from the block reaches the caller.
    void dispatchSync(std::function<void()> block);
    // Whether the calling thread is this queue's worker.
    bool isCurrent() const { return Thread::currentThread() == worker_.get(); }

private:
    std::string label_;
    Ref<Thread> worker_;
};

} // namespace platform
