// Level-of-detail views, and the one made of one view per level.
#include "quelbo/lod_image_view.h"

#include <utility>

#include "quelbo/error.h"

namespace quelbo {

LodImageView::LodImageView(ViewDataOrigin origin, std::string displayName,
                           std::vector<std::shared_ptr<ViewOriginExtension>> parents)
    : View(origin, std::move(displayName), std::move(parents))
{}

LodImageView::~LodImageView() = default;

std::string LodImageView::toString() const
{
    Vector2i64 const range = const_cast<LodImageView*>(this)->levelRange();
    return "LodImageView(levels: " + std::to_string(range[0]) + " to " + std::to_string(range[1]) + ")";
}

namespace {

std::vector<std::shared_ptr<ViewOriginExtension>> originsOf(std::vector<std::shared_ptr<ImageView>> const& levels)
{
    std::vector<std::shared_ptr<ViewOriginExtension>> origins;
    for (auto const& level : levels) {
        if (!level)
            throw InvalidArgument("LodImageView: a level is empty");
        origins.push_back(level->viewOrigin());
    }
    return origins;
}

} // namespace

LevelsImageView::LevelsImageView(std::vector<std::shared_ptr<ImageView>> levels, int64_t firstLevel)
    : LodImageView(ViewDataOrigin::COMPOSITE, "LodImageView", originsOf(levels)), m_levels(std::move(levels))
{
    int64_t const count = int64_t(m_levels.size());
    if (firstLevel > 0 || count == 0)
        throw InvalidArgument("LodImageView: the levels must include level 0");
    int64_t const last = firstLevel + count - 1;
    if (last < 0)
        throw InvalidArgument("LodImageView: the levels must include level 0");
    m_range[0] = firstLevel;
    m_range[1] = last;
}

std::shared_ptr<ImageView> LevelsImageView::resolution(int64_t level)
{
    if (level < m_range[0] || level > m_range[1])
        throw InvalidArgument("LodImageView: level " + std::to_string(level) + " is outside " +
                              std::to_string(m_range[0]) + " to " + std::to_string(m_range[1]));
    return m_levels[size_t(level - m_range[0])];
}

} // namespace quelbo
