#include <gtest/gtest.h>

#include "nj/unique.h"

int main(int argc, char** argv)
{
    const auto com = nj::CoInitializeApartment();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
