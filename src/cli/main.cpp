#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("usage: corvane-cli COMMAND [ARGS]");
        return 0;
    }
    std::fputs("usage: corvane-cli COMMAND [ARGS] (try --help)\n", stderr);
    return 2;
}
