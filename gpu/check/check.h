// What the checks of quelbo_cuda_check share: reporting, sample patterns,
// device buffers, and the counts of the counting driver they run over.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "quelbo/error.h"
#include "quelbo/vector.h"
#include "quelbo_cuda/driver.h"

namespace quelbo_cuda::check {

// Prints "pass WHAT" or "FAIL WHAT"; a failure is counted.
void expect(bool ok, const std::string& what);
int failures();

// Passes when f throws E (its message is printed).
template <class E>
void expectThrow(const std::function<void()>& f, const std::string& what)
{
    try {
        f();
    } catch (E& e) {
        expect(true, what + " (" + e.what() + ")");
        return;
    } catch (std::exception& e) {
        expect(false, what + ": unexpected " + e.what());
        return;
    }
    expect(false, what + ": nothing thrown");
}

std::vector<uint8_t> pattern(std::size_t n, unsigned seed);
quelbo::VectorXu64 vec(std::initializer_list<uint64_t> values);

// Device memory for the checks, given back on every path.
struct DeviceBuffer
{
    explicit DeviceBuffer(std::size_t n) : ptr(Driver::get().allocate(n)), size(n) {}
    ~DeviceBuffer() { Driver::get().release(ptr); }
    DeviceBuffer(DeviceBuffer const&) = delete;
    DeviceBuffer& operator=(DeviceBuffer const&) = delete;
    void* address() const { return reinterpret_cast<void*>(ptr); }
    DevicePtr ptr;
    std::size_t size;
};

// The counting driver's counts (tests/fakecuda/countcuda.cpp, which passes
// every call on to the driver it names): false when the driver loaded is
// not that one.
bool counting();
long driverCopies();
long liveAllocations();

// The groups of checks.
void checkRoundTrips();
void checkCopyAndAdapt();
void checkRefusals();
void checkCopyCounts();
// Every road timed against raw driver copies of the same bytes, copies of
// `mib` MiB; a road below `floor` times the raw copies' speed fails (0: none).
void benchRoads(std::size_t mib, double floor);

} // namespace quelbo_cuda::check
