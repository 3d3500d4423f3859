// Runs a fuzz target once over each input it is given, files or folders of
// files, without libFuzzer: the coverage build (GCC) replays the corpora with
// it, so that its report counts what fuzzing reached.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Defined by the targets that set up something first.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void replay(const std::filesystem::path& path, std::size_t& count) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    // An empty vector's data() may be null; libFuzzer passes a valid pointer.
    static const std::uint8_t nothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &nothing : bytes.data(), bytes.size());
    ++count;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path input(argv[i]);
        if (!std::filesystem::is_directory(input)) {
            replay(input, count);
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(input)) {
            if (entry.is_regular_file()) replay(entry.path(), count);
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
