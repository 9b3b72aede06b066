#include "models/LicenseType.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(LicenseTypeTest, Placeholder) {
    EXPECT_EQ(rawValue(LicenseType::full), QStringLiteral("free"));
}

} // namespace
} // namespace tarn
