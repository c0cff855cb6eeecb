// Building a large node set (membership checked on every add) beside a plain vector
// push of the same pointers.
#include "xpath/node_set.h"

#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <vector>

namespace {

constexpr int kEntries = 200000;

const TiXmlDocument& document()
{
    static TiXmlDocument* doc = [] {
        auto* d = new TiXmlDocument;
        auto* root = new TiXmlElement("Root");
        d->LinkEndChild(root);
        for (int i = 0; i < kEntries / 100; ++i) {
            auto* image = new TiXmlElement("Image");
            root->LinkEndChild(image);
            for (int t = 0; t < 99; ++t)
                image->LinkEndChild(new TiXmlElement("Tag"));
        }
        return d;
    }();
    return *doc;
}

std::vector<const TiXmlNode*> nodes()
{
    std::vector<const TiXmlNode*> out;
    for (const TiXmlElement* i = document().RootElement()->FirstChildElement(); i; i = i->NextSiblingElement()) {
        out.push_back(i);
        for (const TiXmlElement* t = i->FirstChildElement(); t; t = t->NextSiblingElement())
            out.push_back(t);
    }
    return out;
}

void NodeSetAdd(benchmark::State& state)
{
    const auto all = nodes();
    for (auto _ : state) {
        XPath::node_set s;
        for (const TiXmlNode* n : all)
            s.add(n);
        benchmark::DoNotOptimize(s.count());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(all.size()));
}

void VectorPush(benchmark::State& state)
{
    const auto all = nodes();
    for (auto _ : state) {
        std::vector<const void*> v;
        for (const TiXmlNode* n : all)
            v.push_back(n);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(all.size()));
}

void NodeSetAddDescendants(benchmark::State& state)
{
    for (auto _ : state) {
        XPath::node_set s;
        s.add_descendants(document().RootElement(), nullptr);
        benchmark::DoNotOptimize(s.count());
    }
}

} // namespace

BENCHMARK(NodeSetAdd)->Unit(benchmark::kMillisecond);
BENCHMARK(VectorPush)->Unit(benchmark::kMillisecond);
BENCHMARK(NodeSetAddDescendants)->Unit(benchmark::kMillisecond);
