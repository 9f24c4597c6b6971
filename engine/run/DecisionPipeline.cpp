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
// A decision holding this much is handed over on its own.
const qint64 handOverAlone = 1 << 20;

int BatchCount(int jobs)
{
    return (jobs + batchSize - 1) / batchSize;
}

} // namespace

int DecisionPipeline::mostAhead()
{
    return batchSize * (batchesPerWorker * WorkerCount() + 1); // the ring and the batch in hand
}

qint64 DecisionPipeline::defaultMemoryBudget()
{
    return qint64(512) << 20;
}

DecisionPipeline::DecisionPipeline(int jobs, Decide decide, qint64 memoryBudget)
    : jobs(jobs), decide(std::move(decide)), memoryBudget(memoryBudget)
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
    memoryFreed.notify_all();
    for (std::thread &worker : workers)
        worker.join();
}

FileDecision DecisionPipeline::take()
{
    if (inHandNext == inHand.size()) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            Batch &batch = slot(nextTake);
            if (!batch.decisions.empty())
                break;
            if (batch.ready) {
                advance();
                continue;
            }
            decided.wait(lock);
        }
        Batch &batch = slot(nextTake);
        inHand = std::move(batch.decisions);
        batch.decisions.clear();
        inHandNext = 0;
        heldBytes -= batch.heldBytes;
        batch.heldBytes = 0;
        if (batch.ready)
            advance();
        lock.unlock();
        memoryFreed.notify_all();
    }
    return std::move(inHand[inHandNext++]);
}

// Under the lock: the batch in turn has been taken whole.
void DecisionPipeline::advance()
{
    slot(nextTake) = Batch();
    ++nextTake;
    claimable.notify_one();
    memoryFreed.notify_all(); // the next batch may now decide what did not fit before
}

// The caller's next batch never waits for contents already decided: the caller may be
// waiting for this very batch before it takes them. Other decisions under way never wait
// once they run, and the caller takes this batch's own decisions as they come.
bool DecisionPipeline::memoryFits(int batch, qint64 bytes) const
{
    if (reservedBytes + heldBytes + bytes <= memoryBudget)
        return true;
    return batch == nextTake && reservations == 0 && slot(batch).heldBytes == 0;
}

void DecisionPipeline::reserve(int batch, qint64 bytes)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!memoryFits(batch, bytes))
        decided.notify_all(); // the caller may be asleep on decisions this batch holds
    memoryFreed.wait(lock, [&] { return closing || memoryFits(batch, bytes); });
    reservedBytes += bytes;
    ++reservations;
}

void DecisionPipeline::publish(int batch, FileDecision decision, qint64 reserved)
{
    const qint64 newBytes = decision.newBytes.size();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (reserved >= 0) {
            reservedBytes -= reserved;
            --reservations;
        }
        Batch &target = slot(batch);
        target.decisions.push_back(std::move(decision));
        target.heldBytes += newBytes;
        heldBytes += newBytes;
    }
    if (reserved >= 0)
        memoryFreed.notify_all();
    if (std::max(reserved, newBytes) >= handOverAlone)
        decided.notify_all();
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
        const int end = std::min(jobs, (claimed + 1) * batchSize);
        // A closing pipeline is not asked for its batches any more.
        for (int job = claimed * batchSize; job < end && !closing; ++job) {
            qint64 reserved = -1;
            FileDecision decision = decide(job, [&](qint64 bytes) {
                reserve(claimed, bytes);
                reserved = bytes;
            });
            publish(claimed, std::move(decision), reserved);
        }
        lock.lock();
        slot(claimed).ready = true;
        decided.notify_all();
    }
}
