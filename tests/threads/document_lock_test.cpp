// The document lock a caller holds around several calls, and change
// messages: who waits for whom, what is refused instead of deadlocking,
// and on which thread subscribers hear of a change.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/layer_scope.h"
#include "tests/contracts/document/document_test_util.h"
#include "tests/threads/threads_test_util.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using doctest::kGray8;
using threadtest::CCallOnThread;

constexpr int kSide = 1024;

class DocumentLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mosaic);
        const geo::CiVolumeN volume =
            geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{kSide, kSide, 1});
        const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6),
                                                geo::CdRect(0, 0, kSide, kSide));
        ASSERT_TRUE(mosaic->CreateLayer(10.0, kGray8, mem::eMemoryDefault, 2, 95, volume, phys, utl::CPropSet(),
                                        img::eStackPicture, false, false));
    }

    bool Paste(std::uint8_t value)
    {
        auto tile = boost::make_shared<mem::CDataFrame>(geo::CiVolumeN(geo::CiRect(0, 0, 256, 256)), kGray8);
        std::vector<std::uint8_t> bytes(256 * 256, value);
        tile->WriteRect(geo::CiRect(0, 0, 256, 256), geo::CiVecN(), bytes.data(), 0);
        return mosaic->Paste(tile, geo::CiVecN{100, 200, 0});
    }

    std::size_t LayerCount() const
    {
        std::vector<int> layers;
        EXPECT_TRUE(scope->GetLayers(layers, ~0));
        return layers.size();
    }

    img::CImg doc;
    std::unique_ptr<img::CMosaikScope> mosaic{img::CreateMosaikImage(&doc)};
    std::unique_ptr<img::CLayerScope> scope{img::CreateLayerScope(doc)};
};

TEST_F(DocumentLockTest, AChangeHeldHoldsOffEveryOtherThreadUntilReleased)
{
    const std::size_t before = LayerCount();
    std::size_t seen = 0;
    auto change = std::make_unique<img::CDocumentLock>(doc, img::CDocumentLock::eChange);
    // The holder's own calls pass through, changes included.
    ASSERT_TRUE(doc.SetProperty(4711, mem::CBin(1)));
    CCallOnThread reader("a listing", [&] { seen = LayerCount(); });
    CCallOnThread writer("a property change", [&] { doc.SetProperty(4712, mem::CBin(2)); });
    EXPECT_TRUE(reader.HeldUp());
    EXPECT_FALSE(writer.Finished());
    change.reset();
    reader.Join();
    writer.Join();
    EXPECT_EQ(seen, before);
    EXPECT_TRUE(doc.PropertyExists(4711));
    EXPECT_TRUE(doc.PropertyExists(4712));
}

TEST_F(DocumentLockTest, AReadHeldLetsReadsAndPastesThroughButHoldsOffChanges)
{
    auto read = std::make_unique<img::CDocumentLock>(doc, img::CDocumentLock::eRead);
    {
        CCallOnThread reader("a listing", [&] { LayerCount(); });
        reader.Join();
        // The acquisition keeps pasting while a viewer holds a read.
        bool pasted = false;
        CCallOnThread paster("a paste", [&] { pasted = Paste(77); });
        paster.Join();
        EXPECT_TRUE(pasted);
    }
    CCallOnThread writer("a property change", [&] { doc.SetProperty(4712, mem::CBin(2)); });
    EXPECT_TRUE(writer.HeldUp());
    read.reset();
    writer.Join();
    EXPECT_TRUE(doc.PropertyExists(4712));
}

TEST_F(DocumentLockTest, AChangeInsideOwnReadIsRefusedAndLeavesTheDocumentAsItWas)
{
    const std::size_t before = LayerCount();
    {
        img::CDocumentLock read(doc, img::CDocumentLock::eRead);
        EXPECT_THROW(img::CDocumentLock(doc, img::CDocumentLock::eChange), std::logic_error);
        EXPECT_THROW(doc.SetProperty(4711, mem::CBin(1)), std::logic_error);
        // A scope operation reports it as its failure result.
        EXPECT_FALSE(mosaic->CreateLayer(20.0, kGray8, mem::eMemoryDefault, 2, 95,
                                         geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{64, 64, 1}),
                                         utl::TUnitValue<geo::CdRect>(), utl::CPropSet(), img::eStackPicture, false,
                                         false));
        // A second read of the same thread passes through.
        img::CDocumentLock again(doc, img::CDocumentLock::eRead);
        EXPECT_EQ(LayerCount(), before);
    }
    EXPECT_FALSE(doc.PropertyExists(4711));
    EXPECT_EQ(LayerCount(), before);
    // Released: changes go through again, from this thread and others.
    EXPECT_TRUE(doc.SetProperty(4711, mem::CBin(1)));
    CCallOnThread writer("a property change", [&] { doc.SetProperty(4712, mem::CBin(2)); });
    writer.Join();
    EXPECT_TRUE(doc.PropertyExists(4712));
}

TEST_F(DocumentLockTest, LocksOfTwoDocumentsMayBeReleasedInEitherOrder)
{
    img::CImg other;
    for (bool firstReleasedFirst : {true, false}) {
        SCOPED_TRACE(firstReleasedFirst);
        auto first = std::make_unique<img::CDocumentLock>(doc, img::CDocumentLock::eRead);
        auto second = std::make_unique<img::CDocumentLock>(other, img::CDocumentLock::eChange);
        (firstReleasedFirst ? first : second).reset();
        img::CImg const& released = firstReleasedFirst ? doc : other;
        img::CImg const& held = firstReleasedFirst ? other : doc;
        std::unique_ptr<img::CDocumentLock>& stillHeld = firstReleasedFirst ? second : first;
        CCallOnThread unheld("a change of the released document", [&] { img::CImg(released).SetProperty(1, mem::CBin(1)); });
        unheld.Join();
        CCallOnThread waiting("a change of the held document", [&] { img::CImg(held).SetProperty(2, mem::CBin(2)); });
        EXPECT_TRUE(waiting.HeldUp());
        stillHeld.reset();
        waiting.Join();
    }
}

// Messages of a change go out on the changing thread once it holds no lock:
// a subscriber may change the document again, and other threads may too
// while it runs.
TEST_F(DocumentLockTest, SubscribersHearOnTheChangingThreadAndMayCallTheLibraryAgain)
{
    img::CDisplProcessFlow flow(doc, false);
    std::mutex mutex;
    std::vector<std::thread::id> heardOn;
    std::vector<img::EChange> heard;
    std::atomic<bool> reentered{false};
    const auto record = [&](img::EChange change) {
        const std::lock_guard<std::mutex> lock(mutex);
        heardOn.push_back(std::this_thread::get_id());
        heard.push_back(change);
    };
    const int documentSubscription = doc.Subscribe([&](img::EChange change) {
        record(change);
        if (change != img::eChangeProperties || reentered.exchange(true))
            return;
        // A change of its own, then one by another thread that it waits for:
        // either deadlocks if the message went out under the document's lock.
        EXPECT_TRUE(doc.SetProperty(5001, mem::CBin(1)));
        CCallOnThread other("another thread's change from a subscriber",
                            [&] { img::CImg(doc).SetProperty(5002, mem::CBin(2)); });
        other.Join();
        std::vector<int> layers;
        EXPECT_TRUE(scope->GetLayers(layers, ~0));
    });
    const int treeSubscription = flow.Subscribe([&](img::EChange change) {
        record(change);
        img::CCanvasColor background, border;
        flow.GetCanvasColors(background, border);
    });

    std::thread::id changer;
    CCallOnThread changing("a change held around several calls", [&] {
        changer = std::this_thread::get_id();
        img::CDocumentLock change(doc, img::CDocumentLock::eChange);
        doc.SetProperty(5000, mem::CBin(0));
        flow.SetImagePlaneRect(geo::CiRect(0, 0, 10, 10));
        // Nothing is heard while the lock is held.
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_TRUE(heard.empty());
    });
    changing.Join();
    doc.Unsubscribe(documentSubscription);
    flow.Unsubscribe(treeSubscription);

    EXPECT_TRUE(reentered);
    EXPECT_TRUE(doc.PropertyExists(5001));
    EXPECT_TRUE(doc.PropertyExists(5002));
    ASSERT_GE(heard.size(), 3u);
    EXPECT_EQ(heard.front(), img::eChangeProperties) << "delivered in the order the changes happened";
    EXPECT_NE(std::find(heard.begin(), heard.end(), img::eChangeCanvas), heard.end());
    // The other thread's change went out on that thread, the rest here.
    EXPECT_EQ(std::count(heardOn.begin(), heardOn.end(), changer), std::ptrdiff_t(heard.size()) - 1);
}

}  // namespace
