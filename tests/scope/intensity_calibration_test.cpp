#include "imgscope/scope/intensity_calibration.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

namespace {

using img::CIntensityCalibration;

constexpr utl::CUnit kMicron{utl::eQuantityLength, 1, -6};

// Entry i of a filled table: distinct, not the index itself.
double EntryValue(int i) { return i * 3.25 - 1000.0; }

void FillTable(CIntensityCalibration& calibration)
{
    for (unsigned i = 0; i < calibration.size(); ++i)
        calibration[int(i)] = EntryValue(int(i));
}

// The calibration's table type for raw data of type T.
template <class T>
constexpr utl::EType TypeOf()
{
    if (sizeof(T) == 1)
        return std::is_same_v<T, unsigned char> ? utl::eUInt8 : utl::eInt8;
    return std::is_unsigned_v<T> ? utl::eUInt16 : utl::eInt16;
}

// The table index of a raw value, by arithmetic on its value: char counts
// as signed everywhere.
template <class T>
int IndexOf(T v)
{
    if constexpr (std::is_same_v<T, char>)
        return int(static_cast<signed char>(v)) + 128;
    else if constexpr (std::is_signed_v<T>)
        return int(v) - int(std::numeric_limits<T>::min());
    else
        return int(v);
}

// Every raw value of an 8-bit type; for 16-bit types the extremes, the
// values around zero and the sign change, and a random sample.
template <class T>
std::vector<T> RawSample()
{
    std::vector<T> values;
    if (sizeof(T) == 1) {
        for (int bits = 0; bits < 256; ++bits)
            values.push_back(T(std::uint8_t(bits)));
        return values;
    }
    for (int bits : {0, 1, 2, 0x7FFE, 0x7FFF, 0x8000, 0x8001, 0xFFFE, 0xFFFF})
        values.push_back(T(std::uint16_t(bits)));
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i)
        values.push_back(T(std::uint16_t(random())));
    return values;
}

// Apply over `raw`, checked against the plain loop out[k] = table[index].
template <class T>
void ExpectApplyMatchesLoop(CIntensityCalibration const& calibration, std::vector<T> const& raw, std::size_t outShift)
{
    std::vector<double> out(raw.size() + outShift + 1, -7.0);
    ASSERT_TRUE(calibration.Apply(raw.data(), raw.data() + raw.size(), out.data() + outShift));
    for (std::size_t k = 0; k < raw.size(); ++k)
        ASSERT_EQ(out[k + outShift], calibration[IndexOf(raw[k])]) << "value " << int(raw[k]) << " at " << k;
    EXPECT_EQ(out.back(), -7.0);  // nothing past the range
    for (std::size_t k = 0; k < outShift; ++k)
        EXPECT_EQ(out[k], -7.0);
}

template <class T>
class ApplyTest : public ::testing::Test {};
using RawTypes = ::testing::Types<unsigned char, char, unsigned short, short>;
TYPED_TEST_SUITE(ApplyTest, RawTypes);

TYPED_TEST(ApplyTest, MatchesThePlainLoopAtEveryLengthAndOffset)
{
    CIntensityCalibration calibration;
    calibration.SetType(TypeOf<TypeParam>());
    FillTable(calibration);
    const std::vector<TypeParam> sample = RawSample<TypeParam>();
    // Ranges that end inside a word of the wide loop, starting off its
    // alignment, written to an output that is not 16-byte aligned; the last
    // is a whole frame, large enough for the stores that pass the caches.
    std::vector<TypeParam> frame;
    while (frame.size() < 700004)
        frame.insert(frame.end(), sample.begin(), sample.end());
    for (std::size_t length : {std::size_t(1), std::size_t(7), std::size_t(9), std::size_t(255), std::size_t(700001)}) {
        for (std::size_t start : {0, 1, 3}) {
            SCOPED_TRACE(testing::Message() << "length " << length << ", start " << start);
            const std::vector<TypeParam> raw(frame.begin() + std::ptrdiff_t(start),
                                             frame.begin() + std::ptrdiff_t(start + length));
            ExpectApplyMatchesLoop(calibration, raw, 0);
            ExpectApplyMatchesLoop(calibration, raw, 1);
        }
    }
}

TYPED_TEST(ApplyTest, NeedsATableOfItsWidthAndARangeToWriteTo)
{
    TypeParam const raw[2] = {TypeParam(1), TypeParam(2)};
    double out[2] = {-7.0, -7.0};
    CIntensityCalibration calibration;
    EXPECT_FALSE(calibration.Apply(raw, raw + 2, out));
    calibration.SetType(sizeof(TypeParam) == 1 ? utl::eUInt16 : utl::eUInt8);  // the other width
    EXPECT_FALSE(calibration.Apply(raw, raw + 2, out));

    calibration.SetType(TypeOf<TypeParam>());
    EXPECT_TRUE(calibration.Apply(raw, raw, out));  // empty: true, nothing written
    EXPECT_TRUE(calibration.Apply(raw + 1, raw + 1, nullptr));
    EXPECT_FALSE(calibration.Apply(raw + 1, raw, out));
    EXPECT_FALSE(calibration.Apply(raw, raw + 1, nullptr));
    EXPECT_EQ(out[0], -7.0);
    EXPECT_EQ(out[1], -7.0);
}

TEST(IntensityCalibrationTest, SetTypeKeepsATableOfTheSameWidthAndDropsTheOther)
{
    CIntensityCalibration calibration;
    calibration.SetType(utl::eInt8);
    ASSERT_EQ(calibration.size(), 256u);
    EXPECT_EQ(calibration.end(), calibration.begin() + 256);
    calibration[255] = 42.0;

    // Same width: the table and its contents stay.
    calibration.SetType(utl::eUInt8);
    EXPECT_EQ(calibration.GetType(), utl::eUInt8);
    ASSERT_EQ(calibration.size(), 256u);
    EXPECT_EQ(calibration[255], 42.0);

    // Other types are only stored.
    double const* table = calibration.begin();
    calibration.SetType(utl::eInt64);
    EXPECT_EQ(calibration.GetType(), utl::eInt64);
    EXPECT_EQ(calibration.begin(), table);
    EXPECT_EQ(calibration[255], 42.0);

    // 16-bit: a new table of 65536 entries; the 8-bit one is gone.
    calibration.SetType(utl::eUInt16);
    ASSERT_EQ(calibration.size(), 65536u);
    EXPECT_EQ(calibration.end(), calibration.begin() + 65536);
    const unsigned char byte = 1;
    double out = -7.0;
    EXPECT_FALSE(calibration.Apply(&byte, &byte + 1, &out));
    calibration[65535] = 9.0;
    calibration.SetType(utl::eInt16);
    EXPECT_EQ(calibration[65535], 9.0);

    // And back: the 16-bit table goes, a new 8-bit one comes.
    calibration.SetType(utl::eInt8);
    EXPECT_EQ(calibration.size(), 256u);
    const unsigned short word = 1;
    EXPECT_FALSE(calibration.Apply(&word, &word + 1, &out));
    EXPECT_EQ(out, -7.0);
}

TEST(IntensityCalibrationTest, CopiesOwnTheirTables)
{
    CIntensityCalibration original(utl::eUInt8, kMicron);
    FillTable(original);
    CIntensityCalibration copy(original);
    CIntensityCalibration assigned(utl::eUInt16, utl::CUnit());
    assigned = original;
    original[3] = 1e9;
    for (CIntensityCalibration const* c : {&copy, &assigned}) {
        EXPECT_NE(c->begin(), original.begin());
        EXPECT_EQ(c->size(), 256u);
        EXPECT_EQ((*c)[3], EntryValue(3));
        EXPECT_EQ(c->GetUnit(), kMicron);
        EXPECT_EQ(c->GetType(), utl::eUInt8);
    }

    CIntensityCalibration moved(std::move(copy));
    EXPECT_EQ(moved[3], EntryValue(3));
    assigned = CIntensityCalibration();  // a fresh object: no table, no type, no unit
    EXPECT_EQ(assigned.begin(), nullptr);
    EXPECT_EQ(assigned.GetType(), utl::eTypeNone);
    EXPECT_EQ(assigned.GetUnit(), utl::CUnit());
}

}  // namespace
