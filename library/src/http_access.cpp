// HTTP(S) stores read by range requests and upload streams.
#include "quelbo/access_factory.h"
#include "quelbo/error.h"

namespace quelbo {

std::shared_ptr<RandomAccess> RandomAccessFactory::openHTTPRead(Uri const& uri, std::string const&, HTTPHeaders const&)
{
    throw NotImplemented("openHTTPRead: not available for '" + uri.toString() + "'");
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openHTTPWrite(Uri const& uri, std::string const&,
                                                                 HTTPHeaders const&)
{
    throw NotImplemented("openHTTPWrite: not available for '" + uri.toString() + "'");
}

} // namespace quelbo
