#include "xpath/node_set.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace XPath {

bool name_matches(const char* test, const char* name)
{
    if (!test || (test[0] == '*' && test[1] == '\0'))
        return true;
    // One pass: a test ending in ":*" matches once everything before the star did.
    for (size_t i = 0;; ++i) {
        const char t = test[i];
        if (t == '*' && test[i + 1] == '\0' && i > 0 && test[i - 1] == ':')
            return true;
        if (t != name[i])
            return false;
        if (t == '\0')
            return true;
    }
}

const TiXmlNode* node_set::node(uint32_t i) const
{
    return entries_[i].attribute ? nullptr : static_cast<const TiXmlNode*>(entries_[i].pointer);
}

const TiXmlAttribute* node_set::attribute(uint32_t i) const
{
    return entries_[i].attribute ? static_cast<const TiXmlAttribute*>(entries_[i].pointer) : nullptr;
}

bool node_set::contains(const void* p) const
{
    if (entries_.size() <= kHashFrom) {
        for (const item& e : entries_)
            if (e.pointer == p)
                return true;
        return false;
    }
    if (index_.size() != entries_.size()) {
        index_.clear();
        index_.reserve(entries_.size() * 2);
        for (const item& e : entries_)
            index_.insert(e.pointer);
    }
    return index_.count(p) != 0;
}

void node_set::add(const void* p, bool attribute)
{
    if (!p || contains(p))
        return;
    const bool indexed = entries_.size() > kHashFrom && index_.size() == entries_.size();
    entries_.push_back(item{p, attribute});
    if (indexed)
        index_.insert(p);
}

void node_set::clear()
{
    entries_.clear();
    index_.clear();
}

void node_set::add_children(const TiXmlNode* node, const char* name)
{
    if (!node)
        return;
    for (const TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement())
        if (name_matches(name, e->Value()))
            add(e);
}

void node_set::add_descendants(const TiXmlNode* node, const char* name)
{
    if (!node)
        return;
    // Depth first without recursion, so deep documents cannot exhaust the stack.
    std::vector<const TiXmlElement*> pending;
    for (const TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement())
        pending.push_back(e);
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        const TiXmlElement* e = pending.back();
        pending.pop_back();
        if (name_matches(name, e->Value()))
            add(e);
        const size_t mark = pending.size();
        for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
            pending.push_back(c);
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
    }
}

void node_set::add_subtree(const TiXmlNode* node, const char* name)
{
    if (!node)
        return;
    std::vector<const TiXmlNode*> pending{node};
    while (!pending.empty()) {
        const TiXmlNode* n = pending.back();
        pending.pop_back();
        if (!name || std::strcmp(n->Value(), name) == 0)
            add(n);
        if (const TiXmlElement* e = n->ToElement())
            for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
                add(a);
        // The first child of any kind, then only the elements that follow it.
        const TiXmlNode* first = n->FirstChild();
        if (!first)
            continue;
        const size_t mark = pending.size();
        pending.push_back(first);
        for (const TiXmlElement* s = first->NextSiblingElement(); s; s = s->NextSiblingElement())
            pending.push_back(s);
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
    }
}

void node_set::add_self_and_subtree(const TiXmlNode* node, const TiXmlNode* element)
{
    add(node);
    add_subtree(element, nullptr);
}

void node_set::add_following(const TiXmlNode* node, const char* name_test)
{
    for (const TiXmlNode* n = node; n;) {
        for (const TiXmlElement* s = n->NextSiblingElement(); s; s = s->NextSiblingElement()) {
            if (name_matches(name_test, s->Value()))
                add(s);
            add_children(s, name_test);
        }
        n = n->Parent();
        if (n && !n->ToElement())
            break;
    }
}

void node_set::add_preceding(const TiXmlNode* node, const char* name_test)
{
    if (!node)
        return;
    for (const TiXmlNode* p = node->PreviousSibling(); p; p = p->PreviousSibling()) {
        const TiXmlElement* e = p->ToElement();
        if (!e)
            continue;
        if (name_matches(name_test, e->Value()))
            add(e);
        add_children(e, name_test);
    }
}

std::string node_set::string_value(uint32_t i) const
{
    if (entries_[i].attribute)
        return static_cast<const TiXmlAttribute*>(entries_[i].pointer)->ValueStr();
    return static_cast<const TiXmlNode*>(entries_[i].pointer)->ValueStr();
}

void node_set::sort_document_order(const TiXmlNode* base)
{
    if (entries_.size() < 2)
        return;
    constexpr size_t kUnmet = std::numeric_limits<size_t>::max();
    std::unordered_map<const void*, size_t> rank;
    rank.reserve(entries_.size() * 2);
    for (const item& e : entries_)
        rank.emplace(e.pointer, kUnmet);
    // One walk from the base gives every met entry its position.
    size_t position = 0, met = 0;
    auto visit = [&](const void* p) {
        auto it = rank.find(p);
        if (it != rank.end() && it->second == kUnmet) {
            it->second = position;
            ++met;
        }
        ++position;
    };
    for (const TiXmlNode* n = base; n && met < entries_.size();) {
        visit(n);
        if (const TiXmlElement* e = n->ToElement())
            for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
                visit(a);
        if (n->FirstChild()) {
            n = n->FirstChild();
            continue;
        }
        while (n && n != base && !n->NextSibling())
            n = n->Parent();
        if (!n || n == base)
            break;
        n = n->NextSibling();
    }
    std::vector<size_t> ranks(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i)
        ranks[i] = rank.find(entries_[i].pointer)->second;
    std::vector<size_t> order(entries_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return ranks[a] < ranks[b]; });
    std::vector<item> sorted;
    sorted.reserve(entries_.size());
    for (size_t i : order)
        sorted.push_back(entries_[i]);
    entries_.swap(sorted);
}

} // namespace XPath
