#include "engine/run/DecisionPipeline.h"

#include "engine/files/FileTree.h"
#include "engine/search/StreamSearch.h"

#include <QThread>

#include <algorithm>

namespace {

// What a decision holds until the caller is done with it.
qint64 HeldBytes(const FileDecision &decision)
{
    return decision.newBytes.size() + decision.original.size() + decision.attachedBytes;
}

// Reading and decoding gain from every core.
int WorkerCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

// A batch reads about batchBytes: a thousand small files go in one hand-over, a novel alone.
// The first batches are small, until the files' sizes are known.
const int firstBatchJobs = 8;
const int mostBatchJobs = 256;
const qint64 batchBytes = 1 << 20;
const int batchesPerWorker = 2;
// New contents waiting for their turn; past this, workers wait even with room in the ring.
const qint64 heldBytesBudget = 32 << 20;
// Decisions holding this much between them are handed over at once.
const qint64 handOverAlone = 1 << 20;
// A reservation under this share of the budget (256 KiB of the default one) is not taken:
// with one decision under way per worker, what goes uncounted stays small, and a lock per
// small file would cost more than reading it once the workers contend for the lock.
const qint64 uncountedShare = 96;

// Growing at most twofold a batch, so that a few small files among large ones are no reason to
// take many files at once.
int NextBatchJobs(int batchJobs, int decided, qint64 bytes)
{
    const qint64 perJob = std::max<qint64>(bytes / std::max(decided, 1), 1);
    return int(std::clamp<qint64>(batchBytes / perJob, 1, std::min(2 * batchJobs, mostBatchJobs)));
}

} // namespace

int DecisionPipeline::mostAhead()
{
    return mostBatchJobs * (batchesPerWorker * WorkerCount() + 1); // the ring and the batch in hand
}

qint64 DecisionPipeline::defaultMemoryBudget()
{
    return qint64(24) << 20;
}

DecisionPipeline::DecisionPipeline(int jobs, Decide decide, qint64 memoryBudget)
    : jobs(jobs), decide(std::move(decide)), memoryBudget(memoryBudget), batchJobs(firstBatchJobs)
{
    const int count = std::min(WorkerCount(), jobs);
    // Room for batches of one job each, up to as many jobs ahead as full batches take.
    aheadJobs = mostBatchJobs * batchesPerWorker * std::max(count, 1);
    ring.resize(static_cast<size_t>(aheadJobs));
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
    // The caller is done with the decision it took last: a large one's memory is free now,
    // not only once the whole hand is done.
    if (lastTakenBytes > 0) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            heldBytes -= lastTakenBytes;
            inHandBytes -= lastTakenBytes;
        }
        lastTakenBytes = 0;
        memoryFreed.notify_all();
    }
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
    FileDecision decision = std::move(inHand[inHandNext++]);
    const qint64 bytes = HeldBytes(decision);
    if (bytes >= handOverAlone)
        lastTakenBytes = bytes;
    return decision;
}

// Under the lock: the batch in turn has been taken whole.
void DecisionPipeline::advance()
{
    takenJobs += slot(nextTake).jobs;
    slot(nextTake) = Batch();
    ++nextTake;
    claimable.notify_one();
    memoryFreed.notify_all(); // the next batch may now decide what did not fit before
}

// The caller's next batch never waits for contents already decided: the caller may be
// waiting for this very batch before it takes them. Other decisions under way never wait
// once they run, and the caller takes this batch's own decisions as they come. Batches
// further on keep to half the budget, so that the next one, which must go ahead whatever they
// hold, still finds its room within it.
bool DecisionPipeline::memoryFits(int batch, qint64 bytes) const
{
    const qint64 budget = batch == nextTake ? memoryBudget : memoryBudget / 2;
    if (reservedBytes + heldBytes + bytes <= budget)
        return true;
    return batch == nextTake && reservations == 0 && slot(batch).heldBytes == 0 && inHandBytes == 0;
}

// Under the lock: the worker's decisions go to the batch, in order.
void DecisionPipeline::handOver(int batch, std::vector<FileDecision> &decisions)
{
    Batch &target = slot(batch);
    for (FileDecision &decision : decisions) {
        const qint64 bytes = HeldBytes(decision);
        target.heldBytes += bytes;
        heldBytes += bytes;
        target.decisions.push_back(std::move(decision));
    }
    decisions.clear();
}

// The decisions before it go first: the caller may need them taken to free the memory. A
// decision that reserves again gives up what it had first (it holds none of it while it waits),
// so that it cannot wait on itself.
void DecisionPipeline::reserve(int batch, qint64 bytes, qint64 hadReserved,
                               std::vector<FileDecision> &pending)
{
    std::unique_lock<std::mutex> lock(mutex);
    handOver(batch, pending);
    if (hadReserved >= 0) {
        reservedBytes -= hadReserved;
        --reservations;
        memoryFreed.notify_all();
    }
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
// True when a decision of the batch reserved memory; bytes adds up the files' sizes.
bool DecisionPipeline::decideBatch(int batch, int first, int end,
                                   std::vector<FileDecision> &pending, qint64 &bytes)
{
    const HeldFolders heldFolders; // the batch's files come folder by folder
    qint64 pendingBytes = 0;
    bool large = false;
    qint64 reserved = -1;
    // Made once for the batch: made for each file, it would be allocated for each file.
    const ReserveMemory reserveMemory = [&](qint64 wanted) {
        if (wanted < memoryBudget / uncountedShare)
            return;
        reserve(batch, wanted, reserved, pending);
        pendingBytes = 0;
        reserved = wanted;
    };
    // A closing pipeline is not asked for its batches any more.
    for (int job = first; job < end && !closing; ++job) {
        reserved = -1;
        FileDecision decision = decide(job, reserveMemory);
        pendingBytes += HeldBytes(decision);
        bytes += decision.outcome.bytes;
        pending.push_back(std::move(decision));
        large = large || reserved >= 0;
        if (reserved >= 0 || pendingBytes >= handOverAlone) {
            publish(batch, pending, pendingBytes, reserved);
            pendingBytes = 0;
        }
    }
    return large;
}

void DecisionPipeline::work()
{
    const StreamBufferKeeper keeper; // one buffer for every file this thread reads
    const int window = static_cast<int>(ring.size());
    std::vector<FileDecision> pending;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        claimable.wait(lock, [&] {
            return closing || (nextJob < jobs && nextJob < takenJobs + aheadJobs &&
                               nextClaim < nextTake + window &&
                               (heldBytes < heldBytesBudget || nextClaim == nextTake));
        });
        if (closing)
            return;
        const int claimed = nextClaim++;
        const int first = nextJob;
        const int end = std::min({jobs, first + batchJobs, takenJobs + aheadJobs});
        nextJob = end;
        slot(claimed).jobs = end - first;
        lock.unlock();
        qint64 bytes = 0;
        const bool large = decideBatch(claimed, first, end, pending, bytes);
        lock.lock();
        batchJobs = large ? 1 : NextBatchJobs(batchJobs, end - first, bytes);
        handOver(claimed, pending);
        slot(claimed).ready = true;
        decided.notify_all();
    }
}
