#include "engine/run/DecisionPipeline.h"

#include <QThread>

#include <algorithm>

namespace {

// Reading and decoding gain from every core.
int WorkerCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

const int batchSize = 32;
const int batchesPerWorker = 2;
// New contents waiting for their turn; past this, workers wait even with room in the ring.
const qint64 heldBytesBudget = 32 << 20;
// Decisions holding this much between them are handed over at once.
const qint64 handOverAlone = 1 << 20;
// A reservation under this share of the budget is not taken: with one decision under way
// per worker, what goes uncounted stays small, and a lock per small file would cost more
// than reading it once the workers contend for the lock.
const qint64 uncountedShare = 2048;

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
        // The caller is done with every decision in hand: their memory is free.
        if (inHandBytes > 0) {
            heldBytes -= inHandBytes;
            inHandBytes = 0;
            memoryFreed.notify_all();
        }
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
        inHandBytes = batch.heldBytes;
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
    return batch == nextTake && reservations == 0 && slot(batch).heldBytes == 0 && inHandBytes == 0;
}

// Under the lock: the worker's decisions go to the batch, in order.
void DecisionPipeline::handOver(int batch, std::vector<FileDecision> &decisions)
{
    Batch &target = slot(batch);
    for (FileDecision &decision : decisions) {
        const qint64 bytes = decision.newBytes.size() + decision.original.size();
        target.heldBytes += bytes;
        heldBytes += bytes;
        target.decisions.push_back(std::move(decision));
    }
    decisions.clear();
}

// The decisions before it go first: the caller may need them taken to free the memory.
void DecisionPipeline::reserve(int batch, qint64 bytes, std::vector<FileDecision> &pending)
{
    std::unique_lock<std::mutex> lock(mutex);
    handOver(batch, pending);
    if (!memoryFits(batch, bytes))
        decided.notify_all(); // the caller may be asleep on decisions this batch holds
    memoryFreed.wait(lock, [&] { return closing || memoryFits(batch, bytes); });
    reservedBytes += bytes;
    ++reservations;
}

void DecisionPipeline::publish(int batch, std::vector<FileDecision> &decisions, qint64 bytes,
                               qint64 reserved)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (reserved >= 0) {
            reservedBytes -= reserved;
            --reservations;
        }
        handOver(batch, decisions);
    }
    if (reserved >= 0)
        memoryFreed.notify_all();
    if (std::max(reserved, bytes) >= handOverAlone)
        decided.notify_all();
}

// Small decisions are handed over together at the end of the batch, under one lock; one that
// reserved memory, or a run of them holding much, goes at once.
void DecisionPipeline::decideBatch(int batch, std::vector<FileDecision> &pending)
{
    qint64 pendingBytes = 0;
    const int end = std::min(jobs, (batch + 1) * batchSize);
    // A closing pipeline is not asked for its batches any more.
    for (int job = batch * batchSize; job < end && !closing; ++job) {
        qint64 reserved = -1;
        FileDecision decision = decide(job, [&](qint64 bytes) {
            if (bytes < memoryBudget / uncountedShare)
                return;
            reserve(batch, bytes, pending);
            pendingBytes = 0;
            reserved = bytes;
        });
        pendingBytes += decision.newBytes.size();
        pending.push_back(std::move(decision));
        if (reserved >= 0 || pendingBytes >= handOverAlone) {
            publish(batch, pending, pendingBytes, reserved);
            pendingBytes = 0;
        }
    }
}

void DecisionPipeline::work()
{
    const int batches = BatchCount(jobs);
    const int window = static_cast<int>(ring.size());
    std::vector<FileDecision> pending;
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
        decideBatch(claimed, pending);
        lock.lock();
        handOver(claimed, pending);
        slot(claimed).ready = true;
        decided.notify_all();
    }
}
