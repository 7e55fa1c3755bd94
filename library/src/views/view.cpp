#include "quelbo/view.h"

#include <utility>

namespace quelbo {

View::View() : View(ViewDataOrigin::UNKNOWN, "View") {}

View::View(ViewDataOrigin origin, std::string displayName, std::vector<std::shared_ptr<ViewOriginExtension>> parents)
    : m_origin(std::make_shared<ViewOriginRecord>(origin, std::move(displayName), std::move(parents)))
{}

View::~View() = default;

std::shared_ptr<Extension> View::extension(size_t id)
{
    if (id == ViewOriginExtension::EXTENSION_ID)
        return m_origin;
    return nullptr;
}

std::shared_ptr<ViewOriginExtension> View::viewOrigin()
{
    return m_origin;
}

} // namespace quelbo
