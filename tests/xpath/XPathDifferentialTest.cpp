// Compares the engine with xmllint on absolute expressions where both follow XPath 1.0.
#include "xpath/xpath_processor.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using namespace XPath;

const std::string kDir = std::string(ORBEL_SOURCE_DIR) + "/tests/xpath/differential/";

std::string shell_quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// xmllint's output for the expression, with the exit status.
std::string xmllint(const std::string& file, const std::string& expr, int& status)
{
    const std::string cmd = "xmllint --xpath " + shell_quote(expr) + " " + shell_quote(file) + " 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) {
        status = -1;
        return std::string();
    }
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// name="value" items of xmllint's attribute listing, sorted.
std::vector<std::string> attribute_items(const std::string& listing)
{
    std::vector<std::string> items;
    size_t pos = 0;
    while ((pos = listing.find("=\"", pos)) != std::string::npos) {
        const size_t name = listing.rfind(' ', pos);
        const size_t close = listing.find('"', pos + 2);
        if (name == std::string::npos || close == std::string::npos)
            break;
        items.push_back(listing.substr(name + 1, pos - name - 1) + "=" + listing.substr(pos + 2, close - pos - 2));
        pos = close + 1;
    }
    std::sort(items.begin(), items.end());
    return items;
}

TEST(XPathDifferential, AgreesWithXmllint)
{
    ORBEL_REQUIRE_TOOL("xmllint", "libxml2-utils");
    std::ifstream list(kDir + "expressions.txt");
    ASSERT_TRUE(list.good());
    std::map<std::string, std::unique_ptr<TiXmlDocument>> docs;
    std::string line;
    int compared = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string file = kDir + line.substr(0, tab) + ".xml";
        const std::string expr = line.substr(tab + 1);
        auto& doc = docs[file];
        if (!doc) {
            doc = std::make_unique<TiXmlDocument>(file);
            ASSERT_TRUE(doc->LoadFile()) << file;
        }
        SCOPED_TRACE(expr);
        xpath_processor p(doc->RootElement(), expr.c_str());
        expression_result r = p.compute_xpath();
        ASSERT_EQ(p.error(), state_ok);
        int status = 0;
        switch (r.kind()) {
        case kind_node_set: {
            const node_set& s = r.set();
            const bool attributes = s.count() > 0 && s.is_attribute(0);
            std::vector<std::string> ours;
            for (uint32_t i = 0; i < s.count(); ++i) {
                if (s.is_attribute(i)) {
                    ours.push_back(std::string(s.attribute(i)->Name()) + "=" + s.attribute(i)->Value());
                } else {
                    const char* id = s.node(i)->ToElement()->Attribute("id");
                    ours.push_back(std::string("id=") + (id ? id : "?"));
                }
            }
            std::sort(ours.begin(), ours.end());
            const std::string theirs_text = xmllint(file, attributes ? expr : "(" + expr + ")/@id", status);
            ASSERT_TRUE(status == 0 || status == 10) << "xmllint status " << status;
            EXPECT_EQ(ours, attribute_items(theirs_text));
            break;
        }
        case kind_int:
        case kind_double: {
            const std::string theirs = xmllint(file, expr, status);
            ASSERT_EQ(status, 0);
            EXPECT_NEAR(r.to_double(), std::stod(theirs), 1e-6);
            break;
        }
        case kind_bool:
        case kind_string: {
            const std::string theirs = xmllint(file, expr, status);
            ASSERT_EQ(status, 0);
            EXPECT_EQ(r.to_string(), theirs);
            break;
        }
        default:
            ADD_FAILURE() << "invalid result";
        }
        ++compared;
    }
    EXPECT_GE(compared, 60);
}

} // namespace
