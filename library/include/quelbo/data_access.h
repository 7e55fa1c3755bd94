// Storages of resources and the base of the accessors opened on them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/export.h"

namespace quelbo {

class StreamAccess;
class RandomAccess;

// What an opened accessor must allow.
enum class AccessCapabilities : int32_t
{
    READ_ONLY = 1,
    WRITE_ONLY = 2,
    READ_WRITE = 3,
};

// A source of resources: a folder of a file system, an HTTP site.
class QUELBO_API DataStorage
{
public:
    virtual ~DataStorage();

    // Opens a stream-like accessor to the named resource with the requested
    // capabilities. Error when the storage cannot reach the resource or the
    // resource does not support the requested capabilities.
    virtual std::shared_ptr<StreamAccess> openStreamAccess(std::string const& resourceId,
                                                           AccessCapabilities capabilities) = 0;
    // Opens an array-like accessor to the named resource (same rules).
    virtual std::shared_ptr<RandomAccess> openRandomAccess(std::string const& resourceId,
                                                           AccessCapabilities capabilities) = 0;
    // The storage's source of data, as a URI (a file URI of a folder, an HTTP URI).
    virtual std::string const& source() const = 0;
};

// One opened resource: a stream (StreamAccess) or a store (RandomAccess).
class QUELBO_API DataAccess
{
public:
    DataAccess() = default;
    // storage: the storage the accessor belongs to (may be empty);
    // resourceId: the identifier it was opened with.
    DataAccess(std::shared_ptr<DataStorage> storage, std::string resourceId);
    virtual ~DataAccess();
    DataAccess(DataAccess const&) = delete;
    DataAccess& operator=(DataAccess const&) = delete;

    virtual std::shared_ptr<DataStorage> storage() const;
    virtual std::string const& resourceId() const;

private:
    std::shared_ptr<DataStorage> m_storage;
    std::string m_resourceId;
};

// A folder of the local file system. Resource ids are relative paths inside
// it; an absolute id or one that leaves the folder ("..") is refused.
QUELBO_API std::shared_ptr<DataStorage> createFolderStorage(std::string const& folder);

} // namespace quelbo
