// Test-only image views: holders handed over by address, views that lack
// READ or WRITE, and views in memory that tell how many writers met in them.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "quelbo/error.h"
#include "quelbo/hand_over.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/region_copier.h"
#include "runtime/item_parser.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;
using quelbo::ImageView;
using ViewPtr = std::shared_ptr<ImageView>;

QW_TEST_TYPE(ViewPtr, "_p_std__shared_ptrT_quelbo__ImageView_t", "std::shared_ptr< quelbo::ImageView > *");

bool view_arg(PyObject* o, const char* fn, ViewPtr& out)
{
    void* p = nullptr;
    if (convert_ptr(o, &p, type_of<ViewPtr>(), 0) != OK || !p) {
        fail_arg(ERR_TYPE, {fn, 1, "std::shared_ptr< quelbo::ImageView >"});
        return false;
    }
    out = *static_cast<ViewPtr*>(p);
    return true;
}

// hand_over_view(view): the address of a new holder of the view, recorded
// for ImageView_create_from_pointer. hand_over_view(None): of an empty holder.
PyObject* hand_over_view(PyObject*, PyObject* o)
{
    ViewPtr view;
    if (o != Py_None && !view_arg(o, "hand_over_view", view))
        return nullptr;
    return call([&] { return to_py(quelbo::handOver(view)); });
}

// The source's samples, offering only some of its capabilities: the others
// raise NotImplemented.
class Restricted final : public ImageView
{
public:
    Restricted(ViewPtr source, quelbo::ImageCapabilitySet caps) : m_source(std::move(source)), m_caps(caps) {}
    quelbo::ImageCapabilitySet capabilities() const override { return m_caps; }
    quelbo::VectorXu64 const& shape() override { return m_source->shape(); }
    quelbo::DataType dataType() override { return m_source->dataType(); }
    std::shared_ptr<const quelbo::ImageProperties> properties() override { return m_source->properties(); }
    std::shared_ptr<const quelbo::MetadataNode> metadata() const override
    {
        need(quelbo::ImageCapability::READ, "metadata");
        return m_source->metadata();
    }
    void setProperties(std::shared_ptr<const quelbo::ImageProperties> p) override
    {
        need(quelbo::ImageCapability::WRITE, "setProperties");
        m_source->setProperties(std::move(p));
    }
    std::string refusal(Transfer transfer) const override { return missing(nameOf(regionOf(transfer))); }

protected:
    void load(quelbo::RegionXu64 const& region, uint8_t* dst) override { m_source->readRegion(region, dst); }
    void store(quelbo::RegionXu64 const& region, const uint8_t* src) override { m_source->writeRegion(region, src); }

private:
    static std::string missing(const char* what) { return std::string("restricted view: no ") + what; }
    void need(quelbo::ImageCapability c, const char* what) const
    {
        if (!m_caps.has(c))
            throw quelbo::NotImplemented(missing(what));
    }
    ViewPtr m_source;
    quelbo::ImageCapabilitySet m_caps;
};

// restricted_view(view, capabilities): a view of the same samples with only
// those capabilities (memory access is never offered).
PyObject* restricted_view(PyObject*, PyObject* args)
{
    PyObject* a[2];
    ViewPtr view;
    uint64_t caps;
    if (!unpack("restricted_view", args, 2, 2, a) || !view_arg(a[0], "restricted_view", view) ||
        !arg(a[1], {"restricted_view", 2, "uint64_t"}, caps))
        return nullptr;
    return call(
        [&] { return shared(ViewPtr(std::make_shared<Restricted>(view, quelbo::ImageCapabilitySet(caps & 7)))); });
}

// A view whose samples lie in a block of its own, laid out by its indexer.
class InMemory : public ImageView
{
public:
    InMemory(quelbo::VectorXu64 const& shape, quelbo::DataType type, size_t blockBytes)
        : m_indexer(shape, type), m_block(quelbo::MemoryBlock::allocate(blockBytes)),
          m_properties(quelbo::ImageProperties::fromDataType(type))
    {}
    quelbo::VectorXu64 const& shape() override { return m_indexer.shape(); }
    quelbo::DataType dataType() override { return m_indexer.dtype(); }
    std::shared_ptr<const quelbo::ImageProperties> properties() override { return m_properties; }
    std::shared_ptr<const quelbo::MetadataNode> metadata() const override { return nullptr; }
    quelbo::Indexer const& indexer() override { return m_indexer; }
    void* buffer() override { return m_block->data(); }
    const void* bufferReadOnly() const override { return m_block->data(); }
    size_t bufferSize() override { return m_block->size(); }
    std::shared_ptr<quelbo::MemoryBlock> memoryBlock() override { return m_block; }

protected:
    quelbo::Indexer m_indexer;
    std::shared_ptr<quelbo::MemoryBlock> m_block;
    std::shared_ptr<quelbo::ImageProperties> m_properties;
};

// A view offering memory access whose description does not fit its memory:
// kind 0 has a data type of no component, kind 1 claims more elements than
// its block holds, kind 2 has RGB properties over its one-component samples.
class Lying final : public InMemory
{
public:
    explicit Lying(int kind)
        : InMemory(quelbo::VectorXu64::createUniform(1, kind == 1 ? 100 : 4),
                   kind == 0 ? quelbo::DataType(quelbo::PrimitiveTypeId::UNSIGNED_INTEGER, 8, 0)
                             : quelbo::DataType(quelbo::DataTypeId::UINT8),
                   4)
    {
        if (kind == 2)
            m_properties->imageInfo().setInterpretation(quelbo::ImageInterpretation::RGB);
    }
    quelbo::ImageCapabilitySet capabilities() const override
    {
        return quelbo::ImageCapabilitySet(uint64_t(quelbo::ImageCapability::READ) |
                                          uint64_t(quelbo::ImageCapability::MEMORY_ACCESS));
    }

protected:
    void load(quelbo::RegionXu64 const&, uint8_t*) override {}
};

PyObject* lying_view(PyObject*, PyObject* o)
{
    int kind;
    if (!arg(o, {"lying_view", 1, "int"}, kind))
        return nullptr;
    return call([&] { return shared(ViewPtr(std::make_shared<Lying>(kind))); });
}

// entry_transfer(view, origin, size, data): the library's own transfer
// entries, which take no buffer length. With size None, one sample at origin
// (read / write), else the region (readRegion / writeRegion). With data None,
// the samples read into a buffer of the transfer's size, returned as bytes;
// else data (its length checked here) written.
PyObject* entry_transfer(PyObject*, PyObject* args)
{
    static const char* fn = "entry_transfer";
    PyObject* a[4];
    ViewPtr view;
    quelbo::VectorXu64 origin, size;
    char* data = nullptr;
    Py_ssize_t length = 0;
    if (!unpack(fn, args, 4, 4, a) || !view_arg(a[0], fn, view) || !sequence_to_vector(a[1], origin) ||
        (a[2] != Py_None && !sequence_to_vector(a[2], size)) ||
        (a[3] != Py_None && PyBytes_AsStringAndSize(a[3], &data, &length) < 0))
        return nullptr;
    return call([&]() -> PyObject* {
        bool const sample = a[2] == Py_None;
        quelbo::RegionXu64 const box = sample ? quelbo::RegionXu64::fromIndex(origin) : quelbo::RegionXu64(origin, size);
        std::vector<char> bytes(quelbo::checkedMultiply(box.elementCount(), view->sampleByteCount(), fn));
        if (data && size_t(length) != bytes.size())
            throw quelbo::InvalidArgument("entry_transfer: the data does not hold the transfer");
        if (data && sample)
            view->write(origin, data);
        else if (data)
            view->writeRegion(box, data);
        else if (sample)
            view->read(origin, bytes.data());
        else
            view->readRegion(box, bytes.data());
        return data ? none() : PyBytes_FromStringAndSize(bytes.data(), Py_ssize_t(bytes.size()));
    });
}

ViewPtr& parked()
{
    static ViewPtr view;
    return view;
}

// park_view(view): a native owner of the view, kept here.
PyObject* park_view(PyObject*, PyObject* o)
{
    ViewPtr view;
    if (!view_arg(o, "park_view", view))
        return nullptr;
    parked() = std::move(view);
    return none();
}

// drop_parked_in_thread(): another thread, without the interpreter lock,
// drops the parked owner while this one waits with the lock released.
PyObject* drop_parked_in_thread(PyObject*, PyObject*)
{
    return call([] {
        ViewPtr view = std::move(parked());
        PyThreadState* state = PyEval_SaveThread();
        std::thread worker([&view] { view.reset(); });
        worker.join();
        PyEval_RestoreThread(state);
        return none();
    });
}

// Writers inside the stores of a set of meeting views: a store waits (5 s at
// most) until every view of the set has had a writer inside at once, and the
// most seen at once is kept.
struct Meeting
{
    std::mutex lock;
    std::condition_variable changed;
    size_t expected = 0, inside = 0, most = 0;

    void enter()
    {
        std::unique_lock<std::mutex> held(lock);
        most = std::max(most, ++inside);
        changed.notify_all();
        changed.wait_for(held, std::chrono::seconds(5), [this] { return most >= expected; });
    }
    void leave()
    {
        std::lock_guard<std::mutex> held(lock);
        --inside;
    }
};

Meeting& meeting()
{
    static Meeting m;
    return m;
}

// Samples in memory of their own, written side by side as memory allows;
// each store is a writer at the meeting.
class MeetingView final : public InMemory
{
public:
    MeetingView(quelbo::VectorXu64 const& shape, quelbo::DataType type)
        : InMemory(shape, type, quelbo::Indexer(shape, type).byteCount())
    {}
    quelbo::ImageCapabilitySet capabilities() const override
    {
        return quelbo::ImageCapabilitySet(uint64_t(quelbo::ImageCapability::READ) |
                                          uint64_t(quelbo::ImageCapability::WRITE) |
                                          uint64_t(quelbo::ImageCapability::MEMORY_ACCESS));
    }

protected:
    void load(quelbo::RegionXu64 const& region, uint8_t* dst) override
    {
        quelbo::Indexer const dense(region.size(), dataType());
        quelbo::RegionCopier(m_indexer, dense, region.origin(), quelbo::VectorXu64(region.dimensionCount()),
                             region.size(), dataType())
            .copy(m_block->data(), dst);
    }
    void store(quelbo::RegionXu64 const& region, const uint8_t* src) override
    {
        meeting().enter();
        quelbo::Indexer const dense(region.size(), dataType());
        quelbo::RegionCopier(dense, m_indexer, quelbo::VectorXu64(region.dimensionCount()), region.origin(),
                             region.size(), dataType())
            .copy(src, m_block->data());
        meeting().leave();
    }
};

// meeting_views(count, shape): count views of UINT8 samples, each in memory
// of its own, for a new meeting of count writers.
PyObject* meeting_views(PyObject*, PyObject* args)
{
    PyObject* a[2];
    size_t count;
    quelbo::VectorXu64 shape;
    if (!unpack("meeting_views", args, 2, 2, a) || !arg(a[0], {"meeting_views", 1, "size_t"}, count) ||
        !sequence_to_vector(a[1], shape))
        return nullptr;
    return call([&]() -> PyObject* {
        {
            std::lock_guard<std::mutex> held(meeting().lock);
            meeting().expected = count;
            meeting().most = 0;
        }
        PyObject* list = PyList_New(0);
        for (size_t i = 0; list && i < count; ++i) {
            PyObject* v = shared(ViewPtr(std::make_shared<MeetingView>(shape, quelbo::DataType(quelbo::DataTypeId::UINT8))));
            if (!v || PyList_Append(list, v) < 0)
                Py_CLEAR(list);
            Py_XDECREF(v);
        }
        return list;
    });
}

// meeting_most(): the most writers seen inside at once since the meeting began.
PyObject* meeting_most(PyObject*, PyObject*)
{
    std::lock_guard<std::mutex> held(meeting().lock);
    return PyLong_FromSize_t(meeting().most);
}

void add_views(Methods& m)
{
    m.add<&meeting_views>("meeting_views", METH_VARARGS);
    m.add<&meeting_most>("meeting_most", METH_NOARGS);
    m.add<&lying_view>("lying_view", METH_O);
    m.add<&park_view>("park_view", METH_O);
    m.add<&drop_parked_in_thread>("drop_parked_in_thread", METH_NOARGS);
    m.add<&hand_over_view>("hand_over_view", METH_O);
    m.add<&restricted_view>("restricted_view", METH_VARARGS);
    m.add<&entry_transfer>("entry_transfer", METH_VARARGS);
}
QW_FAMILY(add_views);

} // namespace
