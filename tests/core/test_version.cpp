#include "core/version.h"

#include <gtest/gtest.h>

TEST(Version, TextHasFourNumbers)
{
    EXPECT_TRUE(BuildVersionText().contains(QStringLiteral(" build ")));
}
