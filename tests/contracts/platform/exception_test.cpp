#include "imgscope/contracts/platform/exception.h"

#include <gtest/gtest.h>

namespace {

int g_destroyed = 0;

class CCountedException : public CException {
public:
    ~CCountedException() override { ++g_destroyed; }
};

TEST(ExceptionTest, DeleteFreesAnExceptionThrownByPointer)
{
    g_destroyed = 0;
    try {
        throw new CCountedException;
    } catch (CException* e) {
        e->Delete();  // the sanitizer build reports a leak if this frees nothing
    }
    EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
