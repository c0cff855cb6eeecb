#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_thread_buffer_store.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace {

TEST(BufferServer, LayoutKeepsThe58BytePayload)
{
    EXPECT_EQ(sizeof(rv_buffer), 72u);
    EXPECT_EQ(int(sizeof(rv_buffer{}.payload)), RV_BUFFER_PAYLOAD);
    EXPECT_EQ(RV_GROUP_PAYLOAD, 4 * RV_BUFFER_PAYLOAD);
}

TEST(BufferServer, GroupsFillAndDrainInOrder)
{
    rv_buffer_server srv;
    rv_buffer* b[4];
    b[0] = srv.get();
    EXPECT_EQ(srv.get_total_groups(), 64);
    EXPECT_EQ(srv.get_full_groups(), 0);
    for (int i = 1; i < 4; i++) {
        EXPECT_EQ(srv.get_full_groups(), 0);
        b[i] = srv.get();
    }
    EXPECT_EQ(srv.get_full_groups(), 1);
    EXPECT_EQ(srv.get_peak_full_groups(), 1);
    // The four buffers of one group, each finding that group.
    std::set<rv_buffer*> mine(b, b + 4);
    EXPECT_EQ(mine.size(), 4u);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(b[i]->group(), b[0]->group());
        EXPECT_TRUE(b[i]->in_use());
        EXPECT_EQ(b[i]->next, nullptr);
    }
    srv.release(b[2]);
    EXPECT_EQ(srv.get_full_groups(), 0);
    srv.release(b[1]);
    EXPECT_EQ(srv.get_full_groups(), 0);
    EXPECT_EQ(srv.get_peak_full_groups(), 1);
    EXPECT_EQ(srv.get_total_groups(), 64);
}

TEST(BufferServer, GetGroupsSkipsPartlyUsedGroups)
{
    rv_buffer_server srv;
    // One buffer out of every group of the first block.
    std::vector<rv_buffer*> singles;
    rv_buffer* tail = nullptr;
    rv_buffer* all = srv.get_groups(64, tail);
    EXPECT_EQ(srv.get_full_groups(), 64);
    for (rv_buffer* b = all; b != nullptr;) {
        rv_buffer* n = b->next;
        if (b->index() != 0)
            srv.release(b);
        else
            singles.push_back(b);
        b = n;
    }
    EXPECT_EQ(srv.get_full_groups(), 0);
    EXPECT_EQ(srv.get_num_blocks(), 1);
    rv_buffer* chain = srv.get_groups(2, tail);
    EXPECT_EQ(srv.get_num_blocks(), 2);
    EXPECT_EQ(srv.get_total_groups(), 128);
    int n = 0;
    for (rv_buffer* b = chain; b != nullptr; b = b->next, n++) {
        EXPECT_TRUE(b->in_use());
        EXPECT_EQ(b->index(), n % 4);
        for (rv_buffer* s : singles)
            EXPECT_NE(b->group(), s->group());
        if (b->next == nullptr) {
            EXPECT_EQ(b, tail);
        }
    }
    EXPECT_EQ(n, 8);
    EXPECT_EQ(srv.get_full_groups(), 2);
}

TEST(ThreadBufferStore, ReservePolicy)
{
    rv_buffer_server srv;
    rv_thread_buffer_store store;
    store.attach(&srv);
    store.augment(false);
    EXPECT_EQ(store.available, 32);
    EXPECT_EQ(store.mark, 32);
    EXPECT_EQ(srv.get_full_groups(), 8);

    rv_thread_buffer_store second;
    second.attach(&srv);
    second.reserve = 10;
    for (int i = 0; i < 3; i++) {
        second.available++;
        second.mark++;
    }
    // Pretend three buffers are already held: 7 more wanted, two whole groups.
    second.augment(true);
    EXPECT_EQ(second.available, 11);
    EXPECT_EQ(srv.get_full_groups(), 10);
    second.available = 8; // drop the pretended three before giving back
    second.mark = 8;
    second.detach();
    EXPECT_EQ(srv.get_full_groups(), 8);

    // Taking buffers and updating the reserve.
    for (int i = 0; i < 20; i++)
        store.get();
    EXPECT_EQ(store.available, 12);
    store.update_reserve();
    EXPECT_EQ(store.reserve, 80);
    EXPECT_EQ(store.mark, 12);
    store.detach();
    EXPECT_EQ(store.server, nullptr);
    EXPECT_EQ(store.available, 0);
    EXPECT_EQ(store.head, nullptr);
    // The 20 taken buffers are still out: five whole groups.
    EXPECT_EQ(srv.get_full_groups(), 5);
}

// Random get/release/get_groups against a shadow model of counts and ownership.
TEST(BufferServer, RandomUseAgreesWithShadowModel)
{
    rv_buffer_server srv;
    boost::random::mt19937 rng(4110);
    boost::random::uniform_int_distribution<int> op(0, 99), pick(0, 1 << 30), groups(1, 3);
    std::vector<rv_buffer*> out;
    std::set<rv_buffer*> out_set;
    std::map<rv_buffer*, int> group_use; // by group head
    int64_t full = 0, peak = 0;
    auto take = [&](rv_buffer* b) {
        ASSERT_TRUE(out_set.insert(b).second) << "buffer handed out twice";
        ASSERT_TRUE(b->in_use());
        out.push_back(b);
        // Payload writes stay inside the buffer (AddressSanitizer watches the edges).
        std::memset(b->data(), 0xA5, RV_BUFFER_PAYLOAD);
        if (++group_use[b->group()] == 4 && ++full > peak)
            peak = full;
    };
    for (int i = 0; i < 1000000; i++) {
        int o = op(rng);
        if (o < 45) {
            take(srv.get());
        } else if (o < 48) {
            rv_buffer* tail = nullptr;
            int g = groups(rng);
            rv_buffer* c = srv.get_groups(g, tail);
            int n = 0;
            for (rv_buffer* b = c; b != nullptr; b = b->next, n++) {
                ASSERT_EQ(group_use[b->group()], 0);
                ASSERT_EQ(b->next == nullptr, b == tail);
            }
            ASSERT_EQ(n, 4 * g);
            for (rv_buffer* b = c; b != nullptr;) {
                rv_buffer* nx = b->next;
                take(b);
                b = nx;
            }
        } else if (!out.empty()) {
            size_t k = size_t(pick(rng)) % out.size();
            rv_buffer* b = out[k];
            out[k] = out.back();
            out.pop_back();
            out_set.erase(b);
            if (group_use[b->group()]-- == 4)
                full--;
            srv.release(b);
        }
        ASSERT_EQ(srv.get_full_groups(), full);
        ASSERT_EQ(srv.get_peak_full_groups(), peak);
    }
    EXPECT_EQ(srv.get_total_groups(), 64 * srv.get_num_blocks());
}

} // namespace
