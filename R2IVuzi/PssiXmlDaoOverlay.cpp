// The overlay configuration: which DICOM tags a grid writes over each modality's
// images, in which font. Values from the documents are compared here rather than pasted
// into expression literals, where an apostrophe would change the expression.
#include "R2IVuzi/PssiXmlDao.h"

#include "R2IVuzi/DicomTags.h"

#include "xpath/xpath_processor.h"

#include <boost/lexical_cast.hpp>
#include <tinyxml.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char* textOf(const TiXmlNode* n)
{
    const TiXmlNode* text = n ? n->FirstChild() : nullptr;
    return text ? text->Value() : nullptr;
}

bool attributeIs(const TiXmlNode* node, const char* name, const std::string& value)
{
    const TiXmlElement* e = node ? node->ToElement() : nullptr;
    const char* actual = e ? e->Attribute(name) : nullptr;
    return actual && value == actual;
}

std::string attributeOf(const TiXmlNode* node, const char* name)
{
    const TiXmlElement* e = node ? node->ToElement() : nullptr;
    const char* value = e ? e->Attribute(name) : nullptr;
    return value ? value : std::string();
}

std::vector<const TiXmlNode*> selectAll(const TiXmlNode* base, const char* expression)
{
    std::vector<const TiXmlNode*> nodes;
    if (!base)
        return nodes;
    XPath::xpath_processor p(base, expression);
    const unsigned count = p.compute_node_set_count();
    for (unsigned k = 0; k < count; ++k)
        if (const TiXmlNode* n = p.get_xpath_node(k))
            nodes.push_back(n);
    return nodes;
}

const TiXmlNode* modalityNamed(const TiXmlNode* root, const std::string& name)
{
    for (const TiXmlNode* m : selectAll(root, "/Root/overlay/modality"))
        if (attributeIs(m, "name", name))
            return m;
    return nullptr;
}

// The level's first Tag child with the given group and element, or null.
const TiXmlElement* levelTag(const TiXmlNode* level, const OverlayTagInfo& tag)
{
    for (const TiXmlElement* t = level->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
        if (attributeIs(t, "group", tag.group) && attributeIs(t, "element", tag.element))
            return t;
    return nullptr;
}

} // namespace

std::vector<TiXmlNode*> CPssiXmlDao::getOverlayTags(const TiXmlNode* image) const
{
    std::vector<TiXmlNode*> tags;
    if (!image)
        return tags;
    Lock lock(*this);
    // The modality of the image's own series: a series without one must not borrow a
    // neighbour's.
    const OverlayTagInfo modalityTag{dicom::Modality.group, dicom::Modality.element, ""};
    const TiXmlNode* series = image->Parent();
    const TiXmlNode* found = series && series->ToElement() ? levelTag(series, modalityTag) : nullptr;
    for (const TiXmlNode* t : found ? std::vector<TiXmlNode*>() : descendants(series, "Tag", false))
        if (!found && attributeIs(t, "group", dicom::Modality.group) && attributeIs(t, "element", dicom::Modality.element))
            found = t;
    const char* text = textOf(found);
    const std::string modality = text ? text : "";
    if (modality.empty())
        return tags;
    for (const TiXmlNode* m : selectAll(getRootElement(), "/Root/overlay/modality")) {
        if (!attributeIs(m, "name", modality))
            continue;
        for (const TiXmlElement* t = m->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
            tags.push_back(editable(t));
    }
    return tags;
}

OverlayTagInfo CPssiXmlDao::getTagAttributes(const TiXmlNode* overlayTag) const
{
    Lock lock(*this);
    return OverlayTagInfo{attributeOf(overlayTag, "group"), attributeOf(overlayTag, "element"),
        attributeOf(overlayTag, "vr")};
}

std::u16string CPssiXmlDao::getTagValueByLevel(const TiXmlNode* image, const OverlayTagInfo& tag) const
{
    Lock lock(*this);
    // Image, series, study, patient: the nearest level holding the tag wins.
    const TiXmlElement* t = nearestTag(image, tag.group, tag.element);
    return t ? utf8ToWide(textOf(t)) : std::u16string();
}

int CPssiXmlDao::getIntByName(const TiXmlNode* node, const std::string& name) const
{
    Lock lock(*this);
    const char* text = textOf(getNodeAt(descendants(node, name, false, 1), 0));
    if (!text)
        return 0;
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::u16string CPssiXmlDao::getWideTextByName(const TiXmlNode* node, const std::string& name) const
{
    Lock lock(*this);
    return utf8ToWide(textOf(getNodeAt(descendants(node, name, false, 1), 0)));
}

OverlayFontInfo CPssiXmlDao::getOverlayFont() const
{
    Lock lock(*this);
    OverlayFontInfo font{"Arial", 2.0f};
    const std::vector<const TiXmlNode*> overlays = selectAll(getRootElement(), "/Root/overlay");
    if (overlays.size() != 1)
        return font;
    const TiXmlElement* overlay = overlays.front()->ToElement();
    if (const char* size = overlay->Attribute("fontsize"))
        font.size = boost::lexical_cast<float>(size);
    if (const char* face = overlay->Attribute("font"))
        font.faceName = face;
    return font;
}

void CPssiXmlDao::updateOverlayConfig(const char* overlayText)
{
    if (!overlayText)
        return;
    Lock lock(*this);
    TiXmlElement* root = getRootElement();
    if (!root)
        return;
    auto overlayDoc = std::make_unique<TiXmlDocument>("overlay.xml");
    parseXmlText(*overlayDoc, overlayText);
    for (const TiXmlNode* m : selectAll(overlayDoc->FirstChildElement(), "/Root/overlay/modality")) {
        const char* name = m->ToElement() ? m->ToElement()->Attribute("name") : nullptr;
        if (!name || modalityNamed(root, name))
            continue;
        if (const TiXmlNode* overlay = XPath::first_xpath_node(root, "/Root/overlay")) {
            editable(overlay)->InsertEndChild(*m);
            continue;
        }
        // No overlay yet: the whole overlay goes in, with every modality of this document.
        TiXmlNode* firstPatient = editable(XPath::first_xpath_node(root, "/Root/Patient"));
        if (firstPatient && firstPatient->Parent() == root)
            root->InsertBeforeChild(firstPatient, *m->Parent());
        else
            root->InsertEndChild(*m->Parent());
        break;
    }
}
