// Test-only streams for the serialization tests: a stream that cannot seek
// (so that decoders cannot learn the length ahead) and that takes at most a
// given number of bytes (a full device).
#include <algorithm>

#include "quelbo/stream_access.h"
#include "runtime/shared.h"

namespace {

using namespace qw;
using quelbo::StreamAccess;

QW_TEST_TYPE(std::shared_ptr<StreamAccess>, "_p_std__shared_ptrT_quelbo__StreamAccess_t",
             "std::shared_ptr< quelbo::StreamAccess > *");

class Sequential final : public StreamAccess
{
public:
    Sequential(std::shared_ptr<StreamAccess> inner, std::size_t room) : m_inner(std::move(inner)), m_room(room) {}
    quelbo::StreamAccessCapabilitySet capabilities() const override
    {
        auto caps = m_inner->capabilities();
        caps.remove(quelbo::StreamAccessCapability::SEEK);
        caps.remove(quelbo::StreamAccessCapability::MEMORY_ACCESS);
        return caps;
    }
    bool good() const override { return m_inner->good(); }
    bool eof() const override { return m_inner->eof(); }
    bool fail() const override { return m_inner->fail(); }
    std::size_t read(std::size_t size, uint8_t* dst) override { return m_inner->read(size, dst); }
    uint8_t peek() override { return m_inner->peek(); }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        std::size_t const n = std::min(size, m_room);
        m_room -= n;
        return m_inner->write(n, src);
    }
    void flush() override { m_inner->flush(); }
    std::size_t tell() override { throw quelbo::Error("Sequential: no SEEK"); }
    void seek(int64_t, quelbo::SeekOrigin) override { throw quelbo::Error("Sequential: no SEEK"); }

private:
    std::shared_ptr<StreamAccess> m_inner;
    std::size_t m_room;
};

// sequential_stream(stream, room): the stream without SEEK, taking at most
// `room` more bytes.
PyObject* sequential_stream(PyObject*, PyObject* args)
{
    const char* f = "sequential_stream";
    PyObject* a[2];
    std::shared_ptr<StreamAccess> inner;
    std::size_t room;
    if (!unpack(f, args, 2, 2, a) || !shared_self(a[0], {f, 1, "std::shared_ptr< quelbo::StreamAccess >"}, inner) ||
        !arg(a[1], {f, 2, "size_t"}, room))
        return nullptr;
    return call([&] { return shared<StreamAccess>(std::make_shared<Sequential>(inner, room)); });
}

void add_serialization_twin(Methods& m)
{
    m.add<&sequential_stream>("sequential_stream", METH_VARARGS);
}

} // namespace

QW_FAMILY(add_serialization_twin);
