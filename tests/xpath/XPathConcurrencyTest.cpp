// Run under ThreadSanitizer: the engine keeps no shared state and never writes to the
// document it reads.
#include "xpath/xpath_processor.h"

#include <boost/thread/barrier.hpp>
#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

using namespace XPath;

TEST(XPathConcurrency, SharedDocumentManyThreads)
{
    std::string xml = "<Root><Series>";
    for (int i = 0; i < 40; ++i) {
        xml += "<Image n=\"" + std::to_string(i) + "\">";
        for (int t = 0; t < 10; ++t)
            xml += "<Tag group=\"0x0028\" element=\"0x10" + std::to_string(50 + t) + "\">" + std::to_string(t) + "</Tag>";
        xml += "</Image>";
    }
    xml += "</Series></Root>";
    TiXmlDocument doc;
    doc.Parse(xml.c_str());
    ASSERT_FALSE(doc.Error());
    const TiXmlElement* image = doc.RootElement()->FirstChildElement()->FirstChildElement();

    struct query {
        const TiXmlNode* base;
        const char* expr;
        unsigned count;
        std::string value;
    };
    std::vector<query> queries = {
        {image, "//Tag[@group='0x0028' and @element='0x1053']", 40, "Tag"},
        {image, "Image/Tag[@element='0x1050']", 1, "Tag"},
        {doc.RootElement(), "/Root/Series/Image[@n='7']/Tag[3]", 1, "Tag"},
        {doc.RootElement(), "count(//Image)", 0, "40"},
        {doc.RootElement(), "sum(/Root/Series/Image/@n)", 0, "780"},
    };

    constexpr int kThreads = 8;
    boost::barrier start(kThreads);
    std::atomic<int> mismatches{0};
    std::vector<boost::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.wait();
            for (int round = 0; round < 20; ++round) {
                const query& q = queries[static_cast<size_t>(t + round) % queries.size()];
                xpath_processor p(q.base, q.expr);
                expression_result r = p.compute_xpath();
                const unsigned count = r.kind() == kind_node_set ? r.set().count() : 0u;
                if (p.error() != state_ok || count != q.count || r.to_string() != q.value)
                    ++mismatches;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
