#pragma once

#include "engine/run/TextFile.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Takes the decisions for jobs 0, 1, 2, ... on worker threads, a few jobs ahead of the
// caller, who takes them back strictly in order. Deciding touches nothing on disk, so
// decisions taken ahead and never collected cost nothing but time.
class DecisionPipeline
{
public:
    DecisionPipeline(int jobs, std::function<FileDecision(int job)> decide);
    // Waits only for the decisions in hand; the rest are not started.
    ~DecisionPipeline();

    DecisionPipeline(const DecisionPipeline &) = delete;
    DecisionPipeline &operator=(const DecisionPipeline &) = delete;

    // The decision of the next job in order, waiting for it if needed.
    FileDecision take();

    // How many jobs may at most be decided or in hand ahead of the caller.
    static int mostAhead();

private:
    // Workers hand over a few jobs at a time: a hand-over that wakes a sleeping thread costs
    // about as much as deciding a small file.
    struct Batch
    {
        bool ready = false;
        qint64 newBytes = 0;
        std::vector<FileDecision> decisions;
    };

    void work();

    const int jobs;
    const std::function<FileDecision(int)> decide;
    std::mutex mutex;
    std::condition_variable claimable; // a batch may be started, or the pipeline is closing
    std::condition_variable decided;   // a batch has become ready
    std::vector<Batch> ring;           // batch b lives in ring[b % size] while in flight
    int nextClaim = 0;                 // batches
    int nextTake = 0;
    qint64 heldBytes = 0; // new contents of ready batches
    std::atomic_bool closing{false};
    std::vector<FileDecision> inHand; // the batch being taken, front to back
    size_t inHandNext = 0;
    std::vector<std::thread> workers;
};
