#include "morph/ParallelBands.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace qv {

namespace {

std::atomic<int32_t> gThreadsWanted{0};

int32_t MachineThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int32_t(std::min(n, 256u));
}

// Helpers sleep until a job comes; the job's bands are handed out one at a time from a
// counter, so a thread that finishes early takes the next band instead of idling.
class TBandPool {
public:
    ~TBandPool() {
        {
            std::lock_guard lock(FMutex);
            FQuit = true;
        }
        FWake.notify_all();
        for (std::thread& t : FThreads) t.join();
    }

    // False when another job holds the pool; the caller then draws alone.
    bool TryRun(int32_t height, int32_t bands, int32_t threads, const std::function<void(int32_t, int32_t)>& fn) {
        std::unique_lock busy(FBusy, std::try_to_lock);
        if (!busy.owns_lock()) return false;
        const int32_t helpers = threads - 1;
        while (int32_t(FThreads.size()) < helpers) {
            const int32_t index = int32_t(FThreads.size());
            FThreads.emplace_back([this, index] { HelperLoop(index); });
        }
        {
            std::lock_guard lock(FMutex);
            FFn = &fn;
            FHeight = height;
            FBands = bands;
            FNext.store(0);
            FHelpers = helpers;
            FRunning = helpers;
            FError = nullptr;
            ++FGeneration;
        }
        FWake.notify_all();
        DrawBands();
        std::unique_lock lock(FMutex);
        FDone.wait(lock, [this] { return FRunning == 0; });
        FFn = nullptr;
        if (FError) std::rethrow_exception(std::exchange(FError, nullptr));
        return true;
    }

private:
    void HelperLoop(int32_t index) {
        uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock lock(FMutex);
                FWake.wait(lock, [&] { return FQuit || FGeneration != seen; });
                if (FQuit) return;
                seen = FGeneration;
                // Threads left over from a larger setting sit this job out.
                if (index >= FHelpers) continue;
            }
            DrawBands();
            std::lock_guard lock(FMutex);
            if (--FRunning == 0) FDone.notify_one();
        }
    }

    void DrawBands() {
        for (;;) {
            const int32_t band = FNext.fetch_add(1);
            if (band >= FBands) return;
            // Row bounds in 64 bits: band x height may pass 2^31.
            const auto first = int32_t(int64_t(FHeight) * band / FBands);
            const auto last = int32_t(int64_t(FHeight) * (band + 1) / FBands);
            try {
                (*FFn)(first, last);
            } catch (...) {
                std::lock_guard lock(FMutex);
                if (!FError) FError = std::current_exception();
            }
        }
    }

    std::mutex FBusy;  // one job at a time
    std::mutex FMutex;
    std::condition_variable FWake, FDone;
    std::vector<std::thread> FThreads;
    const std::function<void(int32_t, int32_t)>* FFn = nullptr;
    int32_t FHeight = 0, FBands = 0, FHelpers = 0, FRunning = 0;
    std::atomic<int32_t> FNext{0};
    uint64_t FGeneration = 0;
    bool FQuit = false;
    std::exception_ptr FError;
};

TBandPool& Pool() {
    static TBandPool pool;
    return pool;
}

}  // namespace

void SetRenderThreads(int32_t count) { gThreadsWanted.store(std::clamp(count, 0, 256)); }

int32_t RenderThreads() {
    const int32_t wanted = gThreadsWanted.load();
    return wanted > 0 ? wanted : MachineThreads();
}

void ParallelBands(int32_t Height, const std::function<void(int32_t, int32_t)>& Fn) {
    if (Height <= 0) return;
    const int32_t threads = std::min(RenderThreads(), Height);
    // A few bands per thread even out triangles of uneven cost; a band is at least 16 rows
    // so that each keeps some use of its triangles' setup.
    const int32_t bands = std::clamp(Height / 16, 1, threads * 4);
    if (threads > 1 && Pool().TryRun(Height, bands, threads, Fn)) return;
    Fn(0, Height);
}

void ParallelTasks(int32_t Count, const std::function<void(int32_t Index)>& Fn) {
    if (Count <= 0) return;
    const int32_t threads = std::min(RenderThreads(), Count);
    const std::function<void(int32_t, int32_t)> one = [&](int32_t first, int32_t) { Fn(first); };
    if (threads > 1 && Pool().TryRun(Count, Count, threads, one)) return;
    for (int32_t i = 0; i < Count; ++i) Fn(i);
}

}  // namespace qv
