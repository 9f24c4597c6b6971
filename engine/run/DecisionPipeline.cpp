#include "engine/run/DecisionPipeline.h"

#include <QThread>

#include <algorithm>

namespace {

// Reading and decoding gain from every core.
int WorkerCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

const int batchSize = 8;
const int batchesPerWorker = 2;
// New contents waiting for their turn; past this, workers wait even with room in the ring.
const qint64 heldBytesBudget = 32 << 20;

qint64 NewBytes(const std::vector<FileDecision> &decisions)
{
    qint64 bytes = 0;
    for (const FileDecision &decision : decisions)
        bytes += decision.newBytes.size();
    return bytes;
}

int BatchCount(int jobs)
{
    return (jobs + batchSize - 1) / batchSize;
}

} // namespace

int DecisionPipeline::mostAhead()
{
    return batchSize * (batchesPerWorker * WorkerCount() + 1); // the ring and the batch in hand
}

DecisionPipeline::DecisionPipeline(int jobs, std::function<FileDecision(int job)> decide)
    : jobs(jobs), decide(std::move(decide))
{
    const int count = std::min(WorkerCount(), BatchCount(jobs));
    ring.resize(static_cast<size_t>(batchesPerWorker * std::max(count, 1)));
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
    if (inHandNext == inHand.size()) {
        std::unique_lock<std::mutex> lock(mutex);
        Batch &batch = ring[static_cast<size_t>(nextTake) % ring.size()];
        decided.wait(lock, [&batch] { return batch.ready; });
        inHand = std::move(batch.decisions);
        inHandNext = 0;
        heldBytes -= batch.newBytes;
        batch = Batch();
        ++nextTake;
        lock.unlock();
        claimable.notify_one();
    }
    return std::move(inHand[inHandNext++]);
}

void DecisionPipeline::work()
{
    const int batches = BatchCount(jobs);
    const int window = static_cast<int>(ring.size());
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        claimable.wait(lock, [&] {
            return closing || (nextClaim < batches && nextClaim < nextTake + window &&
                               (heldBytes < heldBytesBudget || nextClaim == nextTake));
        });
        if (closing)
            return;
        const int claimed = nextClaim++;
        lock.unlock();
        std::vector<FileDecision> decisions;
        const int end = std::min(jobs, (claimed + 1) * batchSize);
        // A closing pipeline is not asked for its batches any more.
        for (int job = claimed * batchSize; job < end && !closing; ++job)
            decisions.push_back(decide(job));
        lock.lock();
        Batch &batch = ring[static_cast<size_t>(claimed) % ring.size()];
        batch.newBytes = NewBytes(decisions);
        batch.decisions = std::move(decisions);
        batch.ready = true;
        heldBytes += batch.newBytes;
        decided.notify_all();
    }
}
