// What an accessor or a storage tells the dependency graph beyond what it
// shows (private to the library).
#pragma once
#include <memory>
#include <string>
#include <sys/stat.h>

#include "quelbo/data_access.h"

namespace quelbo::detail {

// Accessors that move the bytes of another (a window of a store, a store
// over a stream, a stream over a store) name it; accessors over memory say
// whose it is.
class Lineage
{
public:
    // The accessor whose bytes this one moves, or none.
    virtual std::shared_ptr<DataAccess> adaptedAccess() const { return nullptr; }
    // Whether the bytes are memory lent by a caller, which others may reach
    // without the library seeing it.
    virtual bool lentMemory() const { return false; }
    // Whether the bytes are memory that the library or its caller owns (lent
    // memory included), not a file's mapping.
    virtual bool ownMemory() const { return false; }
    // The file whose bytes the accessor holds open, by its identity on the
    // file system (fileIdentity) as the descriptor it holds tells: whatever
    // path reached it then or reaches it now. Empty for one holding none.
    virtual std::string heldFile() const { return {}; }

protected:
    ~Lineage() = default;
};

// The name of the file a stat of it describes: its device and inode.
inline std::string fileIdentity(struct stat const& st)
{
    return "file " + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino);
}

// A storage whose source hides a secret (an HTTP site's password) names its
// resources by its source in full: sites that differ in the secret alone
// are apart. The full source is a key, never shown.
class SecretSource
{
public:
    virtual std::string const& fullSource() const = 0;

protected:
    ~SecretSource() = default;
};

} // namespace quelbo::detail
