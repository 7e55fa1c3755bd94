#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "quelbo/export.h"

namespace quelbo_cuda {

// Address of device memory, as the driver gives it.
using DevicePtr = uint64_t;

// Access to the GPU driver (libcuda.so.1). The driver library is loaded on
// first use, and device 0's primary context is made current; when no driver,
// no device or no context can be had, every call throws quelbo::Error naming
// the cause. The library never falls back to host memory.
class QUELBO_API Driver
{
public:
    // The loaded driver; throws quelbo::Error when it cannot be started.
    static Driver& get();

    DevicePtr allocate(std::size_t bytes);
    // Rows of widthBytes, padded to the driver's pitch; returns the base and
    // sets pitch.
    DevicePtr allocatePitched(std::size_t widthBytes, std::size_t rows, std::size_t elementBytes, std::size_t& pitch);
    // Never throws: a failure to free is ignored (the context may be gone).
    void release(DevicePtr p) noexcept;

    // Sets bytes of device memory to zero.
    void zero(DevicePtr p, std::size_t bytes);

    // Copies of bytes between host memory and device memory.
    void toDevice(DevicePtr dst, void const* src, std::size_t bytes);
    void toHost(void* dst, DevicePtr src, std::size_t bytes);
    void deviceToDevice(DevicePtr dst, DevicePtr src, std::size_t bytes);

    // One side of a copy: rows `pitch` bytes apart and slices of `height`
    // rows, in device memory (device != 0) or host memory (host).
    struct Plane
    {
        DevicePtr device = 0;
        void* host = nullptr;
        std::size_t pitch = 0;
        std::size_t height = 0;

        // The same plane from `bytes` further on.
        Plane shifted(int64_t bytes) const
        {
            Plane p = *this;
            if (p.device)
                p.device += DevicePtr(bytes);
            else
                p.host = static_cast<uint8_t*>(p.host) + bytes;
            return p;
        }
    };
    // One driver copy of `slices` slices of `rows` rows of `widthBytes`
    // bytes: a linear copy for one row, else a rectangular or a box copy,
    // whose pitches (and heights) the planes give. Error, before the driver
    // is called, for a pitch beyond maxPitch().
    void copy(Plane const& dst, Plane const& src, std::size_t widthBytes, std::size_t rows = 1,
              std::size_t slices = 1);
    // The largest pitch the rectangular and box copies take (the device's).
    std::size_t maxPitch() const;

    // What the driver is: the device's name and the driver's version
    // (1000 * major + 10 * minor).
    std::string deviceName() const;
    int driverVersion() const;

    // True when the address lies in device memory (the driver's pointer query).
    bool isDevicePointer(void const* p);

    // Free and total memory of the device.
    void memoryInfo(std::size_t& freeBytes, std::size_t& totalBytes);

    struct Api;

private:
    Driver();
    Api* m_api;
};

} // namespace quelbo_cuda
