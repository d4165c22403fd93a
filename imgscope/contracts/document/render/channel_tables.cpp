#include "imgscope/contracts/document/render/channel_tables_internal.h"

#include "imgscope/contracts/document/render/layer_plan_internal.h"

namespace img {
namespace detail {
namespace render {

bool IsTabled(utl::EType type)
{
    return type == utl::eUInt8 || type == utl::eInt8 || type == utl::eUInt16 || type == utl::eInt16;
}

void TypeRange(utl::EType type, double& lo, double& hi)
{
    switch (type) {
    case utl::eInt8: lo = -128.0; hi = 127.0; return;
    case utl::eUInt8: lo = 0.0; hi = 255.0; return;
    case utl::eInt16: lo = -32768.0; hi = 32767.0; return;
    case utl::eUInt16: lo = 0.0; hi = 65535.0; return;
    case utl::eInt32:
        lo = double(std::numeric_limits<std::int32_t>::min());
        hi = double(std::numeric_limits<std::int32_t>::max());
        return;
    case utl::eUInt32: lo = 0.0; hi = double(std::numeric_limits<std::uint32_t>::max()); return;
    case utl::eInt64:
        lo = double(std::numeric_limits<std::int64_t>::min());
        hi = double(std::numeric_limits<std::int64_t>::max());
        return;
    case utl::eUInt64: lo = 0.0; hi = double(std::numeric_limits<std::uint64_t>::max()); return;
    default: lo = 0.0; hi = 1.0; return;  // floating point: 0..1
    }
}

tChannelTable MakeTable(utl::EType type, int component, tChannelLook const& look)
{
    tChannelTable t;
    t.component = component;
    if (IsTabled(type)) {
        const bool wide = type == utl::eUInt16 || type == utl::eInt16;
        const bool isSigned = type == utl::eInt8 || type == utl::eInt16;
        const int size = wide ? 65536 : 256;
        const int offset = isSigned ? size / 2 : 0;
        t.lanes.resize(std::size_t(size));
        for (int raw = 0; raw < size; ++raw)
            t.lanes[std::size_t(raw)] = look.Colour(look.Level(double(raw - offset)));
    } else {
        t.lanes.resize(256);
        for (int level = 0; level < 256; ++level)
            t.lanes[std::size_t(level)] = look.Colour(level / 255.0);
        t.lo = look.lo;
        t.hi = look.hi;
        t.levelScale = look.hi == look.lo ? 0.0 : 255.0 / (look.hi - look.lo);
    }
    return t;
}

void FinishTables(tSource& s, bool alone)
{
    if (alone && s.channels.size() == 1) {
        tChannelTable& ch = s.channels[0];
        ch.packed.resize(ch.lanes.size());
        for (std::size_t i = 0; i < ch.lanes.size(); ++i) {
            const tLanes c = ch.lanes[i];  // one channel: lanes stay below 256
            ch.packed[i] = std::uint32_t(c & 0xFF) | std::uint32_t((c >> 16) & 0xFF) << 8 |
                           std::uint32_t((c >> 32) & 0xFF) << 16;
        }
        ch.lanes = std::vector<tLanes>();
        s.mode = eModePacked;
        return;
    }
    if (!alone) {
        s.mode = eModeSum;
        return;
    }
    unsigned lit = 0;
    for (tChannelTable& ch : s.channels) {
        tLanes any = 0;
        for (tLanes c : ch.lanes)
            any |= c;
        unsigned mask = 0;
        for (int lane = 0; lane < 3; ++lane)
            if ((any >> (16 * lane)) & 0xFFFF)
                mask |= 1u << lane;
        if ((mask & (mask - 1)) != 0 || (mask & lit) != 0) {
            s.mode = eModeSum;
            return;
        }
        lit |= mask;
        ch.lane = mask == 0 ? -1 : mask == 1 ? 0 : mask == 2 ? 1 : 2;
    }
    for (tChannelTable& ch : s.channels) {
        if (ch.lane >= 0) {
            ch.bytes.resize(ch.lanes.size());
            for (std::size_t i = 0; i < ch.lanes.size(); ++i)
                ch.bytes[i] = std::uint8_t(ch.lanes[i] >> (16 * ch.lane));
        }
        ch.lanes = std::vector<tLanes>();
    }
    s.mode = eModeBytes;
    s.allLanesLit = lit == 7;
}

}  // namespace render
}  // namespace detail
}  // namespace img
