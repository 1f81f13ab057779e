// Runs the fuzz target without libFuzzer: every file of a seed corpus, then a fixed number of inputs
// made from the seeds by seeded random edits. Usage: replay <corpus-dir> <count>.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::string> readCorpus(const std::string &dir) {
    std::vector<std::string> seeds;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return seeds;
    }
    while (dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::ifstream f(dir + "/" + name, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        seeds.push_back(s.str());
    }
    closedir(d);
    return seeds;
}

void run(const std::string &input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <corpus-dir> <count>\n", argv[0]);
        return 2;
    }
    std::vector<std::string> seeds = readCorpus(argv[1]);
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[1]);
        return 2;
    }
    for (const std::string &s : seeds) {
        run(s);
    }

    const std::string pieces[] = {"//",  "#",  "\r", "\n",   "\t", " ", "\xEF\xBB\xBF", std::string(1, '\0'),
                                  "A_1", "-1", "0x", "\xFF", "_",  "=", "1.0"};
    std::mt19937 rng(6);
    const long count = std::strtol(argv[2], nullptr, 10);
    for (long i = 0; i < count; i++) {
        std::string input = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < edits; k++) {
            const size_t pos = input.empty() ? 0 : rng() % (input.size() + 1);
            switch (rng() % 4) {
            case 0:
                if (!input.empty() && pos < input.size())
                    input[pos] = static_cast<char>(rng() & 0xFF);
                break;
            case 1:
                if (pos < input.size())
                    input.erase(pos, 1 + rng() % 4);
                break;
            case 2: {
                input.insert(pos, pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))]);
                break;
            }
            default:
                input.insert(pos, 1, static_cast<char>(rng() & 0x7F));
                break;
            }
        }
        run(input);
    }
    std::printf("replayed %zu seeds and %ld generated inputs\n", seeds.size(), count);
    return 0;
}
