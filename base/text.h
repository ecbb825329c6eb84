// The system's own UTF-8 rules, used on the way to SQLite, inside JSON text and in cell texts.
// Encoding works one UTF-16 unit at a time, so a surrogate pair becomes two three-byte sequences.
// Decoding accepts one- to three-byte sequences (overlong forms and encoded surrogates as they
// are) and a well-formed four-byte sequence, which becomes its surrogate pair; a text with any
// malformed sequence decodes to the empty text.
#pragma once

#include <string>
#include <string_view>

namespace zentrak {

std::string WideToUtf8(std::u16string_view text);

// Appends the UTF-8 form of text to out, by the rule above.
void AppendWideAsUtf8(std::u16string_view text, std::string& out);

// Standard UTF-8 for the world outside the system (files, the wire): a surrogate pair becomes one
// four-byte sequence and a lone surrogate becomes U+FFFD.
std::string WideToStandardUtf8(std::u16string_view text);

// Returns false, and leaves out empty, when text holds a malformed sequence.
bool TryUtf8ToWide(std::string_view text, std::u16string& out);
std::u16string Utf8ToWide(std::string_view text);

// True when every byte is below 0x80.
bool IsAscii(std::string_view text) noexcept;

}  // namespace zentrak
