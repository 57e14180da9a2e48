// The test program run under Wine. It needs the servers and folders that run-wine-tests.sh
// starts and passes in the environment.
#include <gtest/gtest.h>

#include <cstdio>

#include "wine_test_support.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const wine_testing::Setup& setup = wine_testing::TheSetup();
    std::printf("ANSI code page %u; nginx %s, recorder %s, file service %s\n", GetACP(),
                setup.nginx.c_str(), setup.recorder.c_str(), setup.fileService.c_str());
    return RUN_ALL_TESTS();
}
