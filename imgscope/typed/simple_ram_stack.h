// The simple RAM stack: a simple stack whose frames are held in memory as
// whole planes, which can be locked there.
#pragma once

#include "imgscope/typed/simple_stack.h"
#include "imgscope/library/export.h"

namespace mem {
class CReadCache;
}

namespace img {

// A simple stack over a resident data frame (memory model 4: every plane
// one block, allocated when the frame or the plane is made). The physical
// lock is a read cache over the whole data frame that pins its tiles while
// the lock is on. Deleting the stack releases the lock; the layer stays.
class IMGSCOPE_API CSimpleRAMStack : public CSimpleStack {
public:
    ~CSimpleRAMStack() override;

    // true: pins every tile of the layer's data frame until the lock is
    // released; on a stack that is already locked it keeps the lock it has
    // and returns true. False, the stack staying unlocked, when the layer
    // has no data frame or no cache can be made.
    // false: releases the lock; true, also when the stack was not locked.
    bool SetPhysicalLock(bool lock);
    bool GetPhysicalLock() const;

private:
    friend IMGSCOPE_API CSimpleRAMStack* CreateSimpleRAMStack(geo::CiRect const& rect, int frameCount,
                                                              CPixelInfo const& pixelInfo, mem::EAlign align,
                                                              utl::CPropSet const& frameProps,
                                                              utl::CPropSet const& documentProps,
                                                              utl::CPropSet const& stackProps, CImg img);

    CSimpleRAMStack(CImg img, boost::shared_ptr<mem::CDataFrame> const& frame, utl::CPropSet const& documentProps,
                    utl::CPropSet const& stackProps);

    // The region locked: empty, which the data frame reads as all of it.
    geo::CiVolumeN m_cacheVolume;
    boost::shared_ptr<mem::CReadCache> m_pPhysicalLock;
};

// A new layer "Layer 1" of `frameCount` frames of `rect`, held resident:
// the creation set `frameProps` is used with its memory model replaced by 4,
// and with `align` as alignment unless it names one. `documentProps` become
// document properties and `stackProps` the layer's. Reports no failure
// itself: std::invalid_argument or std::bad_alloc from the data frame, or a
// CBadScopeException* (empty rectangle, negative count, no layer made),
// reaches the caller, who releases the latter with Delete().
IMGSCOPE_API CSimpleRAMStack* CreateSimpleRAMStack(geo::CiRect const& rect, int frameCount,
                                                   CPixelInfo const& pixelInfo, mem::EAlign align,
                                                   utl::CPropSet const& frameProps, utl::CPropSet const& documentProps,
                                                   utl::CPropSet const& stackProps, CImg img = CImg());

}  // namespace img
