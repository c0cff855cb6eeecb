#include "R2IVuzi/J2KException.h"

#include <gtest/gtest.h>

#include <typeinfo>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KROIRequest")

namespace {

template <class E> void expectCaughtAsJ2KException(const char* message)
{
    const int line = __LINE__ + 2;
    try {
        ORBEL_THROW(E, message, "http://srv/img");
    } catch (const CJ2KException& e) {
        EXPECT_EQ(typeid(e), typeid(E));
        EXPECT_STREQ(e.what(), message);
        EXPECT_EQ(e.getSourceFile(), ".\\R2IVuzi\\J2KROIRequest");
        EXPECT_EQ(e.getLine(), line);
        EXPECT_EQ(e.getContext(), "http://srv/img");
        return;
    }
    ADD_FAILURE() << typeid(E).name() << " escaped";
}

TEST(J2KException, HandlerOfTheBaseCatchesEverySubclass)
{
    expectCaughtAsJ2KException<CJ2KException>("Parse error.");
    expectCaughtAsJ2KException<CJ2KConnectionException>("Invalid status code:404 returned.");
    expectCaughtAsJ2KException<CJ2KOpenStreamException>("Only chunked responses are supported");
    expectCaughtAsJ2KException<CJ2KOverlayConnectionException>("Connection to Annotation server failed.");
    expectCaughtAsJ2KException<CJ2KParseException>("Input source is null.");
    expectCaughtAsJ2KException<CJ2KCreateNewThreadException>("Can't create new thread !");
    expectCaughtAsJ2KException<CJ2KWeakPtrCastingException>("");
}

TEST(J2KException, MemoryExhaustedIsOnlyAnAllocationFailure)
{
    auto raise = [] { ORBEL_THROW_NO_MEMORY("Memory allocation failed"); };
    bool asBadAlloc = false;
    try {
        try {
            raise();
        } catch (const CJ2KException&) {
            ADD_FAILURE() << "caught as CJ2KException";
        }
    } catch (const std::bad_alloc& e) {
        asBadAlloc = true;
        EXPECT_STREQ(e.what(), "Memory allocation failed");
    }
    EXPECT_TRUE(asBadAlloc);
    try {
        raise();
    } catch (const std::exception& e) {
        const auto* m = dynamic_cast<const CJ2KMemoryExhaustedException*>(&e);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->getSourceFile(), ".\\R2IVuzi\\J2KROIRequest");
        EXPECT_GT(m->getLine(), 0);
    }
}

TEST(J2KException, CopiesKeepEveryField)
{
    CJ2KConnectionException original("curl failed", ".\\R2IVuzi\\J2KImageLoader", 417, "target");
    CJ2KConnectionException copy(original);
    {
        CJ2KConnectionException gone("other", "x", 1, "y");
        copy = gone;
        copy = original;
    }
    try {
        throw copy;
    } catch (const CJ2KException& caught) {
        const CJ2KException e(caught); // a copy of the base keeps the fields too
        EXPECT_STREQ(e.what(), "curl failed");
        EXPECT_EQ(e.getSourceFile(), ".\\R2IVuzi\\J2KImageLoader");
        EXPECT_EQ(e.getLine(), 417);
        EXPECT_EQ(e.getContext(), "target");
    }
    // The cause travels with the copy a loader hands to its grid.
    try {
        throwWithCause(CJ2KConnectionException("refused", "x", 2, "t"), J2KFailureCause::RefusedBody, "Invalid Bin-ID.");
    } catch (const CJ2KConnectionException& caught) {
        const CJ2KException e(caught);
        EXPECT_EQ(e.getCause(), J2KFailureCause::RefusedBody);
        EXPECT_EQ(e.getCauseDetail(), "Invalid Bin-ID.");
    }
    CJ2KMemoryExhaustedException m("Memory allocation failed", ".\\R2IVuzi\\J2KGrid", 99);
    CJ2KMemoryExhaustedException mc(m);
    EXPECT_STREQ(mc.what(), "Memory allocation failed");
    EXPECT_EQ(mc.getSourceFile(), ".\\R2IVuzi\\J2KGrid");
    EXPECT_EQ(mc.getLine(), 99);
}

// Each cause in its own words; without one, the message is the reason.
TEST(J2KException, FailuresDescribedByTheirCause)
{
    const struct {
        J2KFailureCause cause;
        const char* detail;
        const char* text;
    } cases[] = {
        {J2KFailureCause::Unknown, "", "the message"},
        {J2KFailureCause::Transfer, "Couldn't connect to server", "transfer failed: Couldn't connect to server"},
        {J2KFailureCause::TimedOut, "Timeout was reached", "timed out: Timeout was reached"},
        {J2KFailureCause::HttpStatus, "503", "HTTP status 503"},
        {J2KFailureCause::CutReply, "", "reply cut inside a message"},
        {J2KFailureCause::RefusedBody, "Invalid Bin-ID.", "body refused: Invalid Bin-ID."},
        {J2KFailureCause::NoNewData, "", "no new data"},
    };
    for (const auto& c : cases) {
        CJ2KOpenStreamException e("the message", "x", 1, "t");
        e.setCause(c.cause, c.detail);
        EXPECT_EQ(describeFailure(e), c.text);
    }
}

} // namespace
