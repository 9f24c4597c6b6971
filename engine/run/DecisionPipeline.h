#pragma once

#include "engine/run/TextFile.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Takes the decisions for jobs 0, 1, 2, ... on worker threads, a few jobs ahead of the
// caller, who takes them back strictly in order. Deciding changes nothing on disk (a
// temporary written ahead goes with its decision), so decisions taken ahead and never
// collected cost nothing but time.
//
// Each decision reserves the memory it needs before it reads its file. Decisions under way
// and decisions waiting to be taken share one budget; a file that needs more than the budget
// is decided only when it is the caller's next, while no other decision is under way, so two
// large files are never held at once.
class DecisionPipeline
{
public:
    using Decide = std::function<FileDecision(int job, const ReserveMemory &reserve)>;

    DecisionPipeline(int jobs, Decide decide, qint64 memoryBudget = defaultMemoryBudget());
    // Waits only for the decisions in hand; the rest are not started.
    ~DecisionPipeline();

    DecisionPipeline(const DecisionPipeline &) = delete;
    DecisionPipeline &operator=(const DecisionPipeline &) = delete;

    // The decision of the next job in order, waiting for it if needed.
    FileDecision take();

    // How many jobs may at most be decided or in hand ahead of the caller.
    static int mostAhead();
    // Room for a few novels of several megabytes to be decided side by side, their new bytes
    // held until their turn, with the whole run under 64 MiB.
    static qint64 defaultMemoryBudget();

private:
    // Workers hand over jobs in batches of about a megabyte of files: a hand-over that wakes a
    // sleeping thread costs as much as deciding many small files. A decision that holds much memory
    // is handed over at once, so that it is freed sooner, and after it batches take one job until
    // they meet small files again: the batches after the caller's next one cannot be taken before
    // it, and a batch of many large files would keep the other workers waiting for memory.
    struct Batch
    {
        int jobs = 0;                        // how many it holds
        bool ready = false;                  // every decision of the batch has been added
        std::vector<FileDecision> decisions; // decided, not yet taken
        qint64 heldBytes = 0;                // what they hold, bytes and attachments
    };

    void work();
    bool decideBatch(int batch, int first, int end, std::vector<FileDecision> &pending,
                     qint64 &bytes);
    void advance();
    void handOver(int batch, std::vector<FileDecision> &decisions);
    void publish(int batch, std::vector<FileDecision> &decisions, qint64 bytes, qint64 reserved);
    void reserve(int batch, qint64 bytes, qint64 hadReserved, std::vector<FileDecision> &pending);
    bool memoryFits(int batch, qint64 bytes) const;
    Batch &slot(int batch) { return ring[static_cast<size_t>(batch) % ring.size()]; }
    const Batch &slot(int batch) const { return ring[static_cast<size_t>(batch) % ring.size()]; }

    const int jobs;
    const Decide decide;
    const qint64 memoryBudget;
    std::mutex mutex;
    std::condition_variable claimable;   // a batch may be started, or the pipeline is closing
    std::condition_variable decided;     // decisions are there to be taken
    std::condition_variable memoryFreed; // a reservation ended, or decisions were taken
    std::vector<Batch> ring;             // batch b lives in ring[b % size] while in flight
    int nextClaim = 0;                   // batches
    int nextTake = 0;
    int nextJob = 0;          // the first job of the next batch claimed
    int batchJobs = 0;        // how many jobs the next batch claimed takes
    int takenJobs = 0;        // the jobs of the batches taken whole
    int aheadJobs = 0;        // how many jobs may be claimed beyond those
    qint64 heldBytes = 0;     // what all decisions not yet taken hold, inHand's too
    qint64 inHandBytes = 0;   // inHand's, until the caller comes back for more
    qint64 reservedBytes = 0; // memory reserved by decisions under way
    int reservations = 0;
    std::atomic_bool closing{false};
    std::vector<FileDecision> inHand; // decisions taken from the ring, front to back
    size_t inHandNext = 0;
    qint64 lastTakenBytes = 0; // of the decision taken last, when large, until the next take
    std::vector<std::thread> workers;
};
