// BoxRuns: the walk over a box of elements between two sides, in whole runs.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelbo {

// The one walk over a box of elements moved between two sides (a source and
// a destination, a store and a buffer): every loop over a box's indices is
// this one. The box's axes are ordered and merged once; forEach then hands
// the caller whole runs: the byte offsets of a run's first element on each
// side, relative to the box's first element. A run is the innermost axis
// (run()): runCount() of them, each of run().size elements at run().stride
// bytes on each side; when dense() a run is runBytes() bytes in a row on
// both sides.
class BoxRuns
{
public:
    struct Axis
    {
        uint64_t size;
        int64_t stride[2];
    };

    enum class Order
    {
        // The axes nearest to contiguous on both sides go innermost, and an
        // axis continuing the one inside it on both sides is merged into it:
        // the fewest and longest runs, in no particular order.
        ANY,
        // The axes as given (the fastest first), none merged or dropped: the
        // elements come in that order, and forEach counts the axes wrapped.
        KEPT,
    };

    BoxRuns() = default;
    // size, strideA and strideB hold n values; strides are byte strides
    // (two's complement for negative ones). A box with no element, or no
    // axis, has no run.
    BoxRuns(uint64_t const* size, uint64_t const* strideA, uint64_t const* strideB, std::size_t n,
            std::size_t elementBytes, Order order = Order::ANY)
        : m_elementBytes(elementBytes)
    {
        if (n == 0)
            return;
        for (std::size_t d = 0; d < n; ++d)
            if (size[d] == 0)
                return;
        for (std::size_t d = 0; d < n; ++d)
            if (order == Order::KEPT || size[d] != 1)
                m_axes.push_back({size[d], {int64_t(strideA[d]), int64_t(strideB[d])}});
        if (order == Order::ANY) {
            std::stable_sort(m_axes.begin(), m_axes.end(), [](Axis const& a, Axis const& b) {
                return magnitude(a) < magnitude(b);
            });
            std::vector<Axis> merged;
            for (Axis const& a : m_axes) {
                if (!merged.empty()) {
                    Axis& in = merged.back();
                    if (a.stride[0] == in.stride[0] * int64_t(in.size) &&
                        a.stride[1] == in.stride[1] * int64_t(in.size)) {
                        in.size *= a.size;
                        continue;
                    }
                }
                merged.push_back(a);
            }
            if (merged.empty()) // a single element: one run of one element
                merged.push_back({1, {int64_t(elementBytes), int64_t(elementBytes)}});
            m_axes = std::move(merged);
        }
    }

    bool empty() const { return m_axes.empty(); }
    Axis const& run() const { return m_axes.front(); }
    bool dense() const
    {
        return !empty() && run().stride[0] == int64_t(m_elementBytes) && run().stride[1] == int64_t(m_elementBytes);
    }
    std::size_t runBytes() const { return empty() ? 0 : std::size_t(run().size) * m_elementBytes; }
    uint64_t runCount() const
    {
        uint64_t count = empty() ? 0 : 1;
        for (std::size_t k = 1; k < m_axes.size(); ++k)
            count *= m_axes[k].size;
        return count;
    }
    std::vector<Axis> const& axes() const { return m_axes; }

    // Calls f(offsetA, offsetB, wrapped) for every run, in order: wrapped is
    // the count of axes outside the run's that ended just before it (0 for
    // the first run).
    template <class F>
    void forEach(F&& f) const
    {
        if (m_axes.empty())
            return;
        std::size_t const outer = m_axes.size();
        if (outer == 1)
            return void(f(int64_t(0), int64_t(0), std::size_t(0)));
        // The axis after the run's is looped directly; the others count.
        Axis const& second = m_axes[1];
        std::vector<uint64_t> counter(outer, 0);
        int64_t a = 0, b = 0;
        std::size_t wrapped = 0;
        for (;;) {
            int64_t la = a, lb = b;
            f(la, lb, wrapped);
            for (uint64_t i = 1; i < second.size; ++i) {
                la += second.stride[0];
                lb += second.stride[1];
                f(la, lb, std::size_t(0));
            }
            std::size_t k = 2;
            for (; k < outer; ++k) {
                Axis const& x = m_axes[k];
                if (++counter[k] < x.size) {
                    a += x.stride[0];
                    b += x.stride[1];
                    break;
                }
                counter[k] = 0;
                a -= x.stride[0] * int64_t(x.size - 1);
                b -= x.stride[1] * int64_t(x.size - 1);
            }
            if (k == outer)
                return;
            wrapped = k - 1;
        }
    }

private:
    static uint64_t magnitude(int64_t v) { return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v); }
    static uint64_t magnitude(Axis const& a) { return magnitude(a.stride[0]) + magnitude(a.stride[1]); }

    std::vector<Axis> m_axes; // the run's axis first
    std::size_t m_elementBytes = 0;
};

} // namespace quelbo
