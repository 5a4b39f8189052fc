#include <cstdio>
int main() {
    std::puts("cnc-sim: not built yet");
    return 0;
}
