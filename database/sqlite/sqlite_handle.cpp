#include "database/sqlite/sqlite_handle.h"

namespace orlan {

namespace {

// Our text for each kind of failure; `onde` is the database's path.
std::string Texto(ErrorNumber number, std::string_view onde) {
  const std::string banco = "O banco de dados \"" + std::string(onde) + "\"";
  switch (number) {
    case kErrDuplicateKey:
      return banco + " já tem um registro com esse valor, que não pode se repetir.";
    case kErrForeignKey:
      return banco + " não tem o registro relacionado que este registro exige.";
    case kErrRequiredNull:
      return banco + " exige um valor que veio vazio.";
    case kErrLocked:
      return banco + " está bloqueado por outro usuário ou programa (a espera de 5 segundos acabou). "
                     "Tente de novo em instantes.";
    case kErrReadOnly:
      return banco + " está somente para leitura: não é possível gravar nele.";
    case kErrDiskFull:
      return "O disco do banco de dados \"" + std::string(onde) + "\" está cheio.";
    case kErrIo:
      return "Erro de leitura ou gravação no disco do banco de dados \"" + std::string(onde) + "\".";
    case kErrCorrupt:
      return banco + " está danificado.";
    case kErrNotADatabase:
      return "O arquivo \"" + std::string(onde) + "\" não é um banco de dados.";
    case kErrCannotOpen:
      return "Não foi possível abrir o banco de dados \"" + std::string(onde) + "\".";
    case kErrTableNotFound:
      return banco + " não tem uma tabela necessária.";
    case kErrFieldNotFound:
      return banco + " não tem um campo necessário.";
    case kErrInvalidOperation:
      return "Operação inválida no banco de dados \"" + std::string(onde) + "\".";
    default:
      return banco + " recusou a operação.";
  }
}

}  // namespace

StepResult Step(sqlite3_stmt* stmt, Status* error, std::string_view onde) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return StepResult::kRow;
  if (rc == SQLITE_DONE) return StepResult::kDone;
  if (error != nullptr) *error = StatusFromSqlite(sqlite3_db_handle(stmt), rc, onde);
  sqlite3_reset(stmt);
  return StepResult::kError;
}

Status StatusFromSqlite(sqlite3* db, int rc, std::string_view onde) {
  const std::string theirs = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  ErrorNumber number = kErrOther;
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
      number = kErrDuplicateKey;
      break;
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      number = kErrForeignKey;
      break;
    case SQLITE_CONSTRAINT_NOTNULL:
      number = kErrRequiredNull;
      break;
    default:
      switch (rc & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
          number = kErrLocked;
          break;
        case SQLITE_READONLY:
          number = kErrReadOnly;
          break;
        case SQLITE_FULL:
          number = kErrDiskFull;
          break;
        case SQLITE_IOERR:
          number = kErrIo;
          break;
        case SQLITE_CORRUPT:
          number = kErrCorrupt;
          break;
        case SQLITE_NOTADB:
          number = kErrNotADatabase;
          break;
        case SQLITE_CANTOPEN:
          number = kErrCannotOpen;
          break;
        case SQLITE_MISUSE:
          number = kErrInvalidOperation;
          break;
        case SQLITE_ERROR:
          if (theirs.rfind("no such table", 0) == 0) {
            number = kErrTableNotFound;
          } else if (theirs.rfind("no such column", 0) == 0 ||
                     theirs.find("has no column named") != std::string::npos) {
            number = kErrFieldNotFound;
          } else {
            number = kErrSql;
          }
          break;
        default:
          break;
      }
  }
  return Status(number, Texto(number, onde), theirs);
}

}  // namespace orlan
