#include "imgscope/contracts/foundation/units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

using utl::CUnit;

const CUnit kMetre(utl::eQuantityLength, 1, 0);
const CUnit kMicrometre(utl::eQuantityLength, 1, -6);
const CUnit kNanometre(utl::eQuantityLength, 1, -9);
const CUnit kSquareMicrometre(utl::eQuantityLength, 2, -6);
const CUnit kSquareMillimetre(utl::eQuantityLength, 2, -3);
const CUnit kPerSecond(utl::eQuantityTime, -1, 0);
const CUnit kPerMillisecond(utl::eQuantityTime, -1, -3);

TEST(UnitTest, CompatibilityNeedsQuantityAndExponentEqualityAlsoThePrefix)
{
    EXPECT_TRUE(kMicrometre.Compatible(kNanometre));
    EXPECT_NE(kMicrometre, kNanometre);
    EXPECT_FALSE(kMicrometre.Compatible(kSquareMicrometre));
    EXPECT_FALSE(kMicrometre.Compatible(utl::c_pixel));
    EXPECT_FALSE(CUnit(utl::eQuantityTime, 1, -6).Compatible(kMicrometre));
    EXPECT_EQ(utl::c_pixel, CUnit(129, 1, 0));
    EXPECT_EQ(utl::c_pixel.GetUnit(), 129);
    EXPECT_EQ(CUnit(), CUnit(0, 1, 0));
    EXPECT_TRUE(CUnit(utl::eQuantityArbitrary, 1, 0).Compatible(CUnit(191, 1, 3)));
}

TEST(UnitTest, ConvertScalesByThePrefixTimesTheExponentAndThrowsForIncompatibleUnits)
{
    struct Case {
        double value;
        CUnit from, to;
        double expected;
    };
    const Case cases[] = {
        {0.1625, kMicrometre, kNanometre, 162.5},
        {162.5, kNanometre, kMicrometre, 0.1625},
        {1.0, kMicrometre, kMetre, 1e-6},  // correctly rounded, not 1e-6 ± 1 ulp
        {1.0, kNanometre, kMetre, 1e-9},
        {3.0, kNanometre, kMetre, 3e-9},     // 3 × 1e-9 would give 3.0000000000000004e-09
        {2.5, kMicrometre, kMetre, 2.5e-6},
        {1.0, kSquareMicrometre, kSquareMillimetre, 1e-6},  // (1e-3)^2
        {2.0, kPerMillisecond, kPerSecond, 2000.0},
        {5.0, kMetre, kMetre, 5.0},
        {-3.0, kMetre, kMicrometre, -3e6},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " prefix " << c.from.GetDecimalPrefix() << " -> "
                                        << c.to.GetDecimalPrefix() << " exp " << c.from.GetExponent());
        EXPECT_EQ(utl::Convert(c.value, c.from, c.to), c.expected);
    }
    // A round trip over many decades stays within rounding.
    EXPECT_DOUBLE_EQ(utl::Convert(utl::Convert(0.37, kMetre, kNanometre), kNanometre, kMetre), 0.37);
    // Prefix differences beyond any double end in 0 or infinity, quickly.
    EXPECT_EQ(utl::Convert(1.0, CUnit(1, 1, -400), CUnit(1, 1, 400)), 0.0);
    EXPECT_TRUE(std::isinf(utl::Convert(1.0, CUnit(1, 3, 200), CUnit(1, 3, -200))));
    EXPECT_TRUE(std::isnan(utl::Convert(std::nan(""), kMicrometre, kNanometre)));
    EXPECT_EQ(utl::Convert(geo::CdRect(0, 1, 2, 3), kMicrometre, kNanometre), geo::CdRect(0, 1000, 2000, 3000));

    // Incompatible units throw from every overload.
    EXPECT_THROW(utl::Convert(1.0, kMicrometre, utl::c_pixel), std::invalid_argument);
    EXPECT_THROW(utl::Convert(1.0, kMicrometre, kSquareMicrometre), std::invalid_argument);
    EXPECT_THROW(utl::Convert(1.0, kPerSecond, CUnit(utl::eQuantityTime, 1, 0)), std::invalid_argument);
    EXPECT_THROW(utl::Convert(geo::CdVec2(1, 2), kMetre, utl::c_pixel), std::invalid_argument);
    EXPECT_THROW(utl::Convert(geo::CdRect(0, 0, 1, 1), utl::c_pixel, kMetre), std::invalid_argument);
}

}  // namespace
