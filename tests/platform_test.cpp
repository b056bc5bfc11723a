#include <gtest/gtest.h>
TEST(Platform, Builds) {}
