// Small types of the document model: enumerations, canvas colours,
// rendering hints, vector graphics, display filters and change messages.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/platform/string.h"
#include "imgscope/library/export.h"

#include <cstdint>
#include <vector>

namespace img {

// Kind of layer; the display process flow keeps one selected (active
// operation) layer per kind.
enum ELayerType : int {
    eLayerTypeImage = 0,
    eLayerTypeVector = 1,
};

// How a channel of a layer combines with what lies below it.
enum ELayerFunction : int {
    eFunctionNormal = 0,   // blend by opacity and mask
    eFunctionAdd = 1,      // add, saturating
    eFunctionMultiply = 2, // multiply, as a filter would
    eFunctionMax = 3,      // keep the brighter value
    eFunctionMin = 4,      // keep the darker value
};

// Where a moved layer lands relative to its target's group.
enum EGroupAffinity : int {
    eAffinityDefault = 0,
    eAffinityRoot = 1,
    eAffinityGroup = 2,
};

// How a sample data frame relates to a stack's main data.
enum ESampleFlag : int {
    eSampleNone = 0,
    eSampleReference = 1,  // a reference acquisition (dark or flat field)
    eSamplePreview = 2,    // a reduced copy for display
};

// Zoom policy of the rendering calls; accepted and passed on.
enum EZoomMode : int {
    eZoomNearest = 0,
    eZoomSmooth = 1,
};

// A pixel of N channels of T. `Format` names the channel layout; 4104
// stands for three 8-bit channels in blue, green, red order.
template <class T, int N, int Format>
class TChannelPix {
public:
    T channel[N] = {};

    constexpr TChannelPix() = default;
    constexpr T& operator[](int i) { return channel[i]; }
    constexpr T const& operator[](int i) const { return channel[i]; }

    constexpr bool operator==(TChannelPix const& o) const
    {
        for (int i = 0; i < N; ++i)
            if (channel[i] != o.channel[i])
                return false;
        return true;
    }
    constexpr bool operator!=(TChannelPix const& o) const { return !(*this == o); }
};

// Canvas colours: blue, green, red.
using CCanvasColor = TChannelPix<unsigned char, 3, 4104>;

// Options of one rendering call. The defaults render what the layer tree
// says, nearest neighbour, with the canvas background.
struct tRenderHints {
    bool skipBackground = false;  // leave target pixels under no layer as they are
    bool ignoreMasks = false;     // draw layers as if they had no transparency mask
};

// A vector graphic: a list of shapes in layer pixel coordinates. The
// document stores it; rendering draws its outlines.
class IMGSCOPE_API CVecGraph {
public:
    enum EShape : int { eLine = 0, eRectangle = 1, eEllipse = 2 };
    struct tShape {
        EShape kind = eLine;
        geo::CdRect bounds;  // end points of a line, else the bounding box
        unsigned char blue = 255;
        unsigned char green = 255;
        unsigned char red = 255;
    };

    CVecGraph() = default;
    virtual ~CVecGraph();

    void Add(tShape const& shape) { m_shapes.push_back(shape); }
    std::vector<tShape> const& Shapes() const { return m_shapes; }
    // Smallest integer rectangle holding every shape; empty without shapes.
    geo::CiRect GetBoundary() const;

private:
    std::vector<tShape> m_shapes;
};

// A per-layer display filter: changes the colours of a rendered layer row
// before it is blended. The base class maps each byte through a table.
class IMGSCOPE_API CDisplayFilter {
public:
    CDisplayFilter();
    virtual ~CDisplayFilter();

    // `bgr` holds `count` pixels of blue, green, red.
    virtual void Apply(std::uint8_t* bgr, int count) const;

    // The table of the base filter; identity when made.
    std::uint8_t table[256];
};

// Kinds of change a document or layer tree reports to its subscribers.
enum EChange : int {
    eChangeStacks = 1,      // a stack was added or removed
    eChangeProperties = 2,  // document, stack, frame or dimension properties
    eChangePixels = 3,      // frames, data frames or samples
    eChangeLayerTree = 4,   // entries inserted, moved or removed
    eChangeDisplay = 5,     // visibility, LUTs, masks, selections, placement
    eChangeCanvas = 6,      // canvas rectangle, calibration or colours
    eChangeSummary = 7,     // changes happened while messages were muted
};

}  // namespace img
