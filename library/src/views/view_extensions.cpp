// The tile transfers' buffer checks, and an image view's default extensions.
#include <string>

#include "quelbo/error.h"
#include "quelbo/extension.h"

namespace quelbo {

namespace {

void checkTileBuffer(TilingInfoExtension const& tiling, size_t tileIndex, size_t size)
{
    size_t const needed = tiling.tileByteCount(tileIndex);
    if (size < needed)
        throw InvalidArgument("TilingInfoExtension: tile " + std::to_string(tileIndex) + " needs a buffer of " +
                              std::to_string(needed) + " bytes, got " + std::to_string(size));
}

} // namespace

void TilingInfoExtension::readTile(size_t tileIndex, void* dst, size_t dstSize)
{
    checkTileBuffer(*this, tileIndex, dstSize);
    readTile(tileIndex, dst);
}

void TilingInfoExtension::writeTile(size_t tileIndex, const void* src, size_t srcSize)
{
    checkTileBuffer(*this, tileIndex, srcSize);
    writeTile(tileIndex, src);
}

} // namespace quelbo

#include "quelbo/image_view.h"
#include "views/view_parts.h"

namespace quelbo {

std::shared_ptr<Extension> ImageView::extension(size_t id)
{
    if (id == ParallelAccessExtension::EXTENSION_ID)
        return std::make_shared<detail::FixedParallelAccess>(parallelCapabilities());
    return View::extension(id);
}

ParallelAccessCapabilitySet ImageView::parallelCapabilities()
{
    if (!support(ImageCapability::MEMORY_ACCESS))
        return ParallelAccessCapabilitySet();
    return ParallelAccessCapabilitySet(uint64_t(ParallelAccessCapability::PARALLEL_READ) |
                                       uint64_t(ParallelAccessCapability::PARALLEL_WRITE));
}

} // namespace quelbo
