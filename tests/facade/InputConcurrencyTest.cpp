// Input while the loaders deliver: drags, wheel paging and page keys injected with no
// settling in between, so the grids' handlers run between the loader threads' sends. Built
// under ThreadSanitizer, this is the input's race check.
#include "tests/facade/ContainerPump.h"

using namespace inputtest;

namespace {
class InputConcurrency : public ContainerPump {};
} // namespace

TEST_F(InputConcurrency, DragsAndPagingWhileLoadersDeliver)
{
    load(false);
    const struct {
        int tool, column, row;
        bool wheel;
    } rounds[] = {{3, 0, 0, false}, {1, 0, 1, false}, {0, 0, 0, true}, {2, 1, 0, false}, {0, 0, 0, true}};
    for (int i = 0; i < 12; ++i) {
        const auto& r = rounds[i % 5];
        control->SetWorkingTool(r.tool);
        CJ2KGrid& g = grid(r.column, r.row);
        move(at(g));
        button(true);
        for (int step = 1; step <= 4; ++step)
            move(at(g, 5 * step, -3 * step));
        button(false);
        if (r.wheel) {
            platform::InjectWheel(i % 2 ? 1 : -1);
            key(VK_NEXT);
            key(VK_NEXT, false);
        }
        platform::AdvanceClock(40);  // decode timers tick between rounds
        pump();
    }
    ASSERT_TRUE(settle());
    for (int c = 0; c < 2; ++c)
        for (int row = 0; row < 2; ++row) {
            CJ2KGrid& g = grid(c, row);
            EXPECT_EQ(g.getTarget().empty(), c == 1 && row == 1);
            EXPECT_TRUE(g.getTarget().empty() || g.getImage()->isOpened());
        }
    EXPECT_EQ(GetCapture(), nullptr);
}
