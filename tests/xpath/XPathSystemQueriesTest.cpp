// The data-access object's own expressions on configuration, stamp and PSSI fixtures.
#include "xpath/xpath_processor.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <map>
#include <string>

namespace {

using namespace XPath;

const char* const kConfig =
    "<root><configuration><language>DE</language><maxlayout>4</maxlayout><hangmode>3</hangmode>"
    "<workingmode>1</workingmode><workingtool>2</workingtool><anntool>12</anntool>"
    "<selectmode>0</selectmode><retrytimes>5</retrytimes><packetsize>10240</packetsize></configuration>"
    "<resource><Zoom>Z</Zoom></resource>"
    "<menu><item id=\"30\" text=\"Drei\"/><item id=\"10\"/><item/></menu></root>";

const char* const kStamps =
    "<root><stamps><item name=\"A\" data=\"424d\"/><item name=\"B\" data=\"0a\"/></stamps></root>";

const char* const kPssi =
    "<Root><overlay font=\"Arial\" fontsize=\"2\">"
    "<modality name=\"CT\"><Tag group=\"0x0010\" element=\"0x0010\"/><Tag group=\"0x0008\" element=\"0x0020\"/></modality>"
    "<modality name=\"MR\"><Tag group=\"0x0010\" element=\"0x0010\"/></modality></overlay>"
    "<Patient hanging=\"True\"><Tag group=\"0x0010\" element=\"0x0010\">Doe</Tag>"
    "<Study hanging=\"True\"><Tag group=\"0x0008\" element=\"0x0020\">20260101</Tag>"
    "<Series hanging=\"True\"><Tag group=\"0x0008\" element=\"0x0060\">CT</Tag>"
    "<Tag group=\"0x0028\" element=\"0x1053\">1.5</Tag>"
    "<Image hanging=\"True\"><ObjectFile>a.jp2</ObjectFile><InstanceUID>1.2.3</InstanceUID>"
    "<Tag group=\"0x0028\" element=\"0x0004\">MONOCHROME2</Tag>"
    "<Tag group=\"0x0028\" element=\"0x1050\">40</Tag>"
    "<Tag group=\"0x0028\" element=\"0x1051\">400</Tag>"
    "<Tag group=\"0x0028\" element=\"0x0030\">0.5\\0.5</Tag>"
    "<Tag group=\"0x0011\" element=\"0x101B\">0a</Tag>"
    "<Tag group=\"0x0011\" element=\"0x101D\">0c</Tag>"
    "<Tag group=\"0x0028\" element=\"0x3010\">"
    "<Tag group=\"0xFFFE\" element=\"0xE000\"><Tag group=\"0x0028\" element=\"0x3002\">4\\0\\8</Tag></Tag>"
    "<Tag group=\"0xFFFE\" element=\"0xE000\"><Tag group=\"0x0028\" element=\"0x3002\">4\\0\\8</Tag></Tag></Tag>"
    "<Tag group=\"0x0028\" element=\"0x3000\">"
    "<Tag group=\"0xFFFE\" element=\"0xE000\"><Tag group=\"0x0028\" element=\"0x3002\">3\\100\\16</Tag></Tag></Tag>"
    "</Image><Image hanging=\"False\"><ObjectFile>b.jp2</ObjectFile></Image>"
    "</Series></Study></Patient></Root>";

const TiXmlElement* child(const TiXmlNode* n, const char* name, const char* element = nullptr)
{
    for (const TiXmlElement* e = n->FirstChildElement(name); e; e = e->NextSiblingElement(name))
        if (!element || (e->Attribute("element") && std::string(e->Attribute("element")) == element))
            return e;
    return nullptr;
}

TEST(XPathSystemQueries, CountsOnFixtures)
{
    TiXmlDocument config, stamps, pssi;
    config.Parse(kConfig);
    stamps.Parse(kStamps);
    pssi.Parse(kPssi);
    ASSERT_FALSE(config.Error() || stamps.Error() || pssi.Error());

    std::map<std::string, const TiXmlNode*> base;
    base["config"] = config.RootElement();
    base["stamps"] = stamps.RootElement();
    base["root"] = pssi.RootElement();
    base["patient"] = child(pssi.RootElement(), "Patient");
    base["study"] = child(base["patient"], "Study");
    base["series"] = child(base["study"], "Series");
    base["image"] = child(base["series"], "Image");
    base["voi"] = child(base["image"], "Tag", "0x3010");
    base["voiitem"] = child(base["voi"], "Tag");
    base["modality"] = child(base["image"], "Tag", "0x3000");

    struct row {
        const char* base;
        const char* expr;
        unsigned count;
    } rows[] = {
        {"config", "/root/configuration/language", 1},
        {"config", "/root/configuration/maxlayout", 1},
        {"config", "/root/configuration/hangmode", 1},
        {"config", "/root/configuration/workingmode", 1},
        {"config", "/root/configuration/workingtool", 1},
        {"config", "/root/configuration/anntool", 1},
        {"config", "/root/configuration/selectmode", 1},
        {"config", "/root/configuration/retrytimes", 1},
        {"config", "/root/configuration/packetsize", 1},
        {"config", "/root/resource/Zoom", 1},
        {"config", "/root/resource/Missing", 0},
        {"config", "/root/menu/item", 3},
        {"stamps", "/root/stamps/item", 2},
        {"image", "Image/ObjectFile", 1},
        {"image", "Image/InstanceUID", 1},
        {"image", "//Tag[@group='0x0028' and @element='0x0004']", 1},
        // Missing on the image: the series supplies it through the "//" scope.
        {"image", "//Tag[@group='0x0028' and @element='0x1053']", 1},
        {"series", "//Tag[@group='0x0008' and @element='0x0060']", 1},
        {"image", "Image/Tag[@group='0x0011' and @element='0x101B']", 1},
        {"image", "Image/Tag[@group='0x0011'and @element='0x101D']", 1},
        {"image", "Image/Tag[@group='0x0028' and @element='0x1050']", 1},
        {"image", "Image/Tag[@group='0x0028' and @element='0x1051']", 1},
        {"image", "Image/Tag[@group='0x0028'and @element='0x0030']", 1},
        {"image", "Image/Tag[@group='0x0028' and @element='0x3000']", 1},
        {"image", "Image/Tag[@group='0x0028' and @element='0x3010']", 1},
        {"voi", "Image/Tag/Tag[@group='0xFFFE' and @element='0xE000']", 2},
        {"voiitem", "Tag/Tag[@group='0x0028' and @element='0x3002']", 1},
        // On the modality sequence the "//" scope reaches the VOI items too.
        {"modality", "//Tag[@group='0x0028' and @element='0x3002']", 3},
        {"image", "Image/Tag[@group='0x0008'and @element='0x0020']", 0},
        {"series", "Series/Tag[@group='0x0008'and @element='0x0020']", 0},
        {"study", "Study/Tag[@group='0x0008'and @element='0x0020']", 1},
        {"patient", "Patient/Tag[@group='0x0010'and @element='0x0010']", 1},
        {"root", "/Root/overlay", 1},
        {"root", "/Root/overlay/modality", 2},
        {"root", "/Root/overlay/modality[@name='CT']", 1},
        {"root", "/Root/overlay/modality[@name='CT']/Tag", 2},
        {"root", "/Root/overlay/modality[@name='US']/Tag", 0},
        {"root", "/Root/Patient", 1},
        {"root", "//Patient", 1},
        {"root", "//Study", 1},
        {"root", "//Series", 1},
        {"root", "//Image", 2},
        {"root", "//Patient[@hanging='True']", 1},
        {"root", "//Image[@hanging='True']", 1},
        {"root", "//Image[@hanging]", 2},
        {"patient", "//Study[@hanging]", 1},
        {"study", "//Series[@hanging]", 1},
        {"series", "//Image[@hanging]", 2},
    };
    for (const row& r : rows) {
        ASSERT_NE(base[r.base], nullptr) << r.base;
        xpath_processor p(base[r.base], r.expr);
        EXPECT_EQ(p.compute_node_set_count(), r.count) << r.expr;
        EXPECT_EQ(p.error(), state_ok) << r.expr;
    }

    const TiXmlNode* file = first_xpath_node(base["image"], "Image/ObjectFile");
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->FirstChild()->Value(), "a.jp2");
    const TiXmlNode* slope = first_xpath_node(base["image"], "//Tag[@group='0x0028' and @element='0x1053']");
    ASSERT_NE(slope, nullptr);
    EXPECT_STREQ(slope->FirstChild()->Value(), "1.5");
}

} // namespace
