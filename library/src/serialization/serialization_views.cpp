// Image view records: shape, properties, metadata tree and samples.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "metadata/metadata_graph.h"
#include "quelbo/data_type_traits.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/metadata.h"
#include "quelbo/serialization.h"
#include "serialization/serialization_stream.h"
#include "values/chunks.h"

namespace quelbo {

namespace {

using serial::Kind;
using serial::Reader;
using serial::Writer;

// The fewest bytes a metadata node takes: key length, value flag, child count.
constexpr uint64_t kNodeBytes = 8 + 1 + 8;

void putVector3(Writer& out, Vector3d const& v)
{
    for (std::size_t i = 0; i < 3; ++i)
        out.f64(v[i]);
}

Vector3d getVector3(Reader& in)
{
    Vector3d v;
    for (std::size_t i = 0; i < 3; ++i)
        v[i] = in.f64();
    return v;
}

// ------------------------------------------------------------- properties

void putProperties(Writer& out, ImageProperties const& p)
{
    SpatialCalibrationProperty const& c = p.calibration();
    putVector3(out, c.origin());
    putVector3(out, c.spacing());
    putVector3(out, c.directions().columnDirection());
    putVector3(out, c.directions().rowDirection());
    putVector3(out, c.directions().sliceDirection());
    out.string(c.unit());
    ImageInfoProperty const& info = p.imageInfo();
    out.u64(info.axesInterpretation().value());
    out.i32(int32_t(info.interpretation()));
    out.u8(info.hasAlpha() ? 1 : 0);
    out.u64(info.bitDepth());
    out.f64(info.valueRange()[0]);
    out.f64(info.valueRange()[1]);
}

std::shared_ptr<ImageProperties> getProperties(Reader& in)
{
    Vector3d const origin = getVector3(in);
    Vector3d const spacing = getVector3(in);
    SpatialDirections directions;
    directions.m_columnDir = getVector3(in);
    directions.m_rowDir = getVector3(in);
    directions.m_sliceDir = getVector3(in);
    std::string const unit = in.string();
    ImageType const axes(in.u64());
    auto const interpretation = ImageInterpretation(in.i32());
    uint8_t const alpha = in.u8();
    if (alpha > 1)
        serial::fail("alpha flag " + std::to_string(alpha) + " is neither 0 nor 1");
    uint64_t const bitDepth = in.u64();
    Vector2d range;
    range[0] = in.f64();
    range[1] = in.f64();
    return ImageProperties::fromProperties(SpatialCalibrationProperty(origin, spacing, directions, unit),
                                           ImageInfoProperty(axes, interpretation, alpha != 0, bitDepth, range));
}

// ----------------------------------------------------------------- metadata

bool isString(DataType t)
{
    return t.primitiveType() == PrimitiveTypeId::UNICODE_STRING;
}

// The value types a decoder can make again: the numeric scalars and UTF-8.
bool writable(DataType t)
{
    if (t.elementCount() != 1 || t.interpretation() != DataTypeInterpretation::RAW)
        return false;
    return visitElementOrText(
        t,
        [](auto tag) {
            using Tag = decltype(tag);
            return isNumericElement<Tag> || std::is_same<Tag, TextElement<uint8_t>>::value;
        },
        [] { return false; });
}

void putValue(Writer& out, VariantDataValue const& v)
{
    DataType const t = v.type();
    if (!writable(t))
        serial::fail("a metadata value of type " + t.toString() + " cannot be written");
    out.u64(t.id());
    out.u64(v.count());
    if (isString(t)) {
        auto const* strings = static_cast<char const* const*>(v.raw());
        for (std::size_t i = 0; i < v.count(); ++i) {
            std::size_t const n = std::strlen(strings[i]);
            out.u64(n);
            out.raw(strings[i], n);
        }
    } else {
        out.raw(v.raw(), checkedMultiply(v.count(), t.byteCount(), "metadata value"));
    }
}

template <class T>
std::shared_ptr<VariantDataValue> numbers(Reader& in, std::size_t count)
{
    std::vector<T> values;
    in.block(count * sizeof(T), [&] {
        values.resize(count);
        return static_cast<void*>(values.data());
    });
    return VariantDataValueFactory::create(values.data(), count);
}

std::shared_ptr<VariantDataValue> getValue(Reader& in)
{
    DataType const t(in.u64());
    if (!writable(t))
        serial::fail("metadata value type " + t.toString() + " is not one the format holds");
    std::size_t const count = std::size_t(in.count(isString(t) ? 8 : t.byteCount(), ~uint64_t(0), "value count"));
    if (isString(t)) {
        std::vector<std::string> strings;
        for (std::size_t i = 0; i < count; ++i) {
            strings.push_back(in.string());
            if (std::memchr(strings.back().data(), 0, strings.back().size()) != nullptr)
                serial::fail("a metadata string holds a NUL character");
        }
        std::vector<char const*> pointers;
        for (auto const& s : strings)
            pointers.push_back(s.c_str());
        return VariantDataValueFactory::create(pointers.data(), count);
    }
    return visitElement(
        t, [&](auto tag) { return numbers<typename decltype(tag)::type>(in, count); },
        [&] { serial::fail("metadata value type " + t.toString() + " is not one the format holds"); });
}

// The flag after a node's key: no value, a value, or a link to a node
// written before in the same tree (the node below one more parent).
constexpr uint8_t kNoValue = 0;
constexpr uint8_t kValue = 1;
constexpr uint8_t kLink = 2;

void putNode(Writer& out, MetadataNode const& node)
{
    out.string(node.key());
    std::shared_ptr<VariantDataValue> const value = node.value();
    out.u8(value ? kValue : kNoValue);
    if (value)
        putValue(out, *value);
    out.u64(node.childCount());
}

// The tree in pre-order, without recursion: trees of any depth. A node met
// again is a link to its first entry (entries counted from 0, the root's,
// links not counted), so a tree without shared nodes has no link.
void putMetadata(Writer& out, std::shared_ptr<const MetadataNode> const& root)
{
    out.u8(root ? 1 : 0);
    if (!root)
        return;
    metadata_detail::walk(
        *root, [&](MetadataNode const& node, std::size_t) { putNode(out, node); },
        [&](MetadataNode const&, std::size_t number) {
            out.string(std::string());
            out.u8(kLink);
            out.u64(number);
        },
        [](MetadataNode const&) {});
}

std::shared_ptr<MetadataNode> getMetadata(Reader& in)
{
    uint8_t const present = in.u8();
    if (present > 1)
        serial::fail("metadata flag " + std::to_string(present) + " is neither 0 nor 1");
    if (!present)
        return nullptr;
    // The nodes in the order of their entries, and whether each is still
    // open: its children are still to come, so what follows is below it
    // and a link to it would make a node its own descendant. A link to a
    // closed node makes no cycle: nothing below a closed node is open.
    std::vector<std::shared_ptr<MetadataNode>> nodes;
    std::vector<bool> open;
    // Each entry: a node's number and how many of its children are still to come.
    std::vector<std::pair<std::size_t, uint64_t>> stack;
    do {
        std::string key = in.string();
        uint8_t const flag = in.u8();
        std::shared_ptr<MetadataNode> node;
        uint64_t children = 0;
        if (flag == kLink) {
            uint64_t const number = in.u64();
            if (!key.empty())
                serial::fail("a metadata link carries the key '" + key + "'");
            if (number >= nodes.size())
                serial::fail("a metadata link to node " + std::to_string(number) + " of the " +
                             std::to_string(nodes.size()) + " before it");
            if (open[std::size_t(number)])
                serial::fail("a metadata link to node " + std::to_string(number) + " would make it its own descendant");
            node = nodes[std::size_t(number)];
        } else {
            if (flag > kValue)
                serial::fail("value flag " + std::to_string(flag) + " is not 0, 1 or 2");
            std::shared_ptr<VariantDataValue> value = flag == kValue ? getValue(in) : nullptr;
            children = in.count(kNodeBytes, ~uint64_t(0), "child count");
            node = MetadataNodeFactory::create(key, std::move(value));
        }
        if (!stack.empty()) {
            MetadataNode& parent = *nodes[stack.back().first];
            --stack.back().second;
            // a node holds one child per key: a second one would replace the first
            if (parent.hasChild(node->key()))
                serial::fail("a metadata node has two children with the key '" + node->key() + "'");
            metadata_detail::Children::of(parent).put(node);
        }
        if (flag != kLink) {
            stack.emplace_back(nodes.size(), children);
            nodes.push_back(std::move(node));
            open.push_back(true);
        }
        while (!stack.empty() && stack.back().second == 0) {
            open[stack.back().first] = false;
            stack.pop_back();
        }
    } while (!stack.empty());
    return nodes.front();
}

// ------------------------------------------------------------------ samples

// The samples' byte count, as the decoder's view lays them out: densely, the
// first axis fastest. Counted axis by axis from the sample size, so that the
// strides of that layout count in 64 bits too (those of a shape without
// samples, such as [2^62, 0], may not): a record of a shape the decoder
// cannot lay out is refused on both sides.
std::size_t sampleBytes(VectorXu64 const& shape, DataType type)
{
    if (shape.size() == 0)
        return 0;
    std::size_t bytes = type.byteCount();
    for (std::size_t i = 0; i < shape.size(); ++i)
        bytes = checkedMultiply(bytes, shape[i], "image size");
    return bytes;
}

// Dense in FORTRAN order from its first byte: the memory is the record's block.
bool denseFortran(ImageView& view, std::size_t bytes)
{
    if (!view.support(ImageCapability::MEMORY_ACCESS))
        return false;
    Indexer const& ix = view.indexer();
    for (std::size_t k = 0; k < ix.dimensionCount(); ++k)
        if (ix.layout(k) != k)
            return false;
    return ix.isContinuous() && ix.byteCount() == bytes;
}

} // namespace

void Serialization::encodeImageView(std::shared_ptr<ImageView> image, std::shared_ptr<StreamAccess> outStream)
{
    if (!image)
        serial::fail("no ImageView given");
    if (!image->support(ImageCapability::READ))
        serial::fail("ImageView has not READ capacity");
    Writer out(outStream);
    out.hold();
    VectorXu64 const shape = image->shape();
    DataType const type = image->dataType();
    serial::checkWritableDimensions(Kind::IMAGE_VIEW, shape.size());
    DataType::checkHeld(type);
    std::size_t const bytes = sampleBytes(shape, type);
    std::shared_ptr<const ImageProperties> const properties = image->properties();
    if (!properties)
        serial::fail("the ImageView has no properties");
    out.header(Kind::IMAGE_VIEW, type);
    out.u64(shape.size());
    for (std::size_t k = 0; k < shape.size(); ++k)
        out.u64(shape[k]);
    out.sync();
    putProperties(out, *properties);
    out.sync();
    putMetadata(out, image->metadata());
    out.sync();
    out.u64(bytes);
    out.flush();
    if (denseFortran(*image, bytes)) {
        out.raw(image->bufferReadOnly(), bytes);
    } else {
        // chunks of the samples in FORTRAN order, one after the other
        std::size_t const unit = type.byteCount();
        std::vector<uint8_t> chunk;
        detail::forEachChunk(RegionXu64(VectorXu64(shape.size()), shape), detail::chunkSamples(unit),
                             [&](RegionXu64 const& region, uint64_t) {
                                 std::size_t const size = region.elementCount() * unit;
                                 chunk.resize(size);
                                 image->readRegionChecked(region, chunk.data(), size);
                                 out.raw(chunk.data(), size);
                             });
    }
    out.sync();
    out.end();
}

std::shared_ptr<ImageView> Serialization::decodeImageView(std::shared_ptr<StreamAccess> inStream)
{
    Reader in(inStream);
    DataType const type = in.header(Kind::IMAGE_VIEW);
    std::size_t const n = std::size_t(in.count(8, serial::kMaxDimensions, "dimension count"));
    VectorXu64 shape(n);
    for (std::size_t k = 0; k < n; ++k)
        shape[k] = in.u64();
    std::size_t const bytes = sampleBytes(shape, type);
    in.sync();
    std::shared_ptr<ImageProperties> properties = getProperties(in);
    in.sync();
    std::shared_ptr<MetadataNode> metadata = getMetadata(in);
    in.sync();
    uint64_t const recorded = in.u64();
    if (recorded != bytes)
        serial::fail("sample byte count " + std::to_string(recorded) + " does not match the shape and data type (" +
                     std::to_string(bytes) + ")");
    std::shared_ptr<ImageView> view;
    in.block(bytes, [&] {
        // The properties come back as they were written: set like a view's
        // setter sets them, not checked like a factory's.
        view = ImageViewFactory::allocate(shape, type, nullptr, std::move(metadata));
        view->setProperties(std::move(properties));
        return view->buffer();
    });
    in.sync();
    return view;
}

} // namespace quelbo
