// Randomised comparison of the parameter tree with a naive model: a dense table per
// cluster, rewired exactly as the documented creation rules say, and reads that walk
// itself, its tile's object, the main-header component object and the main object.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <tuple>

using namespace codec_test;

namespace {

constexpr int kTiles = 3;
constexpr int kComps = 3;

struct mobj {
    int cl, t, c, inst;
    std::vector<int> vals;
    std::vector<bool> set;
    mobj* first = nullptr;
};

class model {
public:
    model()
    {
        for (int n = 0; n < num_cluster_specs; n++) {
            cluster& cl = clusters[n];
            cl.spec = &cluster_specs()[n];
            cl.nt = cl.spec->tiles ? kTiles : 0;
            cl.nc = cl.spec->comps ? kComps : 0;
            mobj* head = make(n, -1, -1, 0);
            cl.slots.assign(static_cast<size_t>((cl.nt + 1) * (cl.nc + 1)), head);
            cl.chains[head] = {head};
        }
    }

    mobj* access(int n, int t, int c, int i, bool ro)
    {
        cluster& cl = clusters[n];
        if (t < -1 || c < -1 || t >= cl.nt || c >= cl.nc)
            return nullptr;
        mobj* o = slot(n, t, c);
        if (!ro && !(o->t == t && o->c == c)) {
            if (i != 0 && !cl.spec->indexed)
                return nullptr;
            mobj* fresh = make(n, t, c, 0);
            mobj* main = slot(n, -1, -1);
            slot(n, t, c) = fresh;
            cl.chains[fresh] = {fresh};
            if (c == -1 && t >= 0) {
                for (int k = 0; k < cl.nc; k++) {
                    if (slot(n, t, k) == main)
                        slot(n, t, k) = fresh;
                    else if (slot(n, t, k)->t == -1)
                        access(n, t, k, 0, false);
                }
            } else if (t == -1 && c >= 0) {
                for (int s = 0; s < cl.nt; s++) {
                    if (slot(n, s, c) == main)
                        slot(n, s, c) = fresh;
                    else if (slot(n, s, c)->c == -1)
                        access(n, s, c, 0, false);
                }
            } else if (t >= 0 && c >= 0) {
                if (slot(n, t, -1) == main)
                    access(n, t, -1, 0, false);
            }
            for (int h = 0; h < num_cluster_specs; h++) {
                bool names = false;
                for (const char* comp : clusters[h].spec->companions)
                    names = names || (comp != nullptr && std::string(comp) == cl.spec->name);
                if (!names)
                    continue;
                access(h, t, c, 0, false);
                if (t >= 0 && clusters[h].spec->comps && !cl.spec->comps)
                    for (int k = 0; k < clusters[h].nc; k++)
                        access(h, t, k, 0, false);
            }
            o = fresh;
        }
        for (;;) {
            std::vector<mobj*>& chain = cl.chains[o->first];
            size_t pos = 0;
            while (chain[pos] != o)
                pos++;
            if (o->inst == i)
                return o;
            if (pos + 1 < chain.size() && chain[pos + 1]->inst <= i) {
                o = chain[pos + 1];
                continue;
            }
            if (!cl.spec->indexed)
                return nullptr;
            if (ro) {
                if (o->t == -1)
                    return nullptr;
                o = slot(n, -1, o->c);
                continue;
            }
            mobj* fresh = make(n, o->t, o->c, i);
            fresh->first = o->first;
            chain.insert(chain.begin() + static_cast<long>(pos) + 1, fresh);
            return fresh;
        }
    }

    mobj* unique(int n, int t, int c, int i)
    {
        cluster& cl = clusters[n];
        if (t < -1 || c < -1 || t >= cl.nt || c >= cl.nc)
            return nullptr;
        mobj* o = slot(n, t, c);
        if (o->t != t || o->c != c)
            return nullptr;
        for (mobj* p : cl.chains[o])
            if (p->inst == i)
                return p;
        return nullptr;
    }

    mobj* new_instance(mobj* o)
    {
        cluster& cl = clusters[o->cl];
        if (!cl.spec->insts || (o->c < 0 && cl.nc > 0) ||
            (o->t == -1 && cl.nt > 0 && !cl.spec->indexed))
            return nullptr;
        std::vector<mobj*>& chain = cl.chains[o->first];
        mobj* fresh = make(o->cl, o->t, o->c, chain.back()->inst + 1);
        fresh->first = o->first;
        chain.push_back(fresh);
        return fresh;
    }

    void set(mobj* o, int r, int v)
    {
        if (r >= static_cast<int>(o->vals.size())) {
            o->vals.resize(static_cast<size_t>(r + 1), 0);
            o->set.resize(static_cast<size_t>(r + 1), false);
        }
        o->vals[static_cast<size_t>(r)] = v;
        o->set[static_cast<size_t>(r)] = true;
    }

    bool get(mobj* o, int r, bool inherit, bool extrap, int& v)
    {
        cluster& cl = clusters[o->cl];
        int nrec = static_cast<int>(o->vals.size());
        if (nrec > 0) {
            if (r >= nrec && extrap)
                r = nrec - 1;
            if (r >= nrec || !o->set[static_cast<size_t>(r)])
                return false;
            v = o->vals[static_cast<size_t>(r)];
            return true;
        }
        if (!inherit || (o->inst != 0 && !cl.spec->indexed))
            return false;
        if (o->c >= 0) {
            mobj* to = access(o->cl, o->t, -1, 0, true);
            if (to != nullptr && to != o && to->t == o->t && get(to, r, false, extrap, v))
                return true;
        }
        if (o->t >= 0) {
            mobj* mo = access(o->cl, -1, o->c, o->inst, true);
            if (mo != nullptr && mo != o && get(mo, r, true, extrap, v))
                return true;
        }
        return false;
    }

    void delete_unparsed(mobj* o)
    {
        cluster& cl = clusters[o->cl];
        o->vals.clear();
        o->set.clear();
        if (o->first == o) {
            std::vector<mobj*> chain = cl.chains[o];
            for (size_t k = 1; k < chain.size(); k++)
                delete_unparsed(chain[k]);
        }
        if (o->c < 0)
            for (int k = 0; k < cl.nc; k++)
                if (slot(o->cl, o->t, k) != o)
                    delete_unparsed(slot(o->cl, o->t, k));
        if (o == slot(o->cl, -1, -1))
            for (int s = 0; s < cl.nt; s++)
                if (slot(o->cl, s, -1) != o)
                    delete_unparsed(slot(o->cl, s, -1));
    }

    struct cluster {
        const cluster_spec* spec;
        int nt, nc;
        std::vector<mobj*> slots;
        std::map<mobj*, std::vector<mobj*>> chains; // first instance -> chain
    };

    mobj*& slot(int n, int t, int c)
    {
        cluster& cl = clusters[n];
        return cl.slots[static_cast<size_t>((t + 1) * (cl.nc + 1) + (c + 1))];
    }

    std::vector<mobj*> all_objects()
    {
        std::vector<mobj*> out;
        for (auto& o : store)
            out.push_back(&o);
        return out;
    }

    cluster clusters[num_cluster_specs];

private:
    mobj* make(int n, int t, int c, int inst)
    {
        store.push_back(mobj{n, t, c, inst, {}, {}, nullptr});
        store.back().first = &store.back();
        return &store.back();
    }
    std::deque<mobj> store;
};

using key = std::tuple<int, int, int>;
key key_of(rvd_params* p)
{
    return key{p->get_tile_idx(), p->get_comp_idx(), p->get_instance()};
}
key key_of(mobj* o)
{
    return key{o->t, o->c, o->inst};
}

::testing::AssertionResult same_structure(model& m, rvd_params* root)
{
    for (int n = 0; n < num_cluster_specs; n++) {
        rvd_params* h = root->access_cluster(n);
        auto& cl = m.clusters[n];
        for (int t = -1; t < cl.nt; t++)
            for (int c = -1; c < cl.nc; c++) {
                rvd_params* real = h->access_relation(t, c, 0, true);
                mobj* gov = m.slot(n, t, c);
                if (real == nullptr || key_of(real) != key_of(gov))
                    return ::testing::AssertionFailure()
                           << cl.spec->name << " slot " << t << "," << c << " governed wrongly";
                if (gov->t != t || gov->c != c)
                    continue;
                std::vector<int> want, got;
                for (mobj* o : cl.chains[gov])
                    want.push_back(o->inst);
                for (rvd_params* p = h->access_unique(t, c, 0); p != nullptr;
                     p = p->access_next_inst())
                    got.push_back(p->get_instance());
                if (want != got)
                    return ::testing::AssertionFailure()
                           << cl.spec->name << " chain " << t << "," << c << " differs";
            }
    }
    return ::testing::AssertionSuccess();
}

} // namespace

class RvdParamsModel : public ::testing::TestWithParam<unsigned> {};

TEST_P(RvdParamsModel, RandomOperationsMatchTheNaiveModel)
{
    std::mt19937 rng(GetParam());
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::unique_ptr<test_params> root = make_test_tree(kTiles, kComps);
    model m;
    int gets_true = 0;
    for (int step = 0; step < 10000; step++) {
        int n = pick(0, num_cluster_specs - 1);
        rvd_params* h = root->access_cluster(n);
        const char* attr = generic_name(n, GK_INT);
        int t = pick(-1, kTiles), c = pick(-1, kComps);
        int i = (pick(0, 3) == 0) ? pick(0, 4) : 0;
        int op = pick(0, 9);
        // Operations on existing objects pick one of the model's objects of cluster n.
        std::vector<mobj*> objs;
        for (mobj* o : m.all_objects())
            if (o->cl == n)
                objs.push_back(o);
        mobj* mo = objs[static_cast<size_t>(pick(0, static_cast<int>(objs.size()) - 1))];
        rvd_params* ro = h->access_unique(mo->t, mo->c, mo->inst);
        ASSERT_NE(nullptr, ro);
        switch (op) {
        case 0:
        case 1: {
            bool read_only = (op == 0);
            rvd_params* real = h->access_relation(t, c, i, read_only);
            mobj* want = m.access(n, t, c, i, read_only);
            ASSERT_EQ(want == nullptr, real == nullptr) << step;
            if (want != nullptr) {
                ASSERT_EQ(key_of(want), key_of(real)) << step;
            }
            break;
        }
        case 2: {
            rvd_params* real = h->access_unique(t, c, i);
            mobj* want = m.unique(n, t, c, i);
            ASSERT_EQ(want == nullptr, real == nullptr) << step;
            if (want != nullptr) {
                ASSERT_EQ(key_of(want), key_of(real)) << step;
            }
            break;
        }
        case 3: {
            rvd_params* real = ro->new_instance();
            mobj* want = m.new_instance(mo);
            ASSERT_EQ(want == nullptr, real == nullptr) << step;
            if (want != nullptr) {
                ASSERT_EQ(key_of(want), key_of(real)) << step;
            }
            break;
        }
        case 4:
        case 5: {
            int r = pick(0, 2), v = pick(-50, 50);
            ro->set(attr, r, 0, v);
            m.set(mo, r, v);
            break;
        }
        case 6:
        case 7:
        case 8: {
            int r = pick(0, 3);
            bool inherit = pick(0, 3) != 0, extrap = pick(0, 1) != 0;
            int got = 0, want = 0;
            bool real_ok = ro->get(attr, r, 0, got, inherit, extrap);
            bool want_ok = m.get(mo, r, inherit, extrap, want);
            ASSERT_EQ(want_ok, real_ok) << step;
            if (want_ok) {
                ASSERT_EQ(want, got) << step;
                gets_true++;
            }
            break;
        }
        default:
            if (pick(0, 3) == 0) {
                ro->delete_unparsed_attribute(attr);
                m.delete_unparsed(mo);
            }
            break;
        }
        ASSERT_TRUE(same_structure(m, root.get())) << "after step " << step << " op " << op;
    }
    EXPECT_GT(gets_true, 100); // the reads exercised real values, not only misses
}

INSTANTIATE_TEST_SUITE_P(Seeds, RvdParamsModel, ::testing::Values(1u, 7u, 2026u));
