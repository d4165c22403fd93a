#include "imgscope/typed/simple_ram_stack.h"

#include "tests/scope/core_documents.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

using namespace imgscope_test;
using RamStack = std::unique_ptr<img::CSimpleRAMStack>;

const utl::CPropSet kNone;
const geo::CiRect kPlane(0, 0, 16, 10);

class SimpleRamStackTest : public ::testing::Test {
protected:
    RamStack NewStack(int frames, utl::CPropSet const& frameProps = kNone, mem::EAlign align = mem::eAlignNone)
    {
        return RamStack(img::CreateSimpleRAMStack(kPlane, frames, kGray16, align, frameProps, kNone, kNone, doc));
    }

    boost::shared_ptr<mem::CDataFrame> FrameOf(img::CSimpleRAMStack const& stack)
    {
        return doc.FindStack(stack.GetLayerID()).GetDataFrame(0);
    }

    // The locks held on the one tile of each plane `begin` … `end` − 1.
    std::vector<int> Locks(mem::CDataFrame const& frame, int begin, int end)
    {
        std::vector<int> locks;
        for (int p = begin; p < end; ++p)
            locks.push_back(frame.Distributor().GetFlag(geo::CiVecN{0, 0, p}, 0, mem::eTileFlagLocked));
        return locks;
    }

    img::CImg doc;
};

TEST_F(SimpleRamStackTest, FramesAreResidentWhateverTheCreationSetAsks)
{
    utl::CPropSet props;
    props.SetProperty(20004, mem::CBin(int(mem::eMemoryTiledSparse)));
    props.SetProperty(2030, mem::CBin(CString(L"named")));
    const RamStack stack = NewStack(3, props, mem::eAlign32);
    ASSERT_TRUE(stack);
    const auto frame = FrameOf(*stack);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->GetMemoryModel(), mem::eMemoryResident);
    EXPECT_EQ(frame->GetAlign(), mem::eAlign32);
    EXPECT_EQ(frame->GetAllocatedBytes(), 3 * frame->GetTileRowSize() * 10);
    CString name;
    EXPECT_TRUE(stack->GetLayerName(name) && name == CString(L"Layer 1"));
    EXPECT_EQ(stack->GetBeginIndex(), 0);
    EXPECT_EQ(stack->GetEndIndex(), 3);

    utl::CPropSet aligned;
    aligned.SetProperty(20015, mem::CBin(int(mem::eAlign8)));
    const RamStack own = NewStack(0, aligned, mem::eAlign32);
    ASSERT_TRUE(own);
    EXPECT_EQ(FrameOf(*own)->GetAlign(), mem::eAlign8);
    EXPECT_EQ(own->GetBeginIndex(), 0);
    EXPECT_EQ(own->GetEndIndex(), 0);

    // It grows frame by frame like any simple stack, with values.
    ASSERT_TRUE(own->SetDimensionType(img::eDimTime));
    ASSERT_TRUE(own->PushBack(UniformFrame(kPlane, kGray16, 12), utl::TUnitValue<double>(kSecond, 2.0)));
    // One frame: its plane dimension no longer counts as a stack dimension,
    // yet the stack dimension stays addressable.
    utl::TUnitValue<double> value;
    EXPECT_TRUE(own->GetFrameProperty(0, value) && value == utl::TUnitValue<double>(kSecond, 2.0));
    EXPECT_TRUE(own->SetFrameProperty(0, utl::TUnitValue<double>(kSecond, 2.5)));
    ASSERT_TRUE(own->PushFront(UniformFrame(kPlane, kGray16, 11)));
    EXPECT_EQ(PixelAt(own->GetPixFrame(-1), {15, 9}), 11);
    EXPECT_EQ(PixelAt(own->GetPixFrame(0), {15, 9}), 12);
    EXPECT_EQ(FrameOf(*own)->GetMemoryModel(), mem::eMemoryResident);
}

TEST_F(SimpleRamStackTest, PhysicalLockPinsEveryTileWhileItLasts)
{
    RamStack stack = NewStack(4);
    ASSERT_TRUE(stack);
    const auto frame = FrameOf(*stack);
    EXPECT_FALSE(stack->GetPhysicalLock());
    EXPECT_TRUE(stack->SetPhysicalLock(false));  // nothing to release
    EXPECT_FALSE(stack->GetPhysicalLock());
    EXPECT_EQ(Locks(*frame, 0, 4), std::vector<int>(4, 0));

    ASSERT_TRUE(stack->SetPhysicalLock(true));
    EXPECT_TRUE(stack->GetPhysicalLock());
    EXPECT_EQ(Locks(*frame, 0, 4), std::vector<int>(4, 1));
    // Pinned planes cannot be dropped from the frame.
    EXPECT_FALSE(frame->SetPlaneBoundary(geo::CiVolumeN::FromPositionSize(geo::CiVecN{0}, geo::CiVecN{2})));

    // Locking again keeps the one lock.
    ASSERT_TRUE(stack->SetPhysicalLock(true));
    EXPECT_EQ(Locks(*frame, 0, 4), std::vector<int>(4, 1));

    ASSERT_TRUE(stack->SetPhysicalLock(false));
    EXPECT_FALSE(stack->GetPhysicalLock());
    EXPECT_EQ(Locks(*frame, 0, 4), std::vector<int>(4, 0));

    // Deleting the stack releases its lock; the layer stays.
    ASSERT_TRUE(stack->SetPhysicalLock(true));
    const int layer = stack->GetLayerID();
    stack.reset();
    EXPECT_EQ(Locks(*frame, 0, 4), std::vector<int>(4, 0));
    EXPECT_TRUE(doc.FindStack(layer).IsValid());
    EXPECT_TRUE(frame->SetPlaneBoundary(geo::CiVolumeN::FromPositionSize(geo::CiVecN{0}, geo::CiVecN{2})));
}

TEST_F(SimpleRamStackTest, FactoryPassesEveryFailureToTheCaller)
{
    EXPECT_THROW(img::CreateSimpleRAMStack(kPlane, 2, img::CPixelInfo(), mem::eAlignNone, kNone, kNone, kNone, doc),
                 std::invalid_argument);
    utl::CPropSet badAlign;
    badAlign.SetProperty(20015, mem::CBin(40));
    EXPECT_THROW(img::CreateSimpleRAMStack(kPlane, 2, kGray16, mem::eAlignNone, badAlign, kNone, kNone, doc),
                 std::invalid_argument);
    for (int frames : {-1, 1}) {
        const geo::CiRect rect = frames < 0 ? kPlane : geo::CiRect(4, 4, 4, 8);
        bool thrown = false;
        try {
            delete img::CreateSimpleRAMStack(rect, frames, kGray16, mem::eAlignNone, kNone, kNone, kNone, doc);
        } catch (img::CBadScopeException* e) {
            thrown = true;
            e->Delete();
        }
        EXPECT_TRUE(thrown) << frames;
    }
    EXPECT_EQ(doc.GetStackCount(), 0u);

    // A stack whose layer is gone cannot be locked.
    const RamStack stack = NewStack(2);
    ASSERT_TRUE(stack && doc.Remove(stack->GetLayerID()));
    EXPECT_FALSE(stack->SetPhysicalLock(true));
    EXPECT_FALSE(stack->GetPhysicalLock());
}

}  // namespace
