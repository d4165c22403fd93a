// Acquiring while viewing: one thread creates mosaic layers and pastes
// camera tiles into them while another renders the document and reads its
// layers, pixels and properties. Every tile the viewer sees must be the
// tile as it was before some paste into it or as that paste left it.
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/layer_scope.h"
#include "imgscope/typed/picture.h"
#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace doctest;

// Camera tiles of 384 × 384: pastes of more than 128 K pixels, so the
// layer and its mask take their streaming paths. They sit on a 7 × 7 grid
// 16 pixels apart, off the layer's 512-pixel tile grid, so that every
// paste writes parts of several store tiles.
constexpr int kPaste = 384;
constexpr int kGrid = 7;
constexpr int kStep = 400;
constexpr int kOffset = 100;
constexpr int kSide = kOffset + kGrid * kStep;  // of each layer
constexpr int kZoom = 4;                        // the viewer draws every fourth pixel
// Layer A (10x) gets passes 1 and 2 of every tile, then layer B (20x),
// placed right of A on the canvas, passes 3 and 4: 196 pastes.
constexpr int kPassesA[] = {1, 2};
constexpr int kPassesB[] = {3, 4};

std::uint8_t Value(int pass, int tile, int x, int y)
{
    // Never 0: that is the fill value and the background.
    return std::uint8_t(1 + (x * 3 + y * 7 + tile * 11 + pass * 101) % 254);
}

geo::CiVec2 Corner(int tile)
{
    return geo::CiVec2(kOffset + (tile % kGrid) * kStep, kOffset + (tile / kGrid) * kStep);
}

boost::shared_ptr<mem::CDataFrame> CameraTile(int pass, int tile)
{
    auto frame = boost::make_shared<mem::CDataFrame>(geo::CiVolumeN(geo::CiRect(0, 0, kPaste, kPaste)), kGray8);
    std::vector<std::uint8_t> bytes(std::size_t(kPaste) * kPaste);
    for (int y = 0; y < kPaste; ++y)
        for (int x = 0; x < kPaste; ++x)
            bytes[std::size_t(y) * kPaste + std::size_t(x)] = Value(pass, tile, x, y);
    frame->WriteRect(geo::CiRect(0, 0, kPaste, kPaste), geo::CiVecN(), bytes.data(), 0);
    return frame;
}

// Which of the states a region may show (0: nothing pasted, else the pass)
// a pixel source matches throughout; -1 when none does, which is a torn
// tile. `at(x, y)` gives the value at pixel (x, y) of the tile.
template <class At>
int StateOf(std::vector<int> const& passes, int tile, int step, At const& at)
{
    for (int pass : passes) {
        bool all = true;
        for (int y = step / 2; all && y < kPaste; y += step)
            for (int x = step / 2; all && x < kPaste; x += step)
                all = at(x, y) == (pass == 0 ? 0 : Value(pass, tile, x, y));
        if (all)
            return pass;
    }
    return -1;
}

class AcquireWhileViewingTest : public ::testing::Test {
protected:
    img::CImg doc;
    std::unique_ptr<img::CMosaikScope> mosaic{img::CreateMosaikImage(&doc)};
    std::atomic<bool> pasting{true};
    std::atomic<int> renders{0};
    std::thread::id acquisitionThread;

    bool CreateLayer(double magnification, double left)
    {
        const geo::CiVolumeN volume =
            geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{kSide, kSide, 1});
        const utl::TUnitValue<geo::CdRect> phys(kMicro, geo::CdRect(left, 0, left + kSide, kSide));
        // Inserting and dressing a layer takes several calls, which the
        // mosaic holds as one change: the viewer sees the layer whole or
        // not at all.
        return mosaic->CreateLayer(magnification, kGray8, mem::eMemoryDefault, 2, 95, volume, phys, utl::CPropSet(),
                                   img::eStackPicture, false, false);
    }

    // Pastes every tile once per pass, giving the viewer time to render in
    // between: every eighth paste waits (briefly) for a render to finish.
    void Paste(int const* passes, std::size_t count)
    {
        for (std::size_t p = 0; p < count; ++p) {
            for (int tile = 0; tile < kGrid * kGrid; ++tile) {
                const geo::CiVec2 at = Corner(tile);
                EXPECT_TRUE(mosaic->Paste(CameraTile(passes[p], tile), geo::CiVecN{at.x, at.y, 0}));
                mosaic->SetFocusPoint(geo::CiVec2(at.x / 8, at.y / 8), passes[p] * 10 + tile % 10);
                if (tile % 8 == 7) {
                    const int seen = renders.load();
                    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
                    while (renders.load() == seen && std::chrono::steady_clock::now() < until)
                        std::this_thread::yield();
                }
            }
        }
    }
};

// The viewer's loop: renders the whole canvas, lists the layers with their
// properties, reads each tile of each layer, and checks that every tile is
// whole and never goes back to an older state.
struct tViewer {
    img::CImg doc;
    std::atomic<bool> const& pasting;
    std::atomic<int>& renders;
    std::vector<std::string> failures{};
    std::vector<int> shownA = std::vector<int>(kGrid * kGrid, 0);
    std::vector<int> shownB = std::vector<int>(kGrid * kGrid, 0);

    void Fail(std::string const& what)
    {
        if (failures.size() < 10)
            failures.push_back(what);
    }

    void CheckRender(boost::shared_ptr<img::CPixFrame> const& target)
    {
        const int width = 2 * kSide / kZoom, height = kSide / kZoom;
        std::vector<std::uint8_t> pixels(std::size_t(width) * height * 3);
        if (!target->ReadRect(geo::CiRect(0, 0, width, height), pixels.data(), 0, 0)) {
            Fail("target unreadable");
            return;
        }
        for (int layer = 0; layer < 2; ++layer) {
            std::vector<int>& shown = layer == 0 ? shownA : shownB;
            const std::vector<int> passes = layer == 0 ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 3, 4};
            for (int tile = 0; tile < kGrid * kGrid; ++tile) {
                const geo::CiVec2 c = Corner(tile);
                // Target pixel i shows canvas pixel 4i + 2. Tile corners and
                // layer B's left edge lie on multiples of 4, so tile pixels
                // 2, 6, 10, … are the ones drawn (StateOf samples those).
                const auto at = [&](int x, int y) -> int {
                    const int cx = layer * kSide + c.x + x, cy = c.y + y;
                    std::uint8_t const* p =
                        &pixels[(std::size_t((cy - 2) / kZoom) * std::size_t(width) + std::size_t((cx - 2) / kZoom)) * 3];
                    return p[0] == p[1] && p[1] == p[2] ? p[0] : -1;
                };
                const int state = StateOf(passes, tile, kZoom, at);
                if (state < 0)
                    Fail("render: layer " + std::to_string(layer) + " tile " + std::to_string(tile) + " is torn");
                else if (state != 0 && state < shown[std::size_t(tile)])
                    Fail("render: tile " + std::to_string(tile) + " went back");
                else
                    shown[std::size_t(tile)] = std::max(shown[std::size_t(tile)], state);
            }
        }
    }

    void CheckPixels(img::CLayerScope& scope, std::vector<int> const& layers)
    {
        for (std::size_t i = 0; i < layers.size() && i < 2; ++i) {
            std::unique_ptr<img::CPicture> picture(img::CreatePicture(doc, layers[i], geo::CiVecN()));
            if (!picture) {
                Fail("no picture over a listed layer");
                continue;
            }
            CString name;
            if (!scope.GetLayerName(layers[i], name))
                Fail("listed layer without a name");
            const std::vector<int> passes = name.Str() == L"10x" ? std::vector<int>{0, 1, 2} : std::vector<int>{0, 3, 4};
            std::vector<std::uint8_t> bytes(std::size_t(kPaste) * kPaste);
            for (int tile = 0; tile < kGrid * kGrid; tile += 5) {
                const geo::CiVec2 c = Corner(tile);
                if (!picture->GetPixFrame()->ReadRect(geo::CiRect(c.x, c.y, c.x + kPaste, c.y + kPaste), bytes.data(), 0, 0)) {
                    Fail("ReadRect refused");
                    continue;
                }
                const auto at = [&](int x, int y) { return int(bytes[std::size_t(y) * kPaste + std::size_t(x)]); };
                if (StateOf(passes, tile, 3, at) < 0)
                    Fail("ReadRect: tile " + std::to_string(tile) + " is torn");
            }
        }
    }

    void Run()
    {
        std::unique_ptr<img::CLayerScope> scope(img::CreateLayerScope(doc));
        // The viewer's own mosaic over the document, for layer properties.
        std::unique_ptr<img::CMosaikScope> mosaic(img::CreateMosaikImage(&doc));
        const auto target = img::CPixFrame::Create(geo::CiRect(0, 0, 2 * kSide / kZoom, kSide / kZoom), kBgr8,
                                                   mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
        if (!scope || !mosaic || !target) {
            Fail("no scope or target");
            return;
        }
        do {
            std::vector<int> layers;
            {
                // A listing and the properties read with it agree.
                img::CDocumentLock read(doc, img::CDocumentLock::eRead);
                if (!scope->GetLayers(layers, ~(0x002 | 0x040)))
                    Fail("GetLayers failed");
                if (std::set<int>(layers.begin(), layers.end()).size() != layers.size())
                    Fail("a layer listed twice");
                for (int id : layers) {
                    // The stack type is the last thing CreateLayer writes.
                    utl::CPropSet props;
                    if (!mosaic->GetLayerProperties(id, props) || !props.PropertyExists(2074))
                        Fail("listed layer " + std::to_string(id) + " not wholly inserted");
                }
            }
            if (!scope->RenderComplete(target, geo::CiRect(0, 0, 2 * kSide / kZoom, kSide / kZoom),
                                       geo::CdRect(0, 0, 2 * kSide, kSide), false, img::eZoomNearest))
                Fail("RenderComplete failed");
            else
                CheckRender(target);
            ++renders;
            std::vector<int> pictures;
            for (int id : layers) {
                CString name;
                if (scope->GetLayerName(id, name) && (name.Str() == L"10x" || name.Str() == L"20x"))
                    pictures.push_back(id);
            }
            CheckPixels(*scope, pictures);
        } while (pasting.load());
    }
};

TEST_F(AcquireWhileViewingTest, EveryTileTheViewerSeesIsWholeAndLayersAppearWhole)
{
    ASSERT_TRUE(mosaic);
    acquisitionThread = std::this_thread::get_id();
    // A subscriber that calls the library again from its callback, on the
    // acquiring thread, while the viewer holds locks of the same document.
    std::unique_ptr<img::CLayerScope> listener(img::CreateLayerScope(doc));
    std::atomic<int> heard{0};
    std::atomic<bool> offThread{false};
    const int subscription = doc.Subscribe([&](img::EChange) {
        if (std::this_thread::get_id() != acquisitionThread)
            offThread = true;
        std::vector<int> layers;
        listener->GetLayers(layers, ~0);
        ++heard;
    });

    tViewer viewer{doc, pasting, renders};
    std::thread viewing([&] { viewer.Run(); });
    EXPECT_TRUE(CreateLayer(10.0, 0.0));
    {
        // Also several calls: held as one change like CreateLayer's.
        img::CDocumentLock change(doc, img::CDocumentLock::eChange);
        EXPECT_TRUE(mosaic->CreateFocusLayer(10.0, geo::CiRect(0, 0, kSide / 8, kSide / 8),
                                             utl::TUnitValue<geo::CdRect>(), false));
    }
    Paste(kPassesA, 2);
    EXPECT_TRUE(CreateLayer(20.0, kSide));
    Paste(kPassesB, 2);
    // Two more renders after the last paste: they must show every last tile.
    const int last = renders.load();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (renders.load() < last + 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    pasting = false;
    viewing.join();
    doc.Unsubscribe(subscription);

    for (std::string const& failure : viewer.failures)
        ADD_FAILURE() << failure;
    EXPECT_GT(renders.load(), 4);
    for (int tile = 0; tile < kGrid * kGrid; ++tile) {
        EXPECT_EQ(viewer.shownA[std::size_t(tile)], 2) << "tile " << tile;
        EXPECT_EQ(viewer.shownB[std::size_t(tile)], 4) << "tile " << tile;
    }
    EXPECT_GT(heard.load(), 0);
    EXPECT_FALSE(offThread) << "a change message went out on another thread than the change's";
}

}  // namespace
