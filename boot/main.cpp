// Entry point of the zan executable.
#include <cstdio>

#include "runtime/core/memory.h"
#include "runtime/core/stack.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    zan::memory_init();
    zan::stack_init();
    std::puts("Zan runtime core initialised; the console is not built yet.");
    return 0;
}
