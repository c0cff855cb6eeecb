// Hanging marks, level lookups by index or UID, and study insertion. Searches walk the
// base's own subtree: a search from one series or patient never reaches its neighbours.
#include "R2IVuzi/PssiXmlDao.h"

#include <tinyxml.h>

#include <cstring>
#include <memory>

namespace {

bool isHung(const TiXmlElement* e)
{
    const char* value = e->Attribute("hanging");
    return value && std::strcmp(value, "True") == 0;
}

// Pre-order successor of e among the elements of base's subtree, or null past its end.
const TiXmlElement* nextElementInSubtree(const TiXmlElement* e, const TiXmlNode* base)
{
    if (const TiXmlElement* child = e->FirstChildElement())
        return child;
    for (const TiXmlNode* n = e; n && n != base; n = n->Parent())
        if (const TiXmlElement* sibling = n->NextSiblingElement())
            return sibling;
    return nullptr;
}

const char* firstChildText(const TiXmlNode* n)
{
    const TiXmlNode* uidElement = n->FirstChild();
    const TiXmlNode* text = uidElement ? uidElement->FirstChild() : nullptr;
    return text ? text->Value() : nullptr;
}

bool isLevelBelow(const char* name, int level)
{
    for (int k = 0; k < level && k <= 5; ++k)
        if (CPssiXmlDao::getLevelName(k) == name)
            return true;
    return false;
}

} // namespace

std::vector<TiXmlNode*> CPssiXmlDao::descendants(const TiXmlNode* base, const std::string& name, bool hangingOnly,
    size_t limit)
{
    std::vector<TiXmlNode*> out;
    if (!base || name.empty())
        return out;
    const char* wanted = name.c_str();
    for (const TiXmlElement* e = base->FirstChildElement(); e && out.size() < limit;
         e = nextElementInSubtree(e, base)) {
        if (std::strcmp(e->Value(), wanted) == 0 && (!hangingOnly || isHung(e)))
            out.push_back(editable(e));
    }
    return out;
}

int CPssiXmlDao::getHangingCount(const TiXmlNode* root, int level) const
{
    // Callers divide by this count: a missing root counts as one.
    if (!root)
        return 1;
    Lock lock(*this);
    return static_cast<int>(descendants(root, getLevelName(level), true).size());
}

std::vector<TiXmlNode*> CPssiXmlDao::getHangingNodeList(const TiXmlNode* root, int level) const
{
    Lock lock(*this);
    return descendants(root, getLevelName(level), true);
}

TiXmlNode* CPssiXmlDao::getLevelNode(const TiXmlNode* root, int level, int index, bool hangingOnly) const
{
    if (index < 0)
        return nullptr;
    Lock lock(*this);
    const std::vector<TiXmlNode*> nodes =
        descendants(root, getLevelName(level), hangingOnly, static_cast<size_t>(index) + 1);
    return getNodeAt(nodes, static_cast<size_t>(index));
}

TiXmlNode* CPssiXmlDao::findNodeByUID(const TiXmlNode* root, const char* expression, const std::string& uid) const
{
    if (!root || !expression || std::strncmp(expression, "//", 2) != 0)
        return nullptr;
    Lock lock(*this);
    for (TiXmlNode* n : descendants(root, expression + 2, false)) {
        const char* text = firstChildText(n);
        if (text && uid == text)
            return n;
    }
    return nullptr;
}

void CPssiXmlDao::setHangingDownward(TiXmlNode* node, int level, const std::string& value)
{
    TiXmlElement* element = node ? node->ToElement() : nullptr;
    if (!element)
        return;
    Lock lock(*this);
    if (level != 5)
        element->SetAttribute("hanging", value);
    // Only elements that already take part in hanging are marked.
    for (const TiXmlElement* e = node->FirstChildElement(); e; e = nextElementInSubtree(e, node)) {
        if (e->Attribute("hanging") && isLevelBelow(e->Value(), level))
            editable(e)->ToElement()->SetAttribute("hanging", value);
    }
}

void CPssiXmlDao::setHangingUpward(TiXmlNode* node, int level, const std::string& value)
{
    Lock lock(*this);
    // "Root", and whatever lies above it, is never marked.
    for (; level != 5 && node && node->ToElement(); ++level, node = node->Parent())
        node->ToElement()->SetAttribute("hanging", value);
}

void CPssiXmlDao::insertStudy(const std::string& parentPatientUID, const std::string& oldUnclePatientUID,
    const std::string& studyUID, const char* studyXml)
{
    if (!studyXml)
        return;
    Lock lock(*this);
    TiXmlElement* root = getRootElement();
    if (!root)
        return;
    auto fragment = std::make_unique<TiXmlDocument>("patient.xml");
    parseXmlText(*fragment, studyXml);
    // The fragment's first Patient, also when it is the fragment's document element.
    const TiXmlNode* fragmentPatient = getNodeAt(descendants(fragment.get(), "Patient", false, 1), 0);
    if (!fragmentPatient)
        return;

    if (TiXmlNode* patient = findNodeByUID(root, "//Patient", parentPatientUID)) {
        const TiXmlNode* study = getLevelNode(fragmentPatient, 3, 0, false);
        if (!study)
            return;
        // A place that is not a child of the patient would lose the study: append it then.
        TiXmlNode* sibling = findNodeByUID(patient, "//Study", studyUID);
        TiXmlNode* first = getLevelNode(patient, 3, 0, false);
        if (sibling && sibling->Parent() == patient)
            patient->InsertAfterChild(sibling, *study);
        else if (first && first->Parent() == patient)
            patient->InsertBeforeChild(first, *study);
        else
            patient->InsertEndChild(*study);
        return;
    }

    TiXmlNode* uncle = findNodeByUID(root, "//Patient", oldUnclePatientUID);
    TiXmlNode* first = getLevelNode(root, 4, 0, false);
    if (uncle && uncle->Parent() == root)
        root->InsertAfterChild(uncle, *fragmentPatient);
    else if (first && first->Parent() == root)
        root->InsertBeforeChild(first, *fragmentPatient);
    else
        root->InsertEndChild(*fragmentPatient);
}
