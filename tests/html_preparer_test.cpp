#include "html_preparer.h"

#include <gtest/gtest.h>

TEST(Placeholder, X) {}
