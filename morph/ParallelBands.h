#pragma once
// Row bands of a raster drawn on several threads: a small pool of threads kept for the
// life of the program, so that each render pays no thread start-up.
#include <cstdint>
#include <functional>

namespace qv {

// Threads a render may use: the machine's count unless set. Setting 0 returns to the
// machine's count; 1 draws everything on the calling thread (tests and benchmarks compare
// the two).
void SetRenderThreads(int32_t count);
int32_t RenderThreads();

// Calls Fn(First, Last) for bands of rows First .. Last - 1 that together cover
// 0 .. Height - 1 exactly once, on up to RenderThreads() threads (the caller is one of
// them), and returns when every band is done. Bands never share a row, so a Fn that
// writes only its own rows needs no locking. The first exception thrown by Fn is rethrown
// here after every band has finished. A call made while the pool is busy (from another
// thread, or from inside Fn) draws its bands on the calling thread.
void ParallelBands(int32_t Height, const std::function<void(int32_t First, int32_t Last)>& Fn);

// Calls Fn(0) .. Fn(Count - 1), each once, on up to RenderThreads() threads, and returns
// when all are done; exceptions and calls while the pool is busy as for ParallelBands (a
// lone caller runs them in order).
void ParallelTasks(int32_t Count, const std::function<void(int32_t Index)>& Fn);

}  // namespace qv
