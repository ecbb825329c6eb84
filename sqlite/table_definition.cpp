// The reader of a table's definition text: a tokenizer for the few token kinds a CREATE TABLE
// text is made of, and a walk over the column list that stops at the table's own constraints.
#include "sqlite/table_definition.h"

#include <initializer_list>
#include <utility>

#include "base/ascii.h"

namespace zentrak {
namespace {

// One token of a CREATE TABLE text. Blanks and comments are no tokens.
struct SchemaToken {
  enum Kind { kWord, kQuoted, kPunct } kind;
  size_t begin, end;  // byte range in the text
};

// Splits a CREATE statement into words, quoted names or strings ("x", [x], `x`, 'x') and single
// punctuation characters. False when a quote or a comment does not end.
bool TokenizeSchema(std::string_view sql, std::vector<SchemaToken>& out) {
  auto is_word = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c >= 0x80;
  };
  size_t i = 0;
  while (i < sql.size()) {
    unsigned char c = static_cast<unsigned char>(sql[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      ++i;
    } else if (sql.compare(i, 2, "--") == 0) {
      size_t e = sql.find('\n', i);
      i = e == std::string_view::npos ? sql.size() : e + 1;
    } else if (sql.compare(i, 2, "/*") == 0) {
      size_t e = sql.find("*/", i + 2);
      if (e == std::string_view::npos) return false;
      i = e + 2;
    } else if (c == '"' || c == '\'' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : static_cast<char>(c);
      size_t j = i + 1;
      for (;;) {
        j = sql.find(close, j);
        if (j == std::string_view::npos) return false;
        if (close != ']' && j + 1 < sql.size() && sql[j + 1] == close) {
          j += 2;  // a doubled quote stands for one
          continue;
        }
        break;
      }
      out.push_back({SchemaToken::kQuoted, i, j + 1});
      i = j + 1;
    } else if (is_word(c)) {
      size_t j = i;
      while (j < sql.size() && is_word(static_cast<unsigned char>(sql[j]))) ++j;
      out.push_back({SchemaToken::kWord, i, j});
      i = j;
    } else {
      out.push_back({SchemaToken::kPunct, i, i + 1});
      ++i;
    }
  }
  return true;
}

// SQLite's reading of a name or type that begins with a quote: the text inside the first quoted
// part, doubled quotes halved; any other text as it stands.
std::string Dequote(std::string_view text) {
  if (text.empty()) return std::string();
  char open = text[0];
  if (open != '"' && open != '\'' && open != '`' && open != '[') return std::string(text);
  const char close = open == '[' ? ']' : open;
  std::string out;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] == close) {
      if (close != ']' && i + 1 < text.size() && text[i + 1] == close) {
        out.push_back(close);
        ++i;
        continue;
      }
      break;
    }
    out.push_back(text[i]);
  }
  return out;
}

// The columns of a "CREATE TABLE name(...)" text. False for anything else (a virtual table, a
// text this reading does not follow), so that the caller keeps what SQLite reported.
bool ParseTableColumns(std::string_view sql, std::vector<DeclaredColumn>& columns) {
  std::vector<SchemaToken> tokens;
  if (!TokenizeSchema(sql, tokens)) return false;
  auto text = [&](const SchemaToken& t) { return sql.substr(t.begin, t.end - t.begin); };
  auto is_punct = [&](const SchemaToken& t, char c) {
    return t.kind == SchemaToken::kPunct && sql[t.begin] == c;
  };
  auto is_keyword = [&](const SchemaToken& t, std::initializer_list<std::string_view> words) {
    if (t.kind != SchemaToken::kWord) return false;
    for (std::string_view w : words)
      if (EqualsIgnoringAsciiCase(text(t), w)) return true;
    return false;
  };

  size_t i = 0;
  if (tokens.size() < 2 || !is_keyword(tokens[0], {"CREATE"})) return false;
  for (i = 1; i < tokens.size() && !is_punct(tokens[i], '('); ++i) {
    if (is_keyword(tokens[i], {"VIRTUAL", "AS"})) return false;
  }
  if (i == tokens.size()) return false;
  ++i;  // past the list's opening parenthesis

  while (i < tokens.size()) {
    const SchemaToken& first = tokens[i];
    if (is_keyword(first, {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"}))
      return true;  // the table's own constraints follow the columns
    if (first.kind == SchemaToken::kPunct) return false;
    DeclaredColumn column{Dequote(text(first)), std::string()};
    ++i;
    // The type: every token up to a column constraint or the end of the definition, with
    // parenthesised arguments.
    size_t type_begin = 0, type_end = 0;
    int depth = 0;
    for (; i < tokens.size(); ++i) {
      const SchemaToken& t = tokens[i];
      if (depth == 0 && (is_punct(t, ',') || is_punct(t, ')'))) break;
      if (depth == 0 && is_keyword(t, {"CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK",
                                       "DEFAULT", "COLLATE", "REFERENCES", "GENERATED", "AS"}))
        break;
      if (is_punct(t, '(')) ++depth;
      if (is_punct(t, ')')) --depth;
      if (type_end == 0) type_begin = t.begin;
      type_end = t.end;
    }
    if (type_end != 0) column.type = Dequote(sql.substr(type_begin, type_end - type_begin));
    columns.push_back(std::move(column));
    // The rest of the definition: constraints, with their parenthesised parts.
    depth = 0;
    for (; i < tokens.size(); ++i) {
      const SchemaToken& t = tokens[i];
      if (is_punct(t, '(')) {
        ++depth;
      } else if (is_punct(t, ')')) {
        if (depth == 0) return true;  // the end of the list
        --depth;
      } else if (depth == 0 && is_punct(t, ',')) {
        break;
      }
    }
    if (i == tokens.size()) return false;
    ++i;  // past the comma
  }
  return false;
}

}  // namespace

std::optional<std::vector<DeclaredColumn>> ReadTableDefinition(std::string_view create_sql) {
  std::vector<DeclaredColumn> columns;
  if (!ParseTableColumns(create_sql, columns)) return std::nullopt;
  return columns;
}

}  // namespace zentrak
