// The Writer base.
#include "quelbo/writer.h"

namespace quelbo {

Writer::~Writer() = default;

std::string Writer::toString() const
{
    return "Writer(name: " + name() + ", version: " + version() + ")";
}

} // namespace quelbo
