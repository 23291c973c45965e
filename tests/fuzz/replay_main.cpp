// The driver of a fuzz target in builds without libFuzzer: runs the target once over each input
// named on the command line, a file or every file of a folder, as libFuzzer does with the same
// arguments. Of libFuzzer's options (arguments that begin with '-'), -malloc_limit_mb=N is honoured
// in builds with a sanitizer, as libFuzzer honours it: an allocation larger than N MiB aborts. The
// others are ignored. Exit code 0 when every input ran (a failing input aborts), 1 when an input
// could not be read or none was given.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// The sanitizers' allocation hooks, present only in builds with a sanitizer.
extern "C" __attribute__((weak)) int __sanitizer_install_malloc_and_free_hooks(
    void (*onMalloc)(const volatile void*, std::size_t), void (*onFree)(const volatile void*));
extern "C" __attribute__((weak)) void __sanitizer_print_stack_trace();

namespace {

namespace fs = std::filesystem;

std::size_t g_mallocLimitBytes = 0;

// Runs inside the allocator: allocates nothing.
void checkAllocation(const volatile void*, std::size_t size) {
    if (g_mallocLimitBytes == 0 || size <= g_mallocLimitBytes)
        return;
    std::fprintf(stderr, "an allocation of %zu bytes exceeds -malloc_limit_mb\n", size);
    if (__sanitizer_print_stack_trace)
        __sanitizer_print_stack_trace();
    std::abort();
}

void ignoreFree(const volatile void*) {}

void limitAllocations(const std::string& argument) {
    const std::string option = "-malloc_limit_mb=";
    if (argument.compare(0, option.size(), option) != 0 ||
        !__sanitizer_install_malloc_and_free_hooks)
        return;
    const unsigned long long megabytes =
        std::strtoull(argument.c_str() + option.size(), nullptr, 10);
    g_mallocLimitBytes = static_cast<std::size_t>(megabytes) << 20;
    __sanitizer_install_malloc_and_free_hooks(checkAllocation, ignoreFree);
}

bool readFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!argument.empty() && argument[0] == '-')
            limitAllocations(argument);
        if (argument.empty() || argument[0] == '-')
            continue;
        std::error_code error;
        if (fs::is_directory(argument, error)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(argument, error)) {
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.emplace_back(argument);
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs given\n");
        return 1;
    }
    for (const fs::path& path : inputs) {
        std::string bytes;
        if (!readFile(path, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        std::fprintf(stderr, "Running: %s\n", path.c_str());
        // In memory of its own, so that a read past the input's end is caught.
        const xel::fuzz::PayloadCopy input(bytes, 0);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }
    std::fprintf(stderr, "Executed %zu inputs\n", inputs.size());
    return 0;
}
