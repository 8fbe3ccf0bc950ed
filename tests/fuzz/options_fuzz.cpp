// Fuzz target for velindra-cli's argument parser: the input's lines are the arguments. Any
// command line is parsed or refused without crashing, and a refusal is said on the error
// stream with exit status 2.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> argv = {"velindra-cli"};
    for (size_t start = 0; start <= text.size() && argv.size() < 64;) {
        const size_t end = std::min(text.find('\n', start), text.size());
        argv.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    velindra::cli::Options options;
    std::ostringstream out, err;
    const std::optional<int> status = velindra::cli::ParseArguments(argv, options, out, err);
    if (status && *status != 0 && (*status != 2 || err.str().empty()))
        std::abort();
    return 0;
}
