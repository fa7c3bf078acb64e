// Quoting of SQL identifiers, the same for SQLite and PostgreSQL.
#ifndef ORLAN_DATABASE_IDENTIFICADOR_H_
#define ORLAN_DATABASE_IDENTIFICADOR_H_

#include <string>
#include <string_view>

namespace orlan {

// Double-quoted SQL identifier, with inner quotes doubled. Identifiers come
// from our own code, never from input, but are quoted all the same.
inline std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace orlan

#endif  // ORLAN_DATABASE_IDENTIFICADOR_H_
