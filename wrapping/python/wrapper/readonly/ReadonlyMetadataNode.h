// A read-only view of a metadata node: its getters, child lookup and a walk
// over its children with const iterators, nothing that changes it. The
// wrapper is one shared owner of its node.
#pragma once

#include <memory>
#include <string>

#include "quelbo/metadata.h"
#include "runtime/type_text.h"

namespace quelbo {

class ReadonlyMetadataNode
{
public:
    // An empty pointer gives a wrapper of no node, refused where it is used.
    explicit ReadonlyMetadataNode(std::shared_ptr<const MetadataNode> node) : m_private(std::move(node)) {}

    std::shared_ptr<const MetadataNode> pointer() const { return m_private; }

    // Callers check pointer() first.
    std::shared_ptr<MetadataNode> clone() const { return m_private->clone(); }
    std::string const& get_key() const { return m_private->key(); }
    std::shared_ptr<VariantDataValue> get_value() const { return m_private->value(); }
    size_t get_child_count() const { return m_private->childCount(); }
    bool has_child(std::string const& key) const { return m_private->hasChild(key); }
    ReadonlyMetadataNode child(std::string const& key) const { return ReadonlyMetadataNode(m_private->child(key)); }
    ConstMetadataNodeIterator begin() const { return m_private->cbegin(); }
    ConstMetadataNodeIterator end() const { return m_private->cend(); }
    std::string to_string() const { return m_private->toString(); }

    std::shared_ptr<const MetadataNode> m_private;
};

} // namespace quelbo

namespace qw {
QW_NATIVE(quelbo::ReadonlyMetadataNode);
} // namespace qw
