#include "imgscope/contracts/platform/exception.h"

#include <gtest/gtest.h>

namespace {

int g_destroyed = 0;

class CCountedException : public CException {
public:
    explicit CCountedException(bool autoDelete = true) : CException(autoDelete) {}
    ~CCountedException() override { ++g_destroyed; }
};

TEST(ExceptionTest, DeleteFreesOnlyExceptionsMadeToBeDeleted)
{
    g_destroyed = 0;
    try {
        throw new CCountedException;
    } catch (CException* e) {
        e->Delete();  // the sanitizer build reports a leak if this frees nothing
    }
    EXPECT_EQ(g_destroyed, 1);

    static CCountedException shared(false);  // a catcher that always calls Delete() must not free this
    try {
        throw &shared;
    } catch (CException* e) {
        e->Delete();
    }
    CException* again = &shared;
    again->Delete();  // still alive: the sanitizer build would report a double free
    EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
