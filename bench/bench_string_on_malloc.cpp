// The same string code on the C library's allocator: ve_string.cpp compiled a second time under
// other names, its heap calls going to malloc/realloc/free. This separates what the pooled heap
// gains from what the string's own design costs (one Reallocate per change).
#define vCString vCMallocString
#define vCStringHeap vCMallocStringHeap
#define Concat MallocConcat
#include "ve_string.cpp"
#undef Concat
#undef vCStringHeap
#undef vCString

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void* Checked(void* block)
{
    if (block == nullptr)
        std::abort();
    return block;
}

} // namespace

void vCMallocStringHeap::Initialize() {}
void* vCMallocStringHeap::Allocate(uint32_t size) { return Checked(std::malloc(size)); }
void* vCMallocStringHeap::Reallocate(void* block, uint32_t size) { return Checked(std::realloc(block, size)); }
void vCMallocStringHeap::Free(void* block) { std::free(block); }

namespace {

void MallocStringPath(benchmark::State& state)
{
    const vCMallocString directory("C:\\Games\\Sounds\\Ambient");
    const vCMallocString name("forest_birds_morning");
    for (auto _ : state)
    {
        const vCMallocString path = MallocConcat(MallocConcat(MallocConcat(directory, "\\"), name), "._xsnd");
        benchmark::DoNotOptimize(path.GetText());
    }
}

void MallocStringAppendPast255(benchmark::State& state)
{
    const vCMallocString piece("0123456789ab");
    for (auto _ : state)
    {
        vCMallocString text;
        for (int i = 0; i < 25; ++i)
            text.Append(piece);
        benchmark::DoNotOptimize(text.GetText());
    }
}

} // namespace

BENCHMARK(MallocStringPath);
BENCHMARK(MallocStringAppendPast255);
