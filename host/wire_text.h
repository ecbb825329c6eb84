// The answer writer of the wire: compact JSON text, byte for byte what nlohmann's dump writes for
// valid UTF-8, written in one fast pass.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zentrak::host {

// The text of an answer: compact JSON, as nlohmann's dump writes it, with strings escaped in one
// fast pass. In a string that is not valid UTF-8, each byte that does not start a well-formed
// sequence becomes one U+FFFD (the library's replacement can take a cut sequence as one).
std::string WireText(const nlohmann::ordered_json& answer);

// Appends what WireText writes for j.
void AppendWire(const nlohmann::ordered_json& j, std::string& out);

// Appends a JSON string: valid UTF-8 passes unchanged, control characters, quotes and
// backslashes are escaped, and a malformed byte becomes U+FFFD.
void AppendJsonString(std::string_view text, std::string& out);

// Appends text as a JSON string of the wire: exactly what WireText writes for the string value
// WideToStandardUtf8(text) (a surrogate pair as one four-byte sequence, a lone surrogate as
// U+FFFD), written in one pass from the UTF-16 form.
void AppendWireString(std::u16string_view text, std::string& out);

}  // namespace zentrak::host
