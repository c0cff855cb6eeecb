#pragma once
// An ordered set of TinyXML nodes and attributes, each entry flagged as attribute or
// tree node. Membership is hashed once the set grows, so large "//" sets stay linear.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

class TiXmlNode;
class TiXmlAttribute;

namespace XPath {

// "*" (or no test) matches every name, "p:*" every name beginning with "p:", any
// other test the name byte for byte.
bool name_matches(const char* test, const char* name);

class node_set {
public:
    node_set() = default;
    node_set(const node_set& other) : entries_(other.entries_) {}
    node_set& operator=(const node_set& other)
    {
        if (this != &other) {
            entries_ = other.entries_;
            index_.clear();
        }
        return *this;
    }
    node_set(node_set&&) = default;
    node_set& operator=(node_set&&) = default;

    uint32_t count() const { return static_cast<uint32_t>(entries_.size()); }
    const void* entry(uint32_t i) const { return entries_[i].pointer; }
    bool is_attribute(uint32_t i) const { return entries_[i].attribute; }
    // Tree node at i, or null for an attribute.
    const TiXmlNode* node(uint32_t i) const;
    const TiXmlAttribute* attribute(uint32_t i) const;

    bool contains(const void* p) const;
    void add(const void* p, bool attribute);
    void add(const TiXmlNode* n) { add(n, false); }
    void add(const TiXmlAttribute* a) { add(a, true); }
    void clear();

    // Child elements with the given name (all when name is null).
    void add_children(const TiXmlNode* node, const char* name);
    // Descendant elements, depth first, each before its own children.
    void add_descendants(const TiXmlNode* node, const char* name);
    // The node, its attributes, then the subtrees of its first child and of that
    // child's following sibling elements.
    void add_subtree(const TiXmlNode* node, const char* name);
    void add_self_and_subtree(const TiXmlNode* node, const TiXmlNode* element);
    void add_following(const TiXmlNode* node, const char* name_test);
    void add_preceding(const TiXmlNode* node, const char* name_test);

    // An attribute's value, or a node's TinyXML value (an element's name).
    std::string string_value(uint32_t i) const;

    // Orders the entries by a walk from base (node, attributes, children); entries the
    // walk never meets keep their relative order after the met ones.
    void sort_document_order(const TiXmlNode* base);

private:
    static constexpr size_t kHashFrom = 16;
    struct item {
        const void* pointer;
        bool attribute;
    };
    std::vector<item> entries_;
    // Mirrors entries_ once the set is larger than kHashFrom; rebuilt on demand.
    mutable std::unordered_set<const void*> index_;
};

} // namespace XPath
