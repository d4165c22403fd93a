#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>

namespace {

using utl::CUnit;
using DUnit = utl::TUnitValue<double>;
using IUnit = utl::TUnitValue<int>;
using SetPtr = boost::shared_ptr<utl::CPropSet>;

const CUnit kMicrometre(utl::eQuantityLength, 1, -6);
char g_fillBuffer[4];

using StoredTypes = std::tuple<int, bool, double, std::int64_t, void*, CString, geo::CiVec3, utl::CIndexN, DUnit,
                               IUnit, utl::TInterval<double>, SetPtr>;

// Two different values of each type the callers store in a CBin, found by
// type: std::get<std::pair<T, T>>(Samples()).
auto Samples()
{
    SetPtr magnification(new utl::CPropSet);
    magnification->SetProperty(120060, mem::CBin(20.0));
    return std::make_tuple(
        std::make_pair(2074, -1), std::make_pair(true, false), std::make_pair(40.0, -0.5),
        std::make_pair(std::int64_t(1) << 40, std::int64_t(-7)),
        std::make_pair(static_cast<void*>(g_fillBuffer), static_cast<void*>(nullptr)),
        std::make_pair(CString(L"10x FocusMap"), CString()), std::make_pair(geo::CiVec3(512, 512, 1), geo::CiVec3()),
        std::make_pair(utl::CIndexN{3, 1}, utl::CIndexN()),
        std::make_pair(DUnit(kMicrometre, 0.25), DUnit(CUnit(), 0.25)),
        std::make_pair(IUnit(utl::c_pixel, 2014), IUnit()),
        std::make_pair(utl::TInterval<double>(0.0, 4095.0), utl::TInterval<double>(1.0, -1.0)),
        std::make_pair(magnification, SetPtr(new utl::CPropSet)));
}
template <class T>
T A()
{
    return std::get<std::pair<T, T>>(Samples()).first;
}
template <class T>
T B()
{
    return std::get<std::pair<T, T>>(Samples()).second;
}

template <class T>
class BinTypeTest : public ::testing::Test {};
using BinTypes = ::testing::Types<int, bool, double, std::int64_t, void*, CString, geo::CiVec3, utl::CIndexN, DUnit,
                                  IUnit, utl::TInterval<double>, SetPtr>;
TYPED_TEST_SUITE(BinTypeTest, BinTypes);

TYPED_TEST(BinTypeTest, ReadsBackAsItsOwnTypeOnlyAndCopiesDeeply)
{
    using T = TypeParam;
    const mem::CBin bin(A<T>());
    T out = B<T>();
    ASSERT_TRUE(bin.Get(out));
    EXPECT_TRUE(prop::ValuesEqual(out, A<T>()));
    EXPECT_TRUE(bin.template Is<T>());
    EXPECT_EQ(bin.GetType(), prop::TypeOf<T>());
    mem::CBin copy = bin;
    EXPECT_EQ(copy, bin);
    EXPECT_NE(copy.GetRawPointer(), bin.GetRawPointer());  // its own storage
    copy.Set(B<T>());
    EXPECT_NE(copy, bin);

    // Every other stored type fails and keeps the caller's value.
    std::apply(
        [&](auto... tags) {
            auto check = [&](auto tag) {
                using U = decltype(tag);
                if constexpr (!std::is_same<U, T>::value) {
                    U target = B<U>();
                    EXPECT_FALSE(bin.Get(target)) << "read as code " << prop::TypeOf<U>().GetCode();
                    EXPECT_TRUE(prop::ValuesEqual(target, B<U>()));
                    EXPECT_FALSE(bin.template Is<U>());
                }
            };
            (check(tags), ...);
        },
        StoredTypes{});
}

TEST(BinTest, PlainOrUnitReaders)
{
    const mem::CBin withUnit(0.5, kMicrometre);
    const mem::CBin plain(0.5);
    double d = -1.0;
    EXPECT_FALSE(withUnit.Get(d));
    EXPECT_TRUE(withUnit.GetPlainOrUnit(d) && d == 0.5);

    DUnit u(utl::c_pixel, 9.0);
    EXPECT_TRUE(plain.GetUnitValueOrPlain(u) && u == DUnit(CUnit(), 0.5));
    EXPECT_TRUE(withUnit.GetUnitValueOrPlain(u) && u == DUnit(kMicrometre, 0.5));

    CUnit unit = utl::c_pixel;
    EXPECT_FALSE(plain.GetUnit(unit));
    EXPECT_TRUE(withUnit.GetUnit(unit) && unit == kMicrometre);

    // A unit value of another number type is another type.
    int i = 3;
    EXPECT_FALSE(withUnit.GetPlainOrUnit(i));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(mem::CBin(IUnit(utl::c_pixel, 7)).GetPlainOrUnitOr(5), 7);
    EXPECT_EQ(mem::CBin(7.0).GetPlainOrUnitOr(5), 5);
    EXPECT_EQ(mem::CBin(7u).GetOr(5), 5);  // unsigned is not int
}

TEST(BinTest, IntegersOfOneSizeAndSignAreOneType)
{
    std::int64_t i64 = 0;
    EXPECT_TRUE(mem::CBin(5LL).Get(i64) && i64 == 5);
    long long ll = 0;
    EXPECT_TRUE(mem::CBin(std::int64_t(-9)).Get(ll) && ll == -9);
    EXPECT_EQ(mem::CBin(short(3)).GetType().GetCode(), utl::eInt16);
    EXPECT_EQ(mem::CBin(3UL).GetType().GetCode(), sizeof(long) == 8 ? utl::eUInt64 : utl::eUInt32);
    utl::TUnitValue<long long> rank;
    EXPECT_TRUE(mem::CBin(std::int64_t(11), utl::c_pixel).Get(rank));
    EXPECT_EQ(rank.value, 11);
    // …but int and int64 stay apart: a rank written as int is not an int64.
    EXPECT_FALSE(mem::CBin(11).Get(i64));
    EXPECT_FALSE(mem::CBin(geo::CiVecN{1, 2}).Is<utl::CIndexN>());
}

TEST(BinTest, EmptyTextAndRawStorage)
{
    const mem::CBin empty;
    int i = 4;
    EXPECT_FALSE(empty.Get(i));
    EXPECT_EQ(i, 4);
    EXPECT_EQ(empty.GetRawPointer(), nullptr);
    EXPECT_NE(empty, mem::CBin(0));
    CString text(L"x");
    EXPECT_TRUE(mem::CBin(static_cast<wchar_t const*>(nullptr)).Get(text) && text.IsEmpty());

    const mem::CBin number(0x01020304);
    EXPECT_EQ(std::memcmp(number.GetRawPointer(), "\x04\x03\x02\x01", 4), 0);  // little-endian int
    const mem::CBin fill(static_cast<void*>(g_fillBuffer));
    EXPECT_EQ(*static_cast<void* const*>(fill.GetRawPointer()), static_cast<void*>(g_fillBuffer));
    const mem::CBin withUnit(2.5, kMicrometre);
    EXPECT_EQ(*static_cast<double const*>(withUnit.GetRawPointer()), 2.5);
}

}  // namespace
