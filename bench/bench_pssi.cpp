// Hanging marks and per-image DICOM reads on a generated 2,000-image PSSI document
// (4 patients x 5 studies x 4 series x 25 images, 40 Tags each), beside a plain
// recursive TinyXML walk over the same elements.
#include "bench/BenchQuick.h"
#include "bench/PssiDocument.h"
#include "R2IVuzi/PssiXmlDao.h"

#include "tests/support/TestTools.h"
#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

CPssiXmlDao& dao()
{
    static CPssiXmlDao* d = [] {
        auto* p = new CPssiXmlDao;
        p->parsePssi(pssi2000Text());
        if (p->hasPssiError() || !p->getRootElement())
            throw std::runtime_error("tools/make_pssi.py gave no document");
        return p;
    }();
    return *d;
}

void walk(TiXmlElement* e, const char* name, std::vector<TiXmlNode*>& out)
{
    for (TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const char* hanging = c->Attribute("hanging");
        if (std::strcmp(c->Value(), name) == 0 && hanging && std::strcmp(hanging, "True") == 0)
            out.push_back(c);
        walk(c, name, out);
    }
}

void BM_SetHangingDownwardFromRoot(benchmark::State& state)
{
    CPssiXmlDao& d = dao();
    for (auto _ : state)
        d.setHangingDownward(d.getRootElement(), 5, "True");
}
BENCHMARK(BM_SetHangingDownwardFromRoot);

void BM_HangingListFromRoot(benchmark::State& state)
{
    CPssiXmlDao& d = dao();
    d.setHangingDownward(d.getRootElement(), 5, "True");
    for (auto _ : state)
        benchmark::DoNotOptimize(d.getHangingNodeList(d.getRootElement(), 1));
}
BENCHMARK(BM_HangingListFromRoot);

void BM_HangingListPerSeries(benchmark::State& state)
{
    CPssiXmlDao& d = dao();
    d.setHangingDownward(d.getRootElement(), 5, "True");
    const std::vector<TiXmlNode*> series = d.getHangingNodeList(d.getRootElement(), 2);
    for (auto _ : state)
        for (TiXmlNode* s : series)
            benchmark::DoNotOptimize(d.getHangingNodeList(s, 1));
}
BENCHMARK(BM_HangingListPerSeries);

void BM_DicomReadsPerImage(benchmark::State& state)
{
    CPssiXmlDao& d = dao();
    d.setHangingDownward(d.getRootElement(), 5, "True");
    std::vector<TiXmlNode*> images = d.getHangingNodeList(d.getRootElement(), 1);
    if (benchQuick() && images.size() > 50)
        images.resize(50);
    for (auto _ : state)
        for (TiXmlNode* image : images) {
            std::string photometric;
            float centre = 0;
            d.getDicomNodeInfo(image, photometric, "0x0028", "0x1051");
            d.getWindowCenter(image, centre);
            benchmark::DoNotOptimize(centre);
        }
}
BENCHMARK(BM_DicomReadsPerImage);

// The floor: one recursive walk collecting the hung images.
void BM_PlainTinyXmlWalk(benchmark::State& state)
{
    CPssiXmlDao& d = dao();
    d.setHangingDownward(d.getRootElement(), 5, "True");
    for (auto _ : state) {
        std::vector<TiXmlNode*> out;
        walk(d.getRootElement(), "Image", out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_PlainTinyXmlWalk);

} // namespace
