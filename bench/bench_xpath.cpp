// The slope query of one image in a 500-image series, through the engine and through a
// hand-written TinyXML walk that selects the same nodes.
#include "xpath/xpath_processor.h"

#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kImages = 500;
constexpr int kTags = 40;
const char* const kQuery = "//Tag[@group='0x0028' and @element='0x1053']";

TiXmlDocument& series()
{
    static TiXmlDocument* doc = [] {
        auto* d = new TiXmlDocument;
        auto* root = new TiXmlElement("Root");
        d->LinkEndChild(root);
        auto* s = new TiXmlElement("Series");
        root->LinkEndChild(s);
        for (int i = 0; i < kImages; ++i) {
            auto* image = new TiXmlElement("Image");
            s->LinkEndChild(image);
            for (int t = 0; t < kTags; ++t) {
                auto* tag = new TiXmlElement("Tag");
                char element[8];
                std::snprintf(element, sizeof element, "0x%04X", 0x1040 + t);
                tag->SetAttribute("group", "0x0028");
                tag->SetAttribute("element", element);
                tag->LinkEndChild(new TiXmlText("1"));
                image->LinkEndChild(tag);
            }
        }
        return d;
    }();
    return *doc;
}

const TiXmlElement* first_image()
{
    return series().RootElement()->FirstChildElement("Series")->FirstChildElement("Image");
}

bool is_slope(const TiXmlElement* e)
{
    const char* g = e->Attribute("group");
    const char* el = e->Attribute("element");
    return g && el && std::strcmp(g, "0x0028") == 0 && std::strcmp(el, "0x1053") == 0;
}

void EngineQuery(benchmark::State& state)
{
    const TiXmlElement* image = first_image();
    unsigned count = 0;
    for (auto _ : state) {
        XPath::xpath_processor p(image, kQuery);
        count = p.compute_node_set_count();
        benchmark::DoNotOptimize(p.get_xpath_node(0));
    }
    state.counters["selected"] = count;
}

// The same selection: the image's own Tag children, then those of every element of
// the series' subtree.
void HandWalk(benchmark::State& state)
{
    const TiXmlElement* image = first_image();
    size_t count = 0;
    for (auto _ : state) {
        std::vector<const TiXmlElement*> out;
        for (const TiXmlElement* t = image->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
            if (is_slope(t))
                out.push_back(t);
        const TiXmlNode* parent = image->Parent();
        for (const TiXmlElement* i = parent->FirstChildElement(); i; i = i->NextSiblingElement()) {
            if (i == image)
                continue;
            for (const TiXmlElement* t = i->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
                if (is_slope(t))
                    out.push_back(t);
        }
        count = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["selected"] = static_cast<double>(count);
}

} // namespace

BENCHMARK(EngineQuery)->Unit(benchmark::kMillisecond);
BENCHMARK(HandWalk)->Unit(benchmark::kMicrosecond);
