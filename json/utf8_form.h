// The system's UTF-8 form of a text: the bytes that WideToUtf8 gives for its UTF-16 units (one to
// three bytes per unit). Strings and names of the value tree are kept in this form, so that text
// read as UTF-8 can mostly be taken over as it stands.
#pragma once

#include <string>
#include <string_view>

namespace zentrak::json_internal {

// True when bytes are exactly WideToUtf8(Utf8ToWide(bytes)): only shortest one- to three-byte
// sequences (encoded surrogates included), nothing malformed and no four-byte sequence.
bool IsUtf8Form(std::string_view bytes) noexcept;

// out := WideToUtf8(Utf8ToWide(bytes)): the text decoded by the system's UTF-8 rules (a malformed
// sequence empties it, a four-byte sequence becomes its surrogate pair) in the system's form.
void ToUtf8Form(std::string_view bytes, std::string& out);

}  // namespace zentrak::json_internal
