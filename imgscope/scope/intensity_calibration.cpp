#include "imgscope/scope/intensity_calibration.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace img {

namespace {

constexpr std::size_t kEntries8 = 256;
constexpr std::size_t kEntries16 = 65536;

double* NewTable(std::size_t entries)
{
    double* table = new double[entries];
    std::fill(table, table + entries, 0.0);
    return table;
}

double* CopyTable(double const* table, std::size_t entries)
{
    if (!table)
        return nullptr;
    double* copy = new double[entries];
    std::copy(table, table + entries, copy);
    return copy;
}

bool Is8Bit(utl::EType type) { return type == utl::eInt8 || type == utl::eUInt8; }
bool Is16Bit(utl::EType type) { return type == utl::eInt16 || type == utl::eUInt16; }

// Outputs of this many bytes and more go past the caches with streaming
// stores: they would not stay cached anyway, and ordinary stores would
// push the table out (the 16-bit one fills a whole L2) and read every
// output line before writing it.
constexpr std::size_t kStreamBytes = std::size_t(4) << 20;

// out[k] = table[first[k] ^ Flip]: the flip turns a signed value's bits
// into value − minimum, so one unsigned loop serves both signednesses.
// The input is read eight bytes at a time and the values picked out by
// shifts, and two table entries leave in one 16-byte store: element-wise,
// the loop spends more on loads and stores than the output write costs.
template <class U, unsigned Flip, bool Stream>
void Lookup(double const* __restrict table, U const* __restrict first, std::size_t n, double* __restrict out)
{
    std::size_t k = 0;
#if defined(__SSE2__) || defined(_M_X64)
    constexpr std::size_t kPerWord = sizeof(std::uint64_t) / sizeof(U);
    constexpr unsigned kBits = 8 * sizeof(U);
    constexpr std::uint64_t kMask = (std::uint64_t(1) << kBits) - 1;
    if (Stream) {
        // Streaming stores need 16-byte alignment.
        for (; k < n && (reinterpret_cast<std::uintptr_t>(out + k) & 15) != 0; ++k)
            out[k] = table[unsigned(first[k]) ^ Flip];
    }
    for (; k + kPerWord <= n; k += kPerWord) {
        std::uint64_t word;
        std::memcpy(&word, first + k, sizeof(word));
        for (std::size_t i = 0; i < kPerWord; i += 2) {
            const __m128d low = _mm_load_sd(table + (unsigned((word >> (kBits * i)) & kMask) ^ Flip));
            const __m128d pair = _mm_loadh_pd(low, table + (unsigned((word >> (kBits * (i + 1))) & kMask) ^ Flip));
            if (Stream)
                _mm_stream_pd(out + k + i, pair);
            else
                _mm_storeu_pd(out + k + i, pair);
        }
    }
    if (Stream)
        _mm_sfence();  // the streamed lines are visible before we return
#endif
    for (; k < n; ++k)
        out[k] = table[unsigned(first[k]) ^ Flip];
}

// Checks the call, then runs the lookup over the raw bits of the data.
template <unsigned Flip, class T>
bool ApplyTable(double const* table, T const* first, T const* last, double* out)
{
    if (!table || last < first)
        return false;
    const std::size_t n = std::size_t(last - first);
    if (n == 0)
        return true;
    if (!out)
        return false;
    // Signed and unsigned variants of a type may alias one another.
    using U = std::make_unsigned_t<T>;
    U const* raw = reinterpret_cast<U const*>(first);
    if (n * sizeof(double) >= kStreamBytes)
        Lookup<U, Flip, true>(table, raw, n, out);
    else
        Lookup<U, Flip, false>(table, raw, n, out);
    return true;
}

}  // namespace

CIntensityCalibration::CIntensityCalibration() = default;

CIntensityCalibration::CIntensityCalibration(utl::EType type, utl::CUnit const& unit)
{
    SetType(type);
    SetUnit(unit);
}

CIntensityCalibration::~CIntensityCalibration()
{
    delete[] m_pTable16;
    delete[] m_pTable8;
}

CIntensityCalibration::CIntensityCalibration(CIntensityCalibration const& other)
    : m_eFormular(other.m_eFormular), m_unit(other.m_unit), m_eType(other.m_eType)
{
    m_pTable8 = CopyTable(other.m_pTable8, kEntries8);
    try {
        m_pTable16 = CopyTable(other.m_pTable16, kEntries16);
    } catch (...) {
        delete[] m_pTable8;
        throw;
    }
}

CIntensityCalibration& CIntensityCalibration::operator=(CIntensityCalibration const& other)
{
    if (this != &other) {
        CIntensityCalibration copy(other);  // a failed copy leaves this as it was
        *this = std::move(copy);
    }
    return *this;
}

CIntensityCalibration::CIntensityCalibration(CIntensityCalibration&& other) noexcept
    : m_eFormular(other.m_eFormular),
      m_pTable8(std::exchange(other.m_pTable8, nullptr)),
      m_pTable16(std::exchange(other.m_pTable16, nullptr)),
      m_unit(other.m_unit),
      m_eType(other.m_eType)
{
}

CIntensityCalibration& CIntensityCalibration::operator=(CIntensityCalibration&& other) noexcept
{
    if (this != &other) {
        std::swap(m_pTable8, other.m_pTable8);
        std::swap(m_pTable16, other.m_pTable16);
        m_eFormular = other.m_eFormular;
        m_unit = other.m_unit;
        m_eType = other.m_eType;
    }
    return *this;
}

void CIntensityCalibration::SetType(utl::EType type)
{
    if (Is8Bit(type)) {
        if (!m_pTable8)
            m_pTable8 = NewTable(kEntries8);
        delete[] m_pTable16;
        m_pTable16 = nullptr;
    } else if (Is16Bit(type)) {
        if (!m_pTable16)
            m_pTable16 = NewTable(kEntries16);
        delete[] m_pTable8;
        m_pTable8 = nullptr;
    }
    m_eType = type;
}

bool CIntensityCalibration::Apply(unsigned char const* first, unsigned char const* last, double* out) const
{
    return ApplyTable<0u>(m_pTable8, first, last, out);
}

bool CIntensityCalibration::Apply(char const* first, char const* last, double* out) const
{
    // char is signed here whatever the platform makes of it.
    return ApplyTable<0x80u>(m_pTable8, reinterpret_cast<signed char const*>(first),
                             reinterpret_cast<signed char const*>(last), out);
}

bool CIntensityCalibration::Apply(unsigned short const* first, unsigned short const* last, double* out) const
{
    return ApplyTable<0u>(m_pTable16, first, last, out);
}

bool CIntensityCalibration::Apply(short const* first, short const* last, double* out) const
{
    return ApplyTable<0x8000u>(m_pTable16, first, last, out);
}

}  // namespace img
