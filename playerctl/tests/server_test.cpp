#include <gtest/gtest.h>
int server_placeholder;
