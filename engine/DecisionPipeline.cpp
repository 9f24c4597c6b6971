#include "DecisionPipeline.h"

#include <QThread>

#include <algorithm>

namespace {

// Reading and decoding gain from every core; the window bounds the memory held by
// decisions waiting for their turn.
int WorkerCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

} // namespace

DecisionPipeline::DecisionPipeline(int jobs, std::function<FileDecision(int job)> decide)
    : jobs(jobs), decide(std::move(decide))
{
    const int count = std::min(WorkerCount(), jobs);
    ring.resize(static_cast<size_t>(2 * std::max(count, 1)));
    for (int i = 0; i < count; ++i)
        workers.emplace_back([this] { work(); });
}

DecisionPipeline::~DecisionPipeline()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    claimable.notify_all();
    for (std::thread &worker : workers)
        worker.join();
}

FileDecision DecisionPipeline::take()
{
    std::unique_lock<std::mutex> lock(mutex);
    Slot &slot = ring[static_cast<size_t>(nextTake) % ring.size()];
    decided.wait(lock, [&slot] { return slot.ready; });
    FileDecision decision = std::move(slot.decision);
    slot = Slot();
    ++nextTake;
    lock.unlock();
    claimable.notify_one();
    return decision;
}

void DecisionPipeline::work()
{
    const int window = static_cast<int>(ring.size());
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        claimable.wait(
            lock, [&] { return closing || (nextClaim < jobs && nextClaim < nextTake + window); });
        if (closing)
            return;
        const int job = nextClaim++;
        lock.unlock();
        FileDecision decision = decide(job);
        lock.lock();
        Slot &slot = ring[static_cast<size_t>(job) % ring.size()];
        slot.decision = std::move(decision);
        slot.ready = true;
        decided.notify_all();
    }
}
