// The View base: its origin record and extensions.
#include "quelbo/view.h"

#include <utility>

#include "quelbo/dependency_graph.h"

namespace quelbo {

View::View() : View(ViewDataOrigin::UNKNOWN, "View") {}

// Parents are checked by the record, which is then made at once.
View::View(ViewDataOrigin origin, std::string displayName, std::vector<std::shared_ptr<ViewOriginExtension>> parents)
    : m_dataOrigin(origin), m_displayName(std::move(displayName)), m_parents(std::move(parents))
{
    if (!m_parents.empty())
        viewOrigin();
}

View::~View() = default;

std::shared_ptr<Extension> View::extension(size_t id)
{
    if (id == ViewOriginExtension::EXTENSION_ID)
        return viewOrigin();
    return nullptr;
}

std::shared_ptr<ViewOriginExtension> View::viewOrigin()
{
    return m_origin.get([this] {
        auto record = std::make_shared<ViewOriginRecord>(m_dataOrigin, std::move(m_displayName), std::move(m_parents));
        if (m_foreign)
            DependencyGraph::recordForeignMemory(record);
        return record;
    });
}

} // namespace quelbo
