#include "platform/Thread.h"

#include "platform/Log.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {
thread_local Thread* tlsCurrent = nullptr;
} // namespace

// Gives threads started elsewhere an object of their own, finished when the thread ends.
struct Thread::ForeignHolder {
    Ref<Thread> thread;
    ~ForeignHolder() {
        if (thread) thread->finish();
        tlsCurrent = nullptr;
    }
};

Thread::Thread(std::string name) : name_(std::move(name)), runLoop_(make<RunLoop>()) {
    runLoop_->thread_ = this;
}

Thread::~Thread() {
    runLoop_->thread_ = nullptr;
    if (thread_.joinable()) {
        // The last reference may go on the thread itself, at the very end of its body.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

bool Thread::isMainThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

Thread* Thread::mainThread() {
    // Lives for the whole process, like the thread it stands for.
    static Thread* main = new Thread("main");
    return main;
}

Thread* Thread::currentThread() {
    if (tlsCurrent) return tlsCurrent;
    if (isMainThread()) return tlsCurrent = mainThread();
    thread_local ForeignHolder holder;
    holder.thread = Ref<Thread>::adopt(new Thread(""));
    return tlsCurrent = holder.thread.get();
}

void Thread::start(std::function<void()> body) {
    // The running thread keeps its object alive; the factories hold a reference meanwhile.
    thread_ = std::thread([self = Ref<Thread>(this), body = std::move(body)]() mutable {
        tlsCurrent = self.get();
        body();
        self->finish();
        tlsCurrent = nullptr;
        self = nullptr; // may destroy the object, which then detaches this thread
    });
}

Ref<Thread> Thread::detachNewThread(std::function<void()> entry, std::string name) {
    Ref<Thread> thread = Ref<Thread>::adopt(new Thread(std::move(name)));
    thread->start(std::move(entry));
    return thread;
}

Ref<Thread> Thread::startRunLoopThread(std::string name) {
    Ref<Thread> thread = Ref<Thread>::adopt(new Thread(std::move(name)));
    {
        std::lock_guard lock(thread->runLoop_->mutex_);
        thread->runLoop_->serving_ = true;
    }
    RunLoop* loop = thread->runLoop_.get();
    thread->start([loop] { loop->run(); });
    return thread;
}

void Thread::finish() {
    finished_ = true;
    std::unique_lock lock(runLoop_->mutex_);
    runLoop_->endServing(lock, true);
}

void Thread::stop() {
    runLoop_->stop();
}

void Thread::join() {
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Thread::isCurrent() const {
    return currentThread() == this;
}

bool Thread::perform(std::function<void()> body, bool waitUntilDone) {
    if (!waitUntilDone) {
        if (runLoop_->performBlock(std::move(body))) return true;
        log(format("Thread %s: the thread has ended; block dropped", name_.c_str()));
        return false;
    }
    if (isCurrent()) {
        body();
        return true;
    }
    if (runLoop_->performBlockAndWait(std::move(body))) return true;
    log(format("Thread %s: not serving its run loop; block not performed", name_.c_str()));
    return false;
}

bool Thread::performBlock(std::function<void()> block) {
    return performBlock(std::move(block), false);
}

bool Thread::performBlock(std::function<void()> block, bool waitUntilDone) {
    if (!block) return false;
    return perform([self = Ref<Thread>(this), block = std::move(block)] { self->executeBlock(block); },
                   waitUntilDone);
}

bool Thread::performBlock(std::function<void(Object*)> block, Object* object, bool waitUntilDone) {
    if (!block) return false;
    Ref<CCObjectWith2Params> params = make<CCObjectWith2Params>(std::move(block), object);
    return perform([self = Ref<Thread>(this), params] { self->executeBlock2(params.get()); }, waitUntilDone);
}

void Thread::executeBlock(const std::function<void()>& block) {
    if (block) block();
}

void Thread::executeBlock2(CCObjectWith2Params* params) {
    if (params && params->block()) params->block()(params->param());
}

} // namespace platform
