// D symbol names made readable: the demangler and the expansion of DMD's compressed names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// Demangles a D symbol such as "_D3app3runFAAyaZv" into "void app.run(immutable(char)[][])".
// Anything that is not a complete mangled D name comes back unchanged, byte for byte. Never
// throws a parse failure; running out of memory still throws std::bad_alloc.
[[nodiscard]] std::string demangle(std::string_view source);

// The same, working in `buffer` (grown when the text does not fit, never shrunk), so that a
// caller that demangles many names allocates only when a name needs more room than any before.
// The result is a view into `buffer`, valid until its next use.
[[nodiscard]] std::string_view demangle(std::string_view source, std::vector<char>& buffer);

// Expands DMD's compressed long names (back-references to earlier text) from `position` on.
// Returns the decoded text; `position` ends just after the last byte consumed, or on the byte
// that stopped the decoding when that byte was refused. Never fails.
[[nodiscard]] std::string decodeDmdString(std::string_view compressed, size_t& position);

}  // namespace vorlith
