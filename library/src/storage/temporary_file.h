// Stores in temporary files (private to the library).
#pragma once
#include <memory>
#include <string>

#include "quelbo/random_access.h"

namespace quelbo::detail {

// A new, empty store in a temporary file of the folder (TMPDIR, else /tmp,
// when empty), readable, writable and resizable; the file goes with it.
std::shared_ptr<RandomAccess> createTemporaryFile(std::string const& dirPath);

} // namespace quelbo::detail
