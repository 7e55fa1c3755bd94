// Writer: the base of objects that write data out.
#pragma once
#include <memory>
#include <string>

#include "quelbo/export.h"

namespace quelbo {

class VariantDataValue;

// An object that writes data out, for example into a file: in one step
// (writeAll) or in three (writeInit for the header, writeData for the data,
// writeFinish for the footer and the end of the output). Implementations
// throw Error for an unknown option, a value they do not accept, and calls
// out of that order.
class QUELBO_API Writer
{
public:
    virtual ~Writer();

    // Output all the data.
    virtual void writeAll() = 0;
    // Initialize file and output only the header
    virtual void writeInit() = 0;
    // Output the data. Should be called between writeInit() and writeFinish().
    virtual void writeData() = 0;
    // Write footer (if any) and finalize file. Should be called after writeData().
    virtual void writeFinish() = 0;
    virtual std::string name() const = 0;
    virtual std::string version() const = 0;
    // Error if parameter is not known or data is not valid for it.
    virtual void setOption(std::string const& parameter, std::shared_ptr<VariantDataValue> data) = 0;

    // "Writer(name: <name>, version: <version>)"
    std::string toString() const;
};

} // namespace quelbo
