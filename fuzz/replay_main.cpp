// Runs a fuzz target without libFuzzer: every file of the folders (or the files) named on the
// command line goes once through LLVMFuzzerTestOneInput, in name order. A model mismatch aborts,
// so the corpus of a target is an ordinary test. A missing or empty corpus fails: a replay that
// ran nothing proves nothing.
#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
    {
        const fs::path path(argv[i]);
        std::error_code ec;
        if (fs::is_directory(path, ec))
        {
            for (const fs::directory_entry& entry : fs::directory_iterator(path))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
        }
        else if (fs::is_regular_file(path, ec))
        {
            inputs.push_back(path);
        }
        else
        {
            std::fprintf(stderr, "replay: %s is neither a folder nor a file\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty())
    {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }

    for (const fs::path& input : inputs)
    {
        const std::string bytes = vfuzz::ReadWholeFile(input.string());
        // Named before it runs, so the input that aborts is the last one shown.
        std::printf("replay: %s (%zu bytes)\n", input.string().c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
