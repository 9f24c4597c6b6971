#pragma once

#include "HandleTextFile.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Takes the decisions for jobs 0, 1, 2, ... on worker threads, at most a few jobs ahead of
// the caller, who takes them back strictly in order. Deciding touches nothing on disk, so
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

private:
    struct Slot
    {
        bool ready = false;
        FileDecision decision;
    };

    void work();

    const int jobs;
    const std::function<FileDecision(int)> decide;
    std::mutex mutex;
    std::condition_variable claimable; // a job may be started, or the pipeline is closing
    std::condition_variable decided;   // a slot has become ready
    std::vector<Slot> ring;            // job k lives in slot k % size while in flight
    int nextClaim = 0;
    int nextTake = 0;
    bool closing = false;
    std::vector<std::thread> workers;
};
