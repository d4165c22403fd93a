// Frames, data frames and samples of a layer; the active frame and the
// active dimension.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/document/pix_frame.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace imgscope_test {
namespace {

template <class T>
void FillAll(mem::CDataFrame& frame, T value)
{
    ASSERT_EQ(sizeof(T), static_cast<std::size_t>(frame.GetElementInfo().Size()));
    ASSERT_TRUE(frame.Fill(frame.GetBoundary(0), &value));
}

template <class T>
T PixelAt(mem::CDataFrame const& frame, int x, int y, geo::CiVecN const& plane = geo::CiVecN())
{
    T value{};
    EXPECT_TRUE(frame.ReadRect(geo::CiRect(x, y, x + 1, y + 1), plane, &value, 0));
    return value;
}

class FramesTest : public ::testing::Test {
protected:
    FramesTest()
    {
        layer = AddRasterLayer(doc, {16, 8, 3});
        deep = AddRasterLayer(doc, {8, 8, 4, 2});
        bare = AddRasterLayer(doc, {8, 8}, /*withEntry*/ false);
        unknown = UnknownLayer(doc);
        data = doc.FindStack(layer).GetDataFrame(0);
    }

    img::CStack Stack(int id) const { return doc.FindStack(id); }

    img::CImg doc;
    int layer = -1;  // 16 × 8, three frames of uint8
    int deep = -1;   // order 2: frames (0..3, 0..1)
    int bare = -1;   // no tree entry
    int unknown = -1;
    boost::shared_ptr<mem::CDataFrame> data;  // the main data frame of `layer`
    TestScope scope{doc};
};

TEST_F(FramesTest, PixFramesGoToAndComeFromTheStack)
{
    auto const frame = scope.GetPixFrame(layer, geo::CiVecN{0});
    ASSERT_TRUE(frame);
    std::uint8_t const nine = 9;
    ASSERT_TRUE(frame->FillRect(geo::CiRect(0, 0, 16, 8), &nine));
    utl::CPropSet props;
    props.SetValue(700, 1);
    EXPECT_TRUE(scope.AddPixFrame(layer, frame, geo::CiVecN{2}));
    EXPECT_TRUE(scope.AddPixFrame(layer, frame, geo::CiVecN{1}, props));
    EXPECT_EQ(PixelAt<std::uint8_t>(*data, 5, 5, geo::CiVecN{2}), 9);
    EXPECT_TRUE(Stack(layer).PropertyExists(utl::CIndexN{1}, 700));

    // What the stack refuses, the scope reports: a null frame, a wrong index.
    EXPECT_FALSE(scope.AddPixFrame(layer, boost::shared_ptr<img::CPixFrame>(), geo::CiVecN{0}));
    EXPECT_FALSE(scope.AddPixFrame(layer, frame, geo::CiVecN{0, 0, 0}));

    TestScope const& reader = scope;
    for (int id : {unknown, -1, INT_MAX}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(scope.AddPixFrame(id, frame, geo::CiVecN{0}));
        EXPECT_FALSE(scope.AddPixFrame(id, boost::shared_ptr<img::CPixFrame>(), geo::CiVecN{0}));
        EXPECT_FALSE(scope.AddPixFrame(id, frame, geo::CiVecN{0}, props));
        EXPECT_FALSE(scope.GetPixFrame(id, geo::CiVecN{0}));
        EXPECT_FALSE(reader.GetPixFrame(id, geo::CiVecN{0}));
        EXPECT_FALSE(scope.GetDataFrame(id));
        EXPECT_FALSE(reader.GetDataFrame(id, 0));
    }
    EXPECT_EQ(reader.GetDataFrame(layer), data) << "data frame 0 is the default";
    EXPECT_FALSE(scope.GetDataFrame(layer, 5));
}

TEST_F(FramesTest, VectorFrameNeedsAGraphic)
{
    int const vector = AddVectorLayer(doc);
    auto graphic = boost::make_shared<img::CVecGraph>();
    graphic->Add(img::CVecGraph::tShape{img::CVecGraph::eRectangle, geo::CdRect(1, 1, 4, 4)});
    graphic->Add(img::CVecGraph::tShape{});

    EXPECT_FALSE(scope.SetVecFrame(vector, boost::shared_ptr<img::CVecGraph>()));
    ASSERT_TRUE(scope.GetVecFrame(vector));
    EXPECT_EQ(scope.GetVecFrame(vector)->Shapes().size(), 1u) << "a refused null graph changes nothing";

    EXPECT_TRUE(scope.SetVecFrame(vector, graphic));
    auto const stored = static_cast<TestScope const&>(scope).GetVecFrame(vector);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Shapes().size(), 2u);

    EXPECT_FALSE(scope.SetVecFrame(unknown, graphic));
    EXPECT_FALSE(scope.GetVecFrame(unknown));
    EXPECT_FALSE(static_cast<TestScope const&>(scope).GetVecFrame(unknown));
}

TEST_F(FramesTest, SwapOfSameShapeExchangesContentAndKeepsTheStacksObject)
{
    FillAll<std::uint8_t>(*data, 1);
    auto const view = scope.GetPixFrame(layer, geo::CiVecN{1});
    ASSERT_TRUE(view);
    auto incoming = MakeDataFrame({16, 8, 3});
    FillAll<std::uint8_t>(*incoming, 2);

    // Failed swaps change nothing.
    EXPECT_FALSE(scope.SwapDataFrame(layer, boost::shared_ptr<mem::CDataFrame>()));
    EXPECT_FALSE(scope.SwapDataFrame(layer, 7, incoming)) << "no data frame 7";
    EXPECT_FALSE(scope.SwapDataFrame(layer, -1, incoming));
    EXPECT_FALSE(scope.SwapDataFrame(unknown, incoming));
    EXPECT_FALSE(scope.SwapDataFrame(unknown, 0, incoming));
    EXPECT_EQ(PixelAt<std::uint8_t>(*data, 0, 0), 1);
    EXPECT_EQ(PixelAt<std::uint8_t>(*incoming, 0, 0), 2);

    EXPECT_TRUE(scope.SwapDataFrame(layer, incoming));
    EXPECT_EQ(scope.GetDataFrame(layer), data) << "the stack keeps its data-frame object";
    EXPECT_EQ(PixelAt<std::uint8_t>(*data, 3, 3, geo::CiVecN{1}), 2);
    EXPECT_EQ(PixelAt<std::uint8_t>(*incoming, 3, 3, geo::CiVecN{1}), 1) << "the caller holds the former content";

    std::uint8_t shown = 0;
    EXPECT_TRUE(view->ReadRect(geo::CiRect(3, 3, 4, 4), &shown, 0, 0));
    EXPECT_EQ(shown, 2) << "views made before the swap see the new pixels";
}

TEST_F(FramesTest, SwapOfOtherShapeCopiesAndLeavesTheCallersFrame)
{
    FillAll<std::uint8_t>(*data, 1);
    struct Row {
        char const* name;
        boost::shared_ptr<mem::CDataFrame> incoming;
    };
    std::vector<Row> const rows = {
        {"other pixel type", MakeDataFrame({16, 8, 3}, utl::eUInt16)},
        {"other extent", MakeDataFrame({16, 8, 5}, utl::eUInt16)},
        {"other dimension count", MakeDataFrame({16, 8}, utl::eUInt16)},
    };
    std::uint16_t value = 300;
    for (Row const& row : rows) {
        SCOPED_TRACE(row.name);
        FillAll<std::uint16_t>(*row.incoming, ++value);
        EXPECT_TRUE(scope.SwapDataFrame(layer, 0, row.incoming));
        EXPECT_EQ(scope.GetDataFrame(layer), data);
        EXPECT_EQ(data->GetBoundary(0), row.incoming->GetBoundary(0));
        EXPECT_EQ(data->GetElementInfo(), row.incoming->GetElementInfo());
        EXPECT_EQ(PixelAt<std::uint16_t>(*data, 15, 7), value);
        EXPECT_EQ(PixelAt<std::uint16_t>(*row.incoming, 15, 7), value) << "copied, not exchanged";
        EXPECT_NE(data.get(), row.incoming.get());
    }
}

TEST_F(FramesTest, SamplesWalkOnceInTheStacksOrder)
{
    EXPECT_EQ(scope.GetFirstSample(layer), -1) << "no samples yet";
    std::vector<boost::shared_ptr<mem::CDataFrame>> frames;
    std::vector<int> added;
    for (img::ESampleFlag flag : {img::eSampleReference, img::eSamplePreview, img::eSampleNone}) {
        frames.push_back(MakeDataFrame({16, 8}));
        added.push_back(scope.AddSample(layer, frames.back(), flag));
        EXPECT_NE(added.back(), -1);
        EXPECT_EQ(scope.GetDataFrame(layer, added.back()), frames.back());
    }

    auto walk = [&] {
        std::vector<int> seen;
        for (int id = scope.GetFirstSample(layer); id != -1 && seen.size() < 10; id = scope.GetNextSample(layer, id))
            seen.push_back(id);
        return seen;
    };
    EXPECT_EQ(walk(), Stack(layer).GetSampleIDs());
    EXPECT_EQ(walk().size(), 3u);

    EXPECT_EQ(scope.GetNextSample(layer, added.back()), -1) << "after the last";
    EXPECT_EQ(scope.GetNextSample(layer, 12345), -1) << "not in the list";

    EXPECT_TRUE(scope.RemoveSample(layer, added[1]));
    EXPECT_EQ(walk(), (std::vector<int>{added[0], added[2]}));
    EXPECT_EQ(scope.GetNextSample(layer, added[1]), -1);
    EXPECT_FALSE(scope.RemoveSample(layer, added[1]));

    EXPECT_EQ(scope.AddSample(unknown, MakeDataFrame({16, 8}), img::eSampleNone), -1);
    EXPECT_FALSE(scope.RemoveSample(unknown, added[0]));
    EXPECT_EQ(scope.GetFirstSample(unknown), -1);
    EXPECT_EQ(scope.GetNextSample(unknown, added[0]), -1);
}

TEST_F(FramesTest, ActiveFrameRoundTripsThroughTheTree)
{
    geo::CiVecN index{9, 9, 9};
    int dim = 42;
    EXPECT_FALSE(scope.GetActiveFrame(deep, index)) << "nothing activated yet";
    EXPECT_FALSE(scope.GetActiveDimension(deep, dim));
    EXPECT_EQ(index, (geo::CiVecN{9, 9, 9}));
    EXPECT_EQ(dim, 42);

    EXPECT_TRUE(scope.ActivateFrame(deep, geo::CiVecN{3, 1}));
    EXPECT_TRUE(scope.GetActiveFrame(deep, index) && index == (geo::CiVecN{3, 1}));

    // Kept as a frame-index value of the layer's entry.
    img::CDisplProcessFlow observer(doc, false);
    int const plane = observer.FindLayer(deep);
    mem::CBin stored;
    EXPECT_TRUE(observer.GetProperty(plane, 10014, stored) && stored == mem::CBin(utl::CIndexN{3, 1}));

    EXPECT_TRUE(scope.ActivateDimension(deep, 1));
    EXPECT_TRUE(scope.GetActiveDimension(deep, dim) && dim == 1);

    // Another layer's entry has its own active frame.
    geo::CiVecN other{7};
    EXPECT_FALSE(scope.GetActiveFrame(layer, other));
    EXPECT_EQ(other, geo::CiVecN{7});

    // A value of another type under 10014 leaves the caller's index as it is.
    ASSERT_TRUE(observer.SetProperty(plane, 10014, mem::CBin(5)));
    geo::CiVecN kept{1, 2, 3};
    EXPECT_TRUE(scope.GetActiveFrame(deep, kept) && kept == (geo::CiVecN{1, 2, 3}));

    // Only layers with an entry have an active frame; a plane ID is no layer.
    for (int id : {bare, unknown, -1, plane}) {
        geo::CiVecN none{4};
        EXPECT_FALSE(scope.ActivateFrame(id, geo::CiVecN{0})) << id;
        EXPECT_FALSE(scope.ActivateDimension(id, 0)) << id;
        EXPECT_FALSE(scope.GetActiveFrame(id, none)) << id;
        EXPECT_FALSE(scope.GetActiveDimension(id, dim)) << id;
        EXPECT_EQ(none, geo::CiVecN{4});
    }
    EXPECT_EQ(dim, 1);
}

TEST_F(FramesTest, AnIndexWithoutAFrameIsRefusedAndAVanishedFrameShowsTheFirst)
{
    // Three frames of one gray value each: 10, 20, 30.
    for (int i = 0; i < 3; ++i) {
        std::uint8_t const v = static_cast<std::uint8_t>(10 * (i + 1));
        ASSERT_TRUE(scope.GetPixFrame(layer, geo::CiVecN{i})->FillRect(geo::CiRect(0, 0, 16, 8), &v));
    }
    ASSERT_TRUE(scope.ActivateFrame(layer, geo::CiVecN{2}));
    for (geo::CiVecN const& bad : {geo::CiVecN{INT_MAX}, geo::CiVecN{3}, geo::CiVecN{-1}}) {
        EXPECT_FALSE(scope.ActivateFrame(layer, bad));
        geo::CiVecN shown;
        EXPECT_TRUE(scope.GetActiveFrame(layer, shown) && shown == geo::CiVecN{2}) << "left as it was";
    }
    EXPECT_FALSE(scope.ActivateFrame(deep, geo::CiVecN{4, 0}));
    EXPECT_TRUE(scope.ActivateFrame(deep, geo::CiVecN{3, 1}));

    // The shown frame goes when the series shrinks: the layer falls back to
    // its first frame instead of vanishing from the picture.
    const auto render = [&] {
        auto target = img::CPixFrame::Create(geo::CiRect(0, 0, 16, 8), img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                             mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
        img::CDisplProcessFlow const flow(doc, false);
        std::uint8_t bgr[3] = {0, 0, 0};
        EXPECT_TRUE(flow.PlayToPixFrame(target, geo::CiRect(0, 0, 16, 8), geo::CdRect(0, 0, 16, 8), 0, {layer},
                                        img::tRenderHints()));
        EXPECT_TRUE(target->ReadRowSegment({5, 5}, 1, bgr, 0));
        return int(bgr[1]);
    };
    EXPECT_EQ(render(), 30);
    ASSERT_TRUE(data->SetPlaneBoundary(geo::CiVolumeN(geo::CiVecN{0}, geo::CiVecN{2})));
    EXPECT_EQ(render(), 10);
}

TEST_F(FramesTest, LayerFactsAndInvalidation)
{
    int order = -1;
    geo::CiRect bounds;
    img::CPixelInfo info;
    unsigned int before = 0;
    EXPECT_TRUE(scope.GetLayerOrder(deep, order) && order == 2);
    EXPECT_TRUE(scope.GetBoundary(layer, bounds) && bounds == geo::CiRect(0, 0, 16, 8));
    EXPECT_TRUE(scope.GetPixelInfo(layer, info) && info == img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray));

    ASSERT_TRUE(scope.GetModificationCount(layer, before));
    EXPECT_TRUE(scope.InvalidateRect(layer, geo::CiRect()));  // an empty rectangle still invalidates
    unsigned int after = 0;
    ASSERT_TRUE(scope.GetModificationCount(layer, after));
    EXPECT_GT(after, before);

    for (int id : {unknown, -1, INT_MIN}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(scope.GetLayerOrder(id, order));
        EXPECT_FALSE(scope.GetModificationCount(id, after));
        EXPECT_FALSE(scope.GetBoundary(id, bounds));
        EXPECT_FALSE(scope.GetPixelInfo(id, info));
        EXPECT_FALSE(scope.InvalidateRect(id, geo::CiRect(0, 0, 1, 1)));
    }
    // The failed calls left the last values read in place.
    EXPECT_EQ(order, 2);
    EXPECT_GT(after, before);
    EXPECT_EQ(bounds, geo::CiRect(0, 0, 16, 8));
    EXPECT_EQ(info, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray));
}


}  // namespace
}  // namespace imgscope_test
