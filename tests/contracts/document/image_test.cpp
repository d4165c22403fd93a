#include "imgscope/contracts/document/image.h"

#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <vector>

namespace {

img::CStack RasterStack()
{
    return img::CStack(doctest::Frame({8, 8}));
}

class DocumentTest : public ::testing::Test {
protected:
    img::CImg doc;
};

TEST_F(DocumentTest, AddNeverGivesOutAnIdTwice)
{
    EXPECT_EQ(doc.Add(RasterStack()), 1);
    EXPECT_EQ(doc.Add(RasterStack()), 2);
    EXPECT_EQ(doc.Add(7, RasterStack()), 7);
    EXPECT_EQ(doc.Add(RasterStack()), 8);  // past the highest, not into the gap
    ASSERT_TRUE(doc.Remove(8));
    ASSERT_TRUE(doc.Remove(2));
    EXPECT_FALSE(doc.Remove(2));
    EXPECT_EQ(doc.Add(RasterStack()), 9);  // neither 2 nor 8 again
    EXPECT_EQ(doc.Add(2, RasterStack()), 2) << "a free ID named by the caller is taken";
    EXPECT_EQ(doc.GetStackCount(), 4u);

    // Once the top ID was given, the document has no fresh one left.
    EXPECT_EQ(doc.Add(std::numeric_limits<int>::max(), RasterStack()), std::numeric_limits<int>::max());
    EXPECT_EQ(doc.Add(RasterStack()), -1);
    EXPECT_EQ(doc.Add(3, RasterStack()), 3);
}

TEST_F(DocumentTest, AddRefusesTakenAndNonPositiveIdsAndForeignOrInvalidStacks)
{
    const img::CStack stack = RasterStack();
    ASSERT_EQ(doc.Add(3, stack), 3);
    EXPECT_EQ(stack.GetId(), 3);
    EXPECT_EQ(doc.Add(3, RasterStack()), -1);
    EXPECT_EQ(doc.Add(0, RasterStack()), -1);
    EXPECT_EQ(doc.Add(-4, RasterStack()), -1);
    EXPECT_EQ(doc.Add(img::CStack()), -1);
    EXPECT_EQ(doc.Add(stack), -1);  // already in this document

    img::CImg other;
    EXPECT_EQ(other.Add(stack), -1);
    ASSERT_TRUE(doc.Remove(3));
    EXPECT_EQ(stack.GetId(), -1);
    EXPECT_EQ(other.Add(stack), 1);  // free again once removed
    EXPECT_EQ(doc.GetStackCount(), 0u);
}

TEST_F(DocumentTest, StacksAreWalkedInIdOrder)
{
    EXPECT_TRUE(doc.IsValid());
    EXPECT_EQ(doc.FirstStackId(), -1);
    EXPECT_FALSE(doc.FirstStack().IsValid());
    for (int id : {9, 2, 5})
        ASSERT_EQ(doc.Add(id, RasterStack()), id);
    std::vector<int> ids;
    for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id))
        ids.push_back(id);
    EXPECT_EQ(ids, (std::vector<int>{2, 5, 9}));
    EXPECT_EQ(doc.NextStackId(3), 5);  // any number, not only stack IDs

    std::vector<int> walked;
    for (img::CStack s = doc.FirstStack(); s.IsValid(); s = doc.NextStack(s))
        walked.push_back(s.GetId());
    EXPECT_EQ(walked, ids);

    img::CImg other;
    const img::CStack foreign = RasterStack();
    other.Add(foreign);
    EXPECT_FALSE(doc.NextStack(foreign).IsValid());
    EXPECT_FALSE(doc.NextStack(img::CStack()).IsValid());
    EXPECT_FALSE(doc.FindStack(4).IsValid());
    EXPECT_EQ(doc.FindStack(5), doc.NextStack(doc.FirstStack()));
}

TEST_F(DocumentTest, CopiesShareOneDocumentAndCountInitialisation)
{
    img::CImg copy = doc;
    copy.Add(RasterStack());
    EXPECT_EQ(doc.GetStackCount(), 1u);
    EXPECT_EQ(copy, doc);
    EXPECT_NE(img::CImg(), doc);

    EXPECT_EQ(doc.GetInitializeCount(), 0);
    doc.Initialize();
    copy.Initialize();
    EXPECT_EQ(doc.GetInitializeCount(), 2);
    EXPECT_EQ(doc.GetStackCount(), 1u);  // initialising again loses nothing
}

TEST_F(DocumentTest, PropertiesReadBackWithTheirType)
{
    EXPECT_FALSE(doc.SetProperty(5, mem::CBin()));
    ASSERT_TRUE(doc.SetProperty(5, mem::CBin(42)));
    ASSERT_TRUE(doc.SetProperty(2003, mem::CBin(utl::TInterval<double>(1.0, 9.0), utl::CUnit())));
    EXPECT_TRUE(doc.PropertyExists(5));

    mem::CBin value(1.5);
    EXPECT_FALSE(doc.GetProperty(6, value));
    EXPECT_EQ(value, mem::CBin(1.5));  // untouched by the failed read
    EXPECT_TRUE(doc.GetProperty(5, value) && value == mem::CBin(42));  // equal bins hold the same type
    EXPECT_EQ(doc.GetProperty(2003), mem::CBin(utl::TInterval<double>(1.0, 9.0), utl::CUnit()));
    EXPECT_TRUE(doc.GetProperty(77).IsEmpty());

    utl::CPropSet props;
    props.SetValue(99, 1);
    ASSERT_TRUE(doc.GetProperties(props));
    EXPECT_EQ(props.GetPropertyList(), (std::vector<int>{5, 2003}));
    EXPECT_TRUE(doc.DeleteProperty(5));
    EXPECT_FALSE(doc.DeleteProperty(5));
    EXPECT_FALSE(doc.PropertyExists(5));
}

TEST_F(DocumentTest, DynamicPropertySetsAreSharedAndNullIsRefused)
{
    auto first = boost::shared_ptr<utl::CPropSet>(new utl::CPropSet);
    ASSERT_TRUE(img::SetDynPropStorage(doc, {first, boost::shared_ptr<utl::CPropSet>(new utl::CPropSet)}));
    EXPECT_EQ(img::GetDynPropStorage(doc)[0], first);
    EXPECT_FALSE(img::SetDynPropStorage(doc, {first, boost::shared_ptr<utl::CPropSet>()}));
    EXPECT_EQ(img::GetDynPropStorage(doc).size(), 2u);
    EXPECT_TRUE(img::SetDynPropStorage(doc, {}));
    EXPECT_TRUE(img::GetDynPropStorage(doc).empty());
}

// Collects the messages of one document.
class NotificationTest : public DocumentTest {
protected:
    void SetUp() override
    {
        subscription = doc.Subscribe([this](img::EChange change) { heard.push_back(change); });
    }

    std::vector<img::EChange> heard;
    int subscription = -1;
};

TEST_F(NotificationTest, ChangesOfDocumentAndItsStacksAreReported)
{
    img::CStack stack = RasterStack();
    stack.SetName(L"not yet added");
    EXPECT_TRUE(heard.empty());

    const int id = doc.Add(stack);
    stack.SetProperty(1, mem::CBin(1));
    stack.Invalidate();
    doc.SetProperty(1, mem::CBin(2));
    doc.Remove(id);
    stack.Invalidate();  // no longer the document's
    EXPECT_EQ(heard, (std::vector<img::EChange>{img::eChangeStacks, img::eChangeProperties, img::eChangePixels,
                                                 img::eChangeProperties, img::eChangeStacks}));

    heard.clear();
    doc.Unsubscribe(subscription);
    doc.Add(RasterStack());
    EXPECT_TRUE(heard.empty());
}

TEST_F(NotificationTest, MutingHoldsUntilTheLastCopyOfEveryTokenDies)
{
    auto token = doc.MuteMessaging();
    auto copy = token;
    auto second = doc.MuteMessaging();
    doc.Add(RasterStack());
    doc.SetProperty(1, mem::CBin(1));
    token.reset();
    second.reset();
    EXPECT_TRUE(heard.empty());
    copy.reset();
    EXPECT_EQ(heard, std::vector<img::EChange>{img::eChangeSummary});

    heard.clear();
    doc.MuteMessaging().reset();  // nothing changed meanwhile: no summary
    EXPECT_TRUE(heard.empty());
    doc.SetProperty(2, mem::CBin(2));
    EXPECT_EQ(heard, std::vector<img::EChange>{img::eChangeProperties});
}

TEST_F(NotificationTest, StacksAndTokensMayOutliveTheirDocument)
{
    int summaries = 0;
    boost::shared_ptr<void> token;
    img::CStack stack = RasterStack();
    {
        img::CImg shortLived;
        shortLived.Subscribe([&summaries](img::EChange change) { summaries += change == img::eChangeSummary; });
        token = shortLived.MuteMessaging();
        ASSERT_EQ(shortLived.Add(4, stack), 4);
    }
    token.reset();
    EXPECT_EQ(summaries, 1);
    EXPECT_TRUE(stack.IsValid());
    EXPECT_EQ(stack.GetId(), -1);
    stack.SetName(L"still usable");  // nobody left to tell
    EXPECT_EQ(doc.Add(stack), 1);
}

TEST_F(NotificationTest, ListenersMayUnsubscribeOrThrowWithoutSilencingOthers)
{
    int selfRemoving = -1;
    int calls = 0;
    selfRemoving = doc.Subscribe([&](img::EChange) {
        ++calls;
        doc.Unsubscribe(selfRemoving);
    });
    doc.Subscribe([](img::EChange) { throw std::runtime_error("listener failed"); });
    EXPECT_TRUE(doc.SetProperty(1, mem::CBin(1)));
    EXPECT_TRUE(doc.SetProperty(2, mem::CBin(2)));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(doc.Subscribe(std::function<void(img::EChange)>()), -1);
}

}  // namespace
