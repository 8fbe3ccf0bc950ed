// A small stand-in for libFuzzer's driver, for targets built with the project's own compiler
// and libraries: every seed of the corpus is run, then inputs made from them by random
// mutations (bytes flipped, inserted, removed, chunks repeated, seeds spliced), from a fixed
// start so that a run can be repeated, until the time given is up. Each input is written to
// the scratch folder before it runs, so that one that crashes is there to be kept as a seed.
//   driver CORPUS_DIR SECONDS SCRATCH_DIR
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Run(const std::string& input, const std::filesystem::path& current) {
    {
        std::ofstream out(current, std::ios::binary | std::ios::trunc);
        out << input;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string Mutated(std::string s, const std::vector<std::string>& seeds, std::mt19937& random) {
    const auto pick = [&](size_t n) { return n == 0 ? 0 : random() % n; };
    for (int steps = 1 + static_cast<int>(pick(4)); steps > 0; --steps) {
        const size_t at = pick(s.size() + 1);
        const std::string& other = seeds[pick(seeds.size())];
        switch (pick(5)) {
            case 0:  // a bit flipped, or a byte that matters to these parsers
                if (at < s.size())
                    s[at] = pick(2) ? s[at] ^ static_cast<char>(1u << pick(8))
                                    : "\n\0=&%:/@?{}[]-"[pick(14)];
                break;
            case 1:
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(pick(256)));
                break;
            case 2:
                if (at < s.size())
                    s.erase(at, 1 + pick(8));
                break;
            case 3:  // a chunk repeated
                if (at < s.size() && s.size() < 1u << 16)
                    s.insert(at, s.substr(at, 1 + pick(32)));
                break;
            default:  // a piece of another seed spliced in
                s.insert(at, other.substr(pick(other.size() + 1)));
                break;
        }
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR SECONDS SCRATCH_DIR\n", argv[0]);
        return 2;
    }
    std::vector<std::string> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        seeds.push_back(ReadAll(entry.path()));
    if (seeds.empty())
        seeds.emplace_back();
    std::filesystem::create_directories(argv[3]);
    const std::filesystem::path current = std::filesystem::path(argv[3]) / "current-input";
    for (const std::string& seed : seeds)
        Run(seed, current);
    std::mt19937 random(20261209);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(argv[2]));
    long runs = 0;
    while (std::chrono::steady_clock::now() < until) {
        Run(Mutated(seeds[random() % seeds.size()], seeds, random), current);
        ++runs;
    }
    std::printf("%ld runs on %zu seeds: no crash\n", runs, seeds.size());
    return 0;
}
