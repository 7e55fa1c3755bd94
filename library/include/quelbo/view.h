// View: the base of every view, with its origin record and extensions.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/export.h"
#include "quelbo/extension.h"
#include "quelbo/lazy_shared.h"

namespace quelbo {

// Base of every view (image, level-of-detail, multi-image, data frame).
//
// Every view carries its view origin record (ViewOriginRecord, see
// extension.h) from construction: the default constructor records an
// UNKNOWN data origin, no parent and the display name "View"; views of a
// known kind pass their own description to the protected constructor.
// viewOrigin() is never empty. A view without parents makes its record when
// first asked for it (its uid is drawn then), so that a view nobody asks
// about costs no record.
class QUELBO_API View
{
public:
    View();
    virtual ~View();

    View(View const&) = delete;
    View& operator=(View const&) = delete;

    // The extension of the given identifier, empty when the view does not
    // offer that kind. The base offers the view origin (identifier 3).
    virtual std::shared_ptr<Extension> extension(size_t id);

    // Shortcut to the view origin extension.
    std::shared_ptr<ViewOriginExtension> viewOrigin();

protected:
    View(ViewDataOrigin origin, std::string displayName,
         std::vector<std::shared_ptr<ViewOriginExtension>> parents = {});

private:
    friend class DependencyGraph;

    // What the record is made of, until it is made.
    ViewDataOrigin m_dataOrigin;
    std::string m_displayName;
    std::vector<std::shared_ptr<ViewOriginExtension>> m_parents;
    bool m_foreign = false; // DependencyGraph::recordForeignMemory, before the record is made
    LazyShared<ViewOriginExtension> m_origin;
};

} // namespace quelbo
