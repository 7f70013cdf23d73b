// The pooled string heap against glibc malloc/realloc/free, and vCString against std::string,
// in one run. Run with --benchmark_min_time=0.2 or more for steady figures.
#include "ve_string.h"
#include "ve_stringheap.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kBatch = 100;

// One block taken and released at once: the hottest path of short-lived strings.
void PooledPair(benchmark::State& state)
{
    const auto size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
    {
        void* block = vCStringHeap::Allocate(size);
        benchmark::DoNotOptimize(block);
        vCStringHeap::Free(block);
    }
}

void MallocPair(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state)
    {
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}

// A hundred blocks live at once, released in the order they were taken.
void PooledBatch(benchmark::State& state)
{
    const auto size = static_cast<uint32_t>(state.range(0));
    void* blocks[kBatch];
    for (auto _ : state)
    {
        for (auto& block : blocks)
            block = vCStringHeap::Allocate(size);
        benchmark::DoNotOptimize(blocks);
        for (void* block : blocks)
            vCStringHeap::Free(block);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void MallocBatch(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    void* blocks[kBatch];
    for (auto _ : state)
    {
        for (auto& block : blocks)
            block = std::malloc(size);
        benchmark::DoNotOptimize(blocks);
        for (void* block : blocks)
            std::free(block);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Allocate, grow by one block, release: growth in place for the pool.
void PooledGrowByOneBlock(benchmark::State& state)
{
    const auto size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
    {
        void* block = vCStringHeap::Allocate(size);
        block = vCStringHeap::Reallocate(block, 2 * size);
        benchmark::DoNotOptimize(block);
        vCStringHeap::Free(block);
    }
}

void MallocGrowByOneBlock(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state)
    {
        void* block = std::malloc(size);
        block = std::realloc(block, 2 * size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}

void PooledLarge(benchmark::State& state)
{
    const auto size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
    {
        void* block = vCStringHeap::Allocate(size);
        benchmark::DoNotOptimize(block);
        vCStringHeap::Free(block);
    }
}

void MallocLarge(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state)
    {
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}

// An output path the way the conversions build it: one Concat per plus sign.
void StringPath(benchmark::State& state)
{
    const vCString directory("C:\\Games\\Sounds\\Ambient");
    const vCString name("forest_birds_morning");
    for (auto _ : state)
    {
        const vCString path = Concat(Concat(Concat(directory, "\\"), name), "._xsnd");
        benchmark::DoNotOptimize(path.GetText());
    }
}

void StdStringPath(benchmark::State& state)
{
    const std::string directory("C:\\Games\\Sounds\\Ambient");
    const std::string name("forest_birds_morning");
    for (auto _ : state)
    {
        const std::string path = directory + "\\" + name + "._xsnd";
        benchmark::DoNotOptimize(path.data());
    }
}

// Appending 12-character pieces to an empty string until it holds 300 characters, crossing the
// 255-character form boundary and the largest class on the way.
void StringAppendPast255(benchmark::State& state)
{
    const vCString piece("0123456789ab");
    for (auto _ : state)
    {
        vCString text;
        for (int i = 0; i < 25; ++i)
            text.Append(piece);
        benchmark::DoNotOptimize(text.GetText());
    }
}

void StdStringAppendPast255(benchmark::State& state)
{
    const std::string piece("0123456789ab");
    for (auto _ : state)
    {
        std::string text;
        for (int i = 0; i < 25; ++i)
            text.append(piece);
        benchmark::DoNotOptimize(text.data());
    }
}

} // namespace

BENCHMARK(PooledPair)->RangeMultiplier(2)->Range(8, 256);
BENCHMARK(MallocPair)->RangeMultiplier(2)->Range(8, 256);
BENCHMARK(PooledBatch)->RangeMultiplier(2)->Range(8, 256);
BENCHMARK(MallocBatch)->RangeMultiplier(2)->Range(8, 256);
BENCHMARK(PooledGrowByOneBlock)->RangeMultiplier(2)->Range(8, 256);
BENCHMARK(MallocGrowByOneBlock)->RangeMultiplier(2)->Range(8, 256);
BENCHMARK(PooledLarge)->Arg(300)->Arg(1000)->Arg(4000);
BENCHMARK(MallocLarge)->Arg(300)->Arg(1000)->Arg(4000);
BENCHMARK(StringPath);
BENCHMARK(StdStringPath);
BENCHMARK(StringAppendPast255);
BENCHMARK(StdStringAppendPast255);

BENCHMARK_MAIN();
