// Readers of the configuration and stamp documents. They run on the window thread only
// and take no lock.
#include "R2IVuzi/PssiXmlDao.h"

#include "annotation/CurrentStamp.h"
#include "diagnostics/Logging.h"
#include "xpath/xpath_processor.h"

#include <boost/lexical_cast.hpp>
#include <tinyxml.h>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\PssiXmlDao")

namespace {

// The text of the first element the expression selects, or null when it selects nothing
// or the element has no text.
const char* selectedText(const TiXmlNode* base, const char* expression)
{
    const TiXmlNode* n = XPath::first_xpath_node(base, expression);
    const TiXmlNode* text = n ? n->FirstChild() : nullptr;
    return text ? text->Value() : nullptr;
}

std::optional<int> optionalInt(const TiXmlNode* base, const char* expression)
{
    const char* text = selectedText(base, expression);
    if (!text)
        return std::nullopt;
    return boost::lexical_cast<int>(text);
}

int intWithDefault(const TiXmlNode* base, const char* expression, int fallback)
{
    const char* text = selectedText(base, expression);
    return text ? boost::lexical_cast<int>(text) : fallback;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Two hexadecimal digits per byte; an odd trailing digit is ignored. False on any other pair.
bool decodeHex(const std::string& text, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            bytes.clear();
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

} // namespace

const TiXmlElement* CPssiXmlDao::configRoot() const
{
    return config_ ? config_->FirstChildElement() : nullptr;
}

std::optional<std::string> CPssiXmlDao::getLanguage() const
{
    const char* text = selectedText(configRoot(), "/root/configuration/language");
    if (!text)
        return std::nullopt;
    return std::string(text);
}

std::optional<int> CPssiXmlDao::getMaxLayout() const
{
    return optionalInt(configRoot(), "/root/configuration/maxlayout");
}

std::optional<int> CPssiXmlDao::getWorkingMode() const
{
    return optionalInt(configRoot(), "/root/configuration/workingmode");
}

std::optional<int> CPssiXmlDao::getHangMode() const
{
    return optionalInt(configRoot(), "/root/configuration/hangmode");
}

std::optional<int> CPssiXmlDao::getWorkingTool() const
{
    return optionalInt(configRoot(), "/root/configuration/workingtool");
}

std::optional<int> CPssiXmlDao::getAnnTool() const
{
    return optionalInt(configRoot(), "/root/configuration/anntool");
}

std::optional<int> CPssiXmlDao::getSelectMode() const
{
    return optionalInt(configRoot(), "/root/configuration/selectmode");
}

int CPssiXmlDao::getRetryTimes() const
{
    return intWithDefault(configRoot(), "/root/configuration/retrytimes", 5);
}

int CPssiXmlDao::getPacketSize() const
{
    return intWithDefault(configRoot(), "/root/configuration/packetsize", 10240);
}

std::u16string CPssiXmlDao::getResourceText(const std::string& key) const
{
    return findResourceText(key).value_or(u"Raw Value");
}

std::optional<std::u16string> CPssiXmlDao::findResourceText(const std::string& key) const
{
    const std::string expression = "/root/resource/" + key;
    const char* text = selectedText(configRoot(), expression.c_str());
    if (!text)
        return std::nullopt;
    return utf8ToWide(text);
}

std::map<int, MenuItemInfo> CPssiXmlDao::getMenuItems() const
{
    std::map<int, MenuItemInfo> items;
    XPath::xpath_processor p(configRoot(), "/root/menu/item");
    const unsigned count = p.compute_node_set_count();
    for (unsigned i = 0; i < count; ++i) {
        const TiXmlNode* n = p.get_xpath_node(i);
        const TiXmlElement* e = n ? n->ToElement() : nullptr;
        const char* id = e ? e->Attribute("id") : nullptr;
        if (!id)
            continue; // the later items keep their position keys
        MenuItemInfo info;
        info.id = boost::lexical_cast<int>(id);
        info.text = utf8ToWide(e->Attribute("text"));
        if (const char* hotkey = e->Attribute("hotkey"))
            info.hotkey = hotkey;
        items[static_cast<int>(i)] = info;
    }
    return items;
}

std::map<int, std::u16string> CPssiXmlDao::getStampNames(int firstCommand) const
{
    std::map<int, std::u16string> names;
    XPath::xpath_processor p(stamp_ ? stamp_->FirstChildElement() : nullptr, "/root/stamps/item");
    const unsigned count = p.compute_node_set_count();
    for (unsigned k = 0; k < count; ++k) {
        const TiXmlNode* n = p.get_xpath_node(k);
        const TiXmlElement* e = n ? n->ToElement() : nullptr;
        if (const char* name = e ? e->Attribute("name") : nullptr)
            names[firstCommand + 1 + static_cast<int>(k)] = utf8ToWide(name);
    }
    return names;
}

void CPssiXmlDao::loadCurrentStampData() const
{
    if (!stamp_ || currentStampName.empty())
        return;
    XPath::xpath_processor p(stamp_->FirstChildElement(), "/root/stamps/item");
    const unsigned count = p.compute_node_set_count();
    // Every matching item decodes, so the last one wins.
    for (unsigned k = 0; k < count; ++k) {
        const TiXmlNode* n = p.get_xpath_node(k);
        const TiXmlElement* e = n ? n->ToElement() : nullptr;
        const char* name = e ? e->Attribute("name") : nullptr;
        const char* data = e ? e->Attribute("data") : nullptr;
        if (!name || !data || utf8ToWide(name) != currentStampName)
            continue;
        if (!decodeHex(data, currentStampBitmap))
            ORBEL_LOG(ERROR) << "Invalid stamp data: " << name;
    }
}
