// Sharpness measures of the pixel-processing library: how much fine detail
// each block of a picture holds, as an 8-bit map.
#pragma once

#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

namespace img {

class CPixFrame;

// A measure of local sharpness over blocks of a pixel frame.
class IMGSCOPE_API CSharpness {
public:
    virtual ~CSharpness();

    // A new 8-bit grey map with one pixel per `blockSize` × `blockSize`
    // block of `source`: map pixel (i, j) describes the block whose first
    // pixel is the source's first pixel + (i, j) × blockSize, and the map
    // spans (0, 0) to the number of blocks across and down (blocks at the
    // right and bottom edges may be partial). Empty for a null or empty
    // source, a block size below 1, a measure with invalid parameters, or
    // lack of memory. The source is only read.
    virtual boost::shared_ptr<CPixFrame> GetSharpnessMap(boost::shared_ptr<CPixFrame> const& source,
                                                         int blockSize) const = 0;
};

// Sharpness from Gaussian derivatives. The source becomes one intensity
// per pixel: a grey value, the luminance (0.299 R + 0.587 G + 0.114 B) of
// RGB and BGR pixels, else the mean of the components; alpha is ignored,
// and NaN or infinite values count as 0. Intensities are smoothed by a
// Gaussian of standard deviation `sigma` pixels and differentiated:
//   order 1: the gradient, central differences along x and y;
//   order 2: the Laplacian, second differences along x and y, summed.
// Edges of the source repeat outward, so a uniform picture measures 0 even
// at its borders. A block's value is the root mean square of the response
// over its pixels, relative to the element type's full scale (the largest
// value of an integer type, 1.0 for float and double); the map stores
// 1024 times that, rounded and capped at 255. So the map rises as detail
// gets finer or contrast higher, and falls as the picture blurs: a step
// blurred by a Gaussian of s pixels gives about 1 / s^(3/2) (order 2) or
// 1 / s^(1/2) (order 1) of the sharp step's value.
// Valid parameters: 0 ≤ sigma ≤ 16 (0: no smoothing), order 1 or 2.
class IMGSCOPE_API CGaussSharpness : public CSharpness {
public:
    CGaussSharpness(double sigma, int order);

    boost::shared_ptr<CPixFrame> GetSharpnessMap(boost::shared_ptr<CPixFrame> const& source,
                                                 int blockSize) const override;

    double GetSigma() const { return m_dSigma; }
    int GetOrder() const { return m_nOrder; }
    bool IsValid() const;

private:
    double m_dSigma;
    int m_nOrder;
};

}  // namespace img
