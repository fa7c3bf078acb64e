#include "database/sqlite/sqlite_handle.h"

#include <QDate>
#include <QDateTime>
#include <QString>

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

ColumnInfo::Kind KindOfDecltype(const char* decl) {
  if (decl == nullptr) return ColumnInfo::Kind::kPlain;
  const QString d = QString::fromUtf8(decl).trimmed().toUpper();
  if (d == QLatin1String("DATE")) return ColumnInfo::Kind::kDate;
  if (d == QLatin1String("DATETIME")) return ColumnInfo::Kind::kDateTime;
  return ColumnInfo::Kind::kPlain;
}

}  // namespace

void ConnectionCloser::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }

void StatementFinalizer::operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }

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

void BindValue(sqlite3_stmt* stmt, int index, const QVariant& value) {
  int rc = SQLITE_OK;
  if (!value.isValid() || value.isNull()) {
    rc = sqlite3_bind_null(stmt, index);
  } else {
    switch (value.typeId()) {
      case QMetaType::Bool:
      case QMetaType::Int:
      case QMetaType::UInt:
      case QMetaType::Long:
      case QMetaType::LongLong:
      case QMetaType::Short:
      case QMetaType::UShort:
      case QMetaType::Char:
      case QMetaType::SChar:
      case QMetaType::UChar:
        rc = sqlite3_bind_int64(stmt, index, value.toLongLong());
        break;
      case QMetaType::ULong:
      case QMetaType::ULongLong:
        rc = sqlite3_bind_int64(stmt, index, static_cast<sqlite3_int64>(value.toULongLong()));
        break;
      case QMetaType::Double:
      case QMetaType::Float:
        rc = sqlite3_bind_double(stmt, index, value.toDouble());
        break;
      case QMetaType::QDate: {
        const QByteArray t = value.toDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
        rc = sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
      case QMetaType::QDateTime: {
        const QByteArray t = value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8();
        rc = sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
      case QMetaType::QByteArray: {
        const QByteArray b = value.toByteArray();
        rc = sqlite3_bind_blob(stmt, index, b.constData(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        break;
      }
      default: {
        const QByteArray t = value.toString().toUtf8();
        rc = sqlite3_bind_text(stmt, index, t.constData(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
        break;
      }
    }
  }
  if (rc != SQLITE_OK) {
    throw DbError(StatusFromSqlite(sqlite3_db_handle(stmt), rc, sqlite3_db_filename(sqlite3_db_handle(stmt), "main")));
  }
}

void BindAll(sqlite3_stmt* stmt, const Params& params) {
  for (size_t i = 0; i < params.size(); ++i) BindValue(stmt, static_cast<int>(i) + 1, params[i]);
}

QVariant ColumnValue(sqlite3_stmt* stmt, int col, ColumnInfo::Kind kind) {
  switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_NULL:
      return QVariant();
    case SQLITE_INTEGER:
      return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, col)));
    case SQLITE_FLOAT:
      return QVariant(sqlite3_column_double(stmt, col));
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(stmt, col);
      return QVariant(QByteArray(static_cast<const char*>(p), sqlite3_column_bytes(stmt, col)));
    }
    default:
      break;
  }
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
  const QString text = QString::fromUtf8(p, sqlite3_column_bytes(stmt, col));
  if (kind == ColumnInfo::Kind::kDate || kind == ColumnInfo::Kind::kDateTime) {
    // "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss", read by hand: QDateTime's
    // parser consults the local time zone on every call.
    auto number = [&text](int from, int length) {
      int n = 0;
      for (int i = from; i < from + length; ++i) {
        const QChar c = text[i];
        if (!c.isDigit()) return -1;
        n = n * 10 + c.digitValue();
      }
      return n;
    };
    const bool dated = (text.size() == 10 || text.size() == 19) && text[4] == QLatin1Char('-') &&
                       text[7] == QLatin1Char('-');
    if (dated) {
      const QDate d(number(0, 4), number(5, 2), number(8, 2));
      if (d.isValid() && text.size() == 10) return QVariant(d);
      if (d.isValid() && text[10] == QLatin1Char(' ') && text[13] == QLatin1Char(':') && text[16] == QLatin1Char(':')) {
        const QTime t(number(11, 2), number(14, 2), number(17, 2));
        // UTC, so that no local daylight-saving gap can move the time.
        if (t.isValid()) return QVariant(QDateTime(d, t, Qt::UTC));
      }
    }
  }
  return QVariant(text);
}

std::vector<ColumnInfo> DescribeColumns(sqlite3_stmt* stmt) {
  std::vector<ColumnInfo> out;
  const int n = sqlite3_column_count(stmt);
  for (int i = 0; i < n; ++i) {
    ColumnInfo c;
    c.name = sqlite3_column_name(stmt, i);
    c.folded = QString::fromUtf8(c.name).toCaseFolded();
    c.kind = KindOfDecltype(sqlite3_column_decltype(stmt, i));
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace orlan
