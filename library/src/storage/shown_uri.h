// How messages and sources show a URI (private to the library).
#pragma once
#include <string>

namespace quelbo::detail {

// The text of a URI, well formed or not, with the secret of its user
// information hidden: "user:***@" for a name with a password, "***@" for a
// lone name (which may be a token). Every message and source text that names
// a URI shows it so; requests keep the credentials.
std::string shownUri(std::string const& text);

} // namespace quelbo::detail
