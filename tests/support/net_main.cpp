// Main of every network test: refuses to run outside a private network
// namespace, so that no test can broadcast on the machine's own network.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "lan.h"

int main(int argc, char **argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
    if (!listing && !kxsim::in_private_namespace()) {
        std::fprintf(stderr,
                     "refusing to run: this test sends datagrams and must run inside a private "
                     "network namespace (scripts/netns-run, as ctest does)\n");
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
