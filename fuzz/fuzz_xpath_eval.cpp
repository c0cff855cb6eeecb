// Arbitrary expression bytes evaluated on the root element and on a nested element of
// a fixed PSSI-like document; every selected node is then read.
#include "xpath/xpath_processor.h"

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

const char* const kDocument =
    "<Root><overlay font=\"Arial\"><modality name=\"CT\"><Tag group=\"0x0010\" element=\"0x0010\"/></modality></overlay>"
    "<Patient hanging=\"True\"><Tag group=\"0x0010\" element=\"0x0010\">Doe</Tag>"
    "<Study hanging=\"True\"><Series><Tag group=\"0x0008\" element=\"0x0060\">CT</Tag>"
    "<Image hanging=\"True\"><ObjectFile>a.jp2</ObjectFile><InstanceUID>1.2.3</InstanceUID>"
    "<Tag group=\"0x0028\" element=\"0x1050\">40\\400</Tag><!--c-->text"
    "<Tag group=\"0x0028\" element=\"0x3010\"><Tag group=\"0xFFFE\" element=\"0xE000\">"
    "<Tag group=\"0x0028\" element=\"0x3002\">4\\0\\8</Tag></Tag></Tag></Image>"
    "<Image hanging=\"False\"><ObjectFile>b.jp2</ObjectFile></Image></Series></Study></Patient></Root>";

void evaluate(const TiXmlNode* base, const char* expr)
{
    XPath::xpath_processor p(base, expr);
    XPath::expression_result r = p.compute_xpath();
    const unsigned count = r.kind() == XPath::kind_node_set ? r.set().count() : 0u;
    size_t total = r.to_string().size();
    for (unsigned i = 0; i < count; ++i) {
        if (const TiXmlNode* n = p.get_xpath_node(i)) {
            total += n->ValueStr().size();
            if (const TiXmlNode* c = n->FirstChild())
                total += c->ValueStr().size();
        }
    }
    volatile size_t sink = total;
    (void)sink;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TiXmlDocument* doc = [] {
        auto* d = new TiXmlDocument;
        d->Parse(kDocument);
        return d;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TiXmlElement* root = doc->RootElement();
    const TiXmlNode* image = root->FirstChildElement("Patient")->FirstChildElement("Study")
                                 ->FirstChildElement("Series")->FirstChildElement("Image");
    evaluate(root, text.c_str());
    evaluate(image, text.c_str());
    return 0;
}
