// gcwindow as a first draft would write it: one formatted read per byte,
// and the rest of the input read the same way. Built by bench/run to show
// what block reading is worth; never installed.

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc < 4) return 2;
    std::FILE* ins = std::fopen(argv[argc - 3], "r");
    std::FILE* fout = std::fopen(argv[argc - 1], "w");
    const int runningWindow = std::atoi(argv[argc - 2]);
    if (ins == nullptr || fout == nullptr) return 2;

    char base = 0;
    int gcTot = 0;
    int keepGoing = 0;
    for (int position = 0; position < runningWindow; ++position) {
        keepGoing = std::fscanf(ins, "%c", &base);
        if ((base & 0xDB) == 0x43) ++gcTot;
    }
    std::printf("%f\n", static_cast<double>(static_cast<float>(gcTot) / static_cast<float>(runningWindow)));
    if (keepGoing > 0) {
        while (std::fscanf(ins, "%c", &base) > 0) {
        }
    }
    return 0;
}
