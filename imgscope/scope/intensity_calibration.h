// Intensity calibration: raw 8-bit or 16-bit integer intensities mapped to
// calibrated values through a lookup table, with the unit of those values.
#pragma once

#include "imgscope/contracts/foundation/units.h"
#include "imgscope/library/export.h"

namespace img {

// Holds at most one table: 256 entries for 8-bit data or 65536 for 16-bit
// data, chosen by SetType. Entry i of a table is the calibrated value of
// the raw value whose table index is i: the value itself for unsigned
// data, the value + 128 (8-bit) or + 32768 (16-bit) for signed data, so
// entry 0 holds the most negative raw value. Copies own tables of their own.
class IMGSCOPE_API CIntensityCalibration {
public:
    // How the table was made. The table is filled by the caller, so it is
    // the only formula the class knows; it is kept for callers that store
    // calibrations beside their documents.
    enum EFormular { eFormularTable = 0 };

    // No table, type utl::eTypeNone, a default unit.
    CIntensityCalibration();
    // As SetType(type) and SetUnit(unit) after the default construction.
    CIntensityCalibration(utl::EType type, utl::CUnit const& unit);
    ~CIntensityCalibration();
    CIntensityCalibration(CIntensityCalibration const& other);
    CIntensityCalibration& operator=(CIntensityCalibration const& other);
    CIntensityCalibration(CIntensityCalibration&& other) noexcept;
    CIntensityCalibration& operator=(CIntensityCalibration&& other) noexcept;

    utl::EType GetType() const { return m_eType; }
    // Types 1 and 2 (8-bit) keep or make the 256-entry table and drop the
    // 16-bit one; types 3 and 4 (16-bit) keep or make the 65536-entry table
    // and drop the 8-bit one. A kept table keeps its contents; a new one
    // reads 0. Any other type is only stored; the tables stay as they are.
    // Throws std::bad_alloc when a new table cannot be had (the object is
    // then unchanged).
    void SetType(utl::EType type);

    utl::CUnit const& GetUnit() const { return m_unit; }
    void SetUnit(utl::CUnit const& unit) { m_unit = unit; }

    EFormular GetFormular() const { return m_eFormular; }

    // The table's entries by table index; valid for 0 <= i < size() while
    // a table exists.
    double& operator[](int i) { return begin()[i]; }
    double const& operator[](int i) const { return begin()[i]; }
    // The table's entries; null (both) without a table.
    double* begin() { return m_pTable8 ? m_pTable8 : m_pTable16; }
    double const* begin() const { return m_pTable8 ? m_pTable8 : m_pTable16; }
    double* end() { return begin() ? begin() + size() : nullptr; }
    double const* end() const { return begin() ? begin() + size() : nullptr; }
    // 256 or 65536 entries; 0 without a table.
    unsigned int size() const { return m_pTable8 ? 256u : m_pTable16 ? 65536u : 0u; }

    // Writes the calibrated value of every raw value of [first, last) to
    // `out`, in order: out[k] = table[index(first[k])]. The overload picks
    // the table and the index rule (char counts as signed on every
    // platform); the type field is not looked at. False, nothing written,
    // when the table of the data's width does not exist, when last lies
    // before first, or when a non-empty range comes with a null `out`. An
    // empty range is true. `out` must have room for last − first values.
    bool Apply(unsigned char const* first, unsigned char const* last, double* out) const;
    bool Apply(char const* first, char const* last, double* out) const;
    bool Apply(unsigned short const* first, unsigned short const* last, double* out) const;
    bool Apply(short const* first, short const* last, double* out) const;

private:
    EFormular m_eFormular = eFormularTable;
    // Owned arrays (plain pointers: an exported class keeps standard
    // templates out of its layout).
    double* m_pTable8 = nullptr;
    double* m_pTable16 = nullptr;
    utl::CUnit m_unit;
    utl::EType m_eType = utl::eTypeNone;
};

}  // namespace img
