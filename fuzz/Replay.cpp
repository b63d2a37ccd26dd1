// Runs a fuzz harness on saved inputs: the regression test of every build, and the way to
// look at one input under a debugger or a profiler.
//
//   bitloupe-fuzz-replay HARNESS [--max-seconds S] FILE|FOLDER...
//
// A folder stands for the files directly in it. Prints each input with its time; exits 1
// when an input could not be read or took longer than S seconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

void Usage() {
    std::fputs("usage: bitloupe-fuzz-replay HARNESS [--max-seconds S] FILE|FOLDER...\nharnesses:",
               stderr);
    for (const auto& h : bitloupe::fuzz::kHarnesses) std::fprintf(stderr, " %s", h.name);
    std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Usage();
        return 1;
    }
    bitloupe::fuzz::HarnessFn run = nullptr;
    for (const auto& h : bitloupe::fuzz::kHarnesses)
        if (std::strcmp(argv[1], h.name) == 0) run = h.run;
    if (!run) {
        Usage();
        return 1;
    }
    double maxSeconds = 0;
    std::vector<std::filesystem::path> inputs;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max-seconds") == 0 && i + 1 < argc) {
            maxSeconds = std::atof(argv[++i]);
            continue;
        }
        const std::filesystem::path p = argv[i];
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(p, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(p);
        }
    }
    int failures = 0;
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
            ++failures;
            continue;
        }
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        const auto t0 = std::chrono::steady_clock::now();
        run(bytes.data(), bytes.size());
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const bool slow = maxSeconds > 0 && s > maxSeconds;
        std::printf("%s: %zu bytes, %.3f s%s\n", path.c_str(), bytes.size(), s,
                    slow ? " (too slow)" : "");
        if (slow) ++failures;
    }
    return failures ? 1 : 0;
}
