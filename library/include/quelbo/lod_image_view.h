// Level-of-detail views: one image at several resolutions.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/export.h"
#include "quelbo/image_view.h"
#include "quelbo/vector.h"
#include "quelbo/view.h"

namespace quelbo {

// One image at several levels of detail. Level 0 is the base image; a
// negative level has a higher resolution, a positive one a lower.
class QUELBO_API LodImageView : public View
{
public:
    ~LodImageView() override;

    // (high-resolution level, low-resolution level): at most 0 and at least 0.
    virtual Vector2i64 const& levelRange() = 0;
    // The image at a level; InvalidArgument outside levelRange().
    virtual std::shared_ptr<ImageView> resolution(int64_t level) = 0;

    std::string toString() const;

protected:
    LodImageView(ViewDataOrigin origin, std::string displayName,
                 std::vector<std::shared_ptr<ViewOriginExtension>> parents = {});
};

// A level-of-detail view made of one image view per level, the first of
// them at level firstLevel. InvalidArgument for an empty level, or levels
// that do not include 0.
class QUELBO_API LevelsImageView final : public LodImageView
{
public:
    LevelsImageView(std::vector<std::shared_ptr<ImageView>> levels, int64_t firstLevel);

    Vector2i64 const& levelRange() override { return m_range; }
    std::shared_ptr<ImageView> resolution(int64_t level) override;

private:
    std::vector<std::shared_ptr<ImageView>> m_levels;
    Vector2i64 m_range;
};

} // namespace quelbo
