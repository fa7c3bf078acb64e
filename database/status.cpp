#include "database/status.h"

namespace orlan {

std::string Status::ToString() const {
  if (ok()) return "OK";
  std::string s = "Erro " + std::to_string(number_) + ": " + message_;
  if (!detail_.empty()) s += "\r\nDetalhe: " + detail_;
  return s;
}

Status StatusFromCurrentException(const std::string& doing) {
  try {
    throw;
  } catch (const DbError& e) {
    return e.status();
  } catch (const std::exception& e) {
    return Status(kErrOther, doing, e.what());
  } catch (...) {
    return Status(kErrOther, doing);
  }
}

}  // namespace orlan
