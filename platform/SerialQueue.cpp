#include "platform/SerialQueue.h"

namespace platform {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), worker_(Thread::startRunLoopThread(label_)) {}

SerialQueue::~SerialQueue() {
    // Queued behind the rest, so everything dispatched before still runs.
    RunLoop* loop = worker_->runLoop();
    worker_->performBlock([loop] { loop->stop(); });
    worker_->join();
}

void SerialQueue::dispatchAsync(std::function<void()> block) {
    worker_->performBlock(std::move(block));
}

void SerialQueue::dispatchSync(std::function<void()> block) {
    worker_->performBlock(std::move(block), true);
}

} // namespace platform
