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

// Two different values of each type the callers store in a CBin.
template <class T> struct TSamples;
template <> struct TSamples<int> {
    static int A() { return 2074; }
    static int B() { return -1; }
};
template <> struct TSamples<bool> {
    static bool A() { return true; }
    static bool B() { return false; }
};
template <> struct TSamples<double> {
    static double A() { return 40.0; }
    static double B() { return -0.5; }
};
template <> struct TSamples<std::int64_t> {
    static std::int64_t A() { return std::int64_t(1) << 40; }
    static std::int64_t B() { return -7; }
};
template <> struct TSamples<void*> {
    static void* A() { return g_fillBuffer; }
    static void* B() { return nullptr; }
};
template <> struct TSamples<CString> {
    static CString A() { return L"10x FocusMap"; }
    static CString B() { return L""; }
};
template <> struct TSamples<geo::CiVec3> {
    static geo::CiVec3 A() { return {512, 512, 1}; }
    static geo::CiVec3 B() { return {0, -1, 2}; }
};
template <> struct TSamples<utl::CIndexN> {
    static utl::CIndexN A() { return {3, 1}; }
    static utl::CIndexN B() { return {}; }
};
template <> struct TSamples<DUnit> {
    static DUnit A() { return {kMicrometre, 0.25}; }
    static DUnit B() { return {CUnit(), 0.25}; }
};
template <> struct TSamples<IUnit> {
    static IUnit A() { return {utl::c_pixel, 2014}; }
    static IUnit B() { return {CUnit(), 0}; }
};
template <> struct TSamples<utl::TInterval<double>> {
    static utl::TInterval<double> A() { return {0.0, 4095.0}; }
    static utl::TInterval<double> B() { return {1.0, -1.0}; }
};
template <> struct TSamples<SetPtr> {
    static SetPtr A()
    {
        SetPtr set(new utl::CPropSet);
        set->SetProperty(120060, mem::CBin(20.0));
        return set;
    }
    static SetPtr B() { return SetPtr(new utl::CPropSet); }
};

using StoredTypes = std::tuple<int, bool, double, std::int64_t, void*, CString, geo::CiVec3, utl::CIndexN, DUnit,
                               IUnit, utl::TInterval<double>, SetPtr>;

template <class T>
class BinTypeTest : public ::testing::Test {};
using BinTypes = ::testing::Types<int, bool, double, std::int64_t, void*, CString, geo::CiVec3, utl::CIndexN, DUnit,
                                  IUnit, utl::TInterval<double>, SetPtr>;
TYPED_TEST_SUITE(BinTypeTest, BinTypes);

TYPED_TEST(BinTypeTest, ReadsBackAsItsOwnTypeOnly)
{
    using T = TypeParam;
    const mem::CBin bin(TSamples<T>::A());
    T out = TSamples<T>::B();
    ASSERT_TRUE(bin.Get(out));
    EXPECT_TRUE(prop::ValuesEqual(out, TSamples<T>::A()));
    EXPECT_TRUE(bin.template Is<T>());
    EXPECT_EQ(bin.GetType(), prop::TypeOf<T>());

    // Every other stored type fails and keeps the caller's value.
    std::apply(
        [&](auto... tags) {
            auto check = [&](auto tag) {
                using U = decltype(tag);
                if constexpr (!std::is_same<U, T>::value) {
                    U target = TSamples<U>::B();
                    EXPECT_FALSE(bin.Get(target)) << "read as code " << prop::TypeOf<U>().GetCode();
                    EXPECT_TRUE(prop::ValuesEqual(target, TSamples<U>::B()));
                    EXPECT_FALSE(bin.template Is<U>());
                }
            };
            (check(tags), ...);
        },
        StoredTypes{});
}

TYPED_TEST(BinTypeTest, CopiesAreEqualAndIndependent)
{
    using T = TypeParam;
    mem::CBin a(TSamples<T>::A());
    mem::CBin b = a;
    EXPECT_EQ(a, b);
    EXPECT_NE(b.GetRawPointer(), a.GetRawPointer());  // deep: its own storage
    b.Set(TSamples<T>::B());
    EXPECT_NE(a, b);
    T out = TSamples<T>::B();
    ASSERT_TRUE(a.Get(out));
    EXPECT_TRUE(prop::ValuesEqual(out, TSamples<T>::A()));
    a = a;  // self-assignment keeps the value
    EXPECT_TRUE(a.Get(out));
    mem::CBin moved(std::move(a));
    EXPECT_TRUE(moved.Get(out));
}

TEST(BinTest, PlainOrUnitReaders)
{
    const mem::CBin withUnit(0.5, kMicrometre);
    const mem::CBin plain(0.5);
    double d = -1.0;
    EXPECT_FALSE(withUnit.Get(d));
    EXPECT_EQ(d, -1.0);
    EXPECT_TRUE(withUnit.GetPlainOrUnit(d));
    EXPECT_EQ(d, 0.5);
    EXPECT_TRUE(withUnit.HasUnit());
    EXPECT_FALSE(plain.HasUnit());

    DUnit u(utl::c_pixel, 9.0);
    EXPECT_TRUE(plain.GetUnitValueOrPlain(u));
    EXPECT_EQ(u, DUnit(CUnit(), 0.5));
    EXPECT_TRUE(withUnit.GetUnitValueOrPlain(u));
    EXPECT_EQ(u, DUnit(kMicrometre, 0.5));

    CUnit unit = utl::c_pixel;
    EXPECT_FALSE(plain.GetUnit(unit));
    EXPECT_EQ(unit, utl::c_pixel);
    EXPECT_TRUE(withUnit.GetUnit(unit));
    EXPECT_EQ(unit, kMicrometre);

    // A unit value of another number type is another type.
    int i = 3;
    EXPECT_FALSE(withUnit.GetPlainOrUnit(i));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(mem::CBin(IUnit(utl::c_pixel, 7)).GetPlainOrUnitOr(5), 7);
    EXPECT_EQ(mem::CBin(7.0).GetPlainOrUnitOr(5), 5);
    EXPECT_EQ(mem::CBin(7).GetOr(5), 7);
    EXPECT_EQ(mem::CBin(7u).GetOr(5), 5);  // unsigned is not int
    EXPECT_NE(mem::CBin(0.5, kMicrometre), mem::CBin(0.5, CUnit()));
}

TEST(BinTest, IntegersOfOneSizeAndSignAreOneType)
{
    const mem::CBin fromLongLong(5LL);
    std::int64_t i64 = 0;
    EXPECT_TRUE(fromLongLong.Get(i64));
    EXPECT_EQ(i64, 5);
    long long ll = 0;
    EXPECT_TRUE(mem::CBin(std::int64_t(-9)).Get(ll));
    EXPECT_EQ(ll, -9);
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
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(empty.Get(i));
    EXPECT_EQ(i, 4);
    EXPECT_EQ(empty.GetRawPointer(), nullptr);
    EXPECT_EQ(empty, mem::CBin());
    EXPECT_NE(empty, mem::CBin(0));

    CString text;
    EXPECT_TRUE(mem::CBin(L"Layer 1").Get(text));
    EXPECT_EQ(text, L"Layer 1");
    EXPECT_TRUE(mem::CBin(static_cast<wchar_t const*>(nullptr)).Get(text));
    EXPECT_TRUE(text.IsEmpty());

    const mem::CBin number(0x01020304);
    EXPECT_EQ(std::memcmp(number.GetRawPointer(), "\x04\x03\x02\x01", 4), 0);  // little-endian int
    const mem::CBin fill(static_cast<void*>(g_fillBuffer));
    EXPECT_EQ(*static_cast<void* const*>(fill.GetRawPointer()), static_cast<void*>(g_fillBuffer));
    const mem::CBin withUnit(2.5, kMicrometre);
    EXPECT_EQ(*static_cast<double const*>(withUnit.GetRawPointer()), 2.5);
}

}  // namespace
