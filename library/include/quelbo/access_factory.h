// The factories of streams and stores: in memory, over files and HTTP, over other accessors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/buffer_keeper.h"
#include "quelbo/export.h"
#include "quelbo/http_headers.h"
#include "quelbo/random_access.h"
#include "quelbo/stream_access.h"
#include "quelbo/uri.h"

namespace quelbo {

// Makes streams: in memory, over files, toward HTTP endpoints, over stores.
class QUELBO_API StreamAccessFactory
{
public:
    // An empty memory stream with size bytes reserved (READ, WRITE, SEEK, MEMORY_ACCESS).
    static std::shared_ptr<StreamAccess> allocate(std::size_t size = 0);
    // The whole stream (READ and SEEK needed) copied into memory; its cursor is kept.
    static std::shared_ptr<StreamAccess> copyInMemory(std::shared_ptr<StreamAccess> stream);
    static std::shared_ptr<StreamAccess> openFileRead(std::string const& path);
    // Creates or truncates the file.
    static std::shared_ptr<StreamAccess> openFileWrite(std::string const& path);
    // Reads and writes; creates a missing file, never truncates.
    static std::shared_ptr<StreamAccess> openFile(std::string const& path);
    // "file": openFileWrite; "http", "https": openHTTPWrite with POST.
    static std::shared_ptr<StreamAccess> openURIWrite(Uri const& uri);
    // An upload in chunked encoding; flush ends the request and raises on a
    // non-2xx answer.
    static std::shared_ptr<StreamAccess> openHTTPWrite(Uri const& uri, std::string const& method,
                                                       HTTPHeaders const& headers);
    static std::shared_ptr<StreamAccess> fromRandomAccess(std::shared_ptr<RandomAccess> store);
};

// Makes stores: in memory, mapped files, HTTP resources, regions, streams, lent memory.
class QUELBO_API RandomAccessFactory
{
public:
    static std::shared_ptr<RandomAccess> allocate(std::size_t size);
    // A store already in memory is returned itself.
    static std::shared_ptr<RandomAccess> copyInMemory(std::shared_ptr<RandomAccess> store);
    static std::shared_ptr<RandomAccess> mapFile(std::string const& path);
    static std::shared_ptr<RandomAccess> openURIRead(Uri const& uri);
    // Read by range requests over one kept connection.
    static std::shared_ptr<RandomAccess> openHTTPRead(Uri const& uri, std::string const& method,
                                                      HTTPHeaders const& headers);
    static std::shared_ptr<RandomAccess> extractRegion(std::shared_ptr<RandomAccess> src, std::size_t offset);
    static std::shared_ptr<RandomAccess> extractRegion(std::shared_ptr<RandomAccess> src, std::size_t offset,
                                                       std::size_t size);
    // READ and SEEK needed.
    static std::shared_ptr<RandomAccess> fromStream(std::shared_ptr<StreamAccess> stream);
    // A store over lent memory; it holds memory.keeper until its last user is gone.
    static std::shared_ptr<RandomAccess> fromBuffer(BorrowedMemory memory);
    static std::shared_ptr<RandomAccess> fromBuffer(uint8_t* buffer, std::size_t size);
};

class QUELBO_API StreamAccessProvider
{
public:
    static bool isStreamAccess(std::shared_ptr<DataAccess> access)
    {
        return std::dynamic_pointer_cast<StreamAccess>(access) != nullptr;
    }
    static std::shared_ptr<StreamAccess> toStream(std::shared_ptr<DataAccess> access)
    {
        return std::dynamic_pointer_cast<StreamAccess>(access);
    }
};

class QUELBO_API RandomAccessProvider
{
public:
    static bool isRandomAccess(std::shared_ptr<DataAccess> access)
    {
        return std::dynamic_pointer_cast<RandomAccess>(access) != nullptr;
    }
    static std::shared_ptr<RandomAccess> toRandom(std::shared_ptr<DataAccess> access)
    {
        return std::dynamic_pointer_cast<RandomAccess>(access);
    }
};

} // namespace quelbo
