// A system exception raised inside a translation frame arrives in a catch
// for SE_Exception, with the frames in between unwound.
#include <gtest/gtest.h>

#include "plugin/runtime/runtime.h"
#include "plugin/se_translator.h"

namespace {

__attribute__((noinline)) int ReadThrough(volatile int *p) { return *p; }

__attribute__((noinline)) int DivideBy(int d)
{
    volatile int divisor = d;
    return 100 / divisor;
}

struct SetFlagOnExit {
    bool *flag;
    ~SetFlagOnExit() { *flag = true; }
};

struct Case {
    const char *name;
    int (*fault)();
    unsigned int code;
};

TEST(SeTranslator, SystemExceptionArrivesAsSeException)
{
    rt::StartThreadData();
    SetSeTranslator(SeTranslator);
    const Case cases[] = {
        {"access violation", [] { return ReadThrough(nullptr); }, EXCEPTION_ACCESS_VIOLATION},
        {"integer divide by zero", [] { return DivideBy(0); }, EXCEPTION_INT_DIVIDE_BY_ZERO},
        {"access violation again", [] { return ReadThrough(nullptr); }, EXCEPTION_ACCESS_VIOLATION},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bool unwound = false;
        bool caught = false;
        SeTranslationFrame frame;
        try {
            SetFlagOnExit guard{&unwound};
            c.fault();
            ADD_FAILURE() << "no exception";
        } catch (const SE_Exception &e) {
            caught = true;
            EXPECT_EQ(e.code(), c.code);
            ASSERT_NE(e.pointers(), nullptr);
            EXPECT_EQ(e.pointers()->ExceptionRecord->ExceptionCode, c.code);
            EXPECT_NE(e.pointers()->ContextRecord->Eip, 0u);
            if (c.code == EXCEPTION_ACCESS_VIOLATION) { // a read of address 0
                EXPECT_EQ(e.pointers()->ExceptionRecord->ExceptionInformation[1], 0u);
            }
        }
        EXPECT_TRUE(caught);
        EXPECT_TRUE(unwound);
    }
}

TEST(SeTranslator, SetReturnsThePreviousTranslator)
{
    rt::StartThreadData();
    SetSeTranslator(nullptr);
    EXPECT_EQ(SetSeTranslator(SeTranslator), nullptr);
    EXPECT_EQ(SetSeTranslator(SeTranslator), &SeTranslator);
}

TEST(SeTranslator, FrameUnlinksItselfFromTheChain)
{
    SeTranslationFrame::Registration *before = SeChainHead();
    {
        SeTranslationFrame frame;
        SeTranslationFrame::Registration *inside = SeChainHead();
        EXPECT_NE(inside, before);
        EXPECT_EQ(inside->next, before);
    }
    EXPECT_EQ(SeChainHead(), before);
}

} // namespace
