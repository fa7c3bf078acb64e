#include "checker/escritor_banco_temp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <unordered_set>

#include "database/schema.h"

namespace orlan {

namespace {

using schema::Parent;

bool TemChavePrópria(const schema::RecordDef& r) {
  return r.parent == Parent::kFile || r.parent == Parent::kTaxpayer ||
         (r.parent == Parent::kReturn && r.table == schema::kOccurrenceTable);
}

bool TemChavePai(const schema::RecordDef& r) {
  return r.parent == Parent::kReturn || r.parent == Parent::kOccurrence;
}

std::string SqlInserção(const schema::RecordDef& r) {
  std::string colunas;
  int n = 0;
  auto coluna = [&](std::string_view nome) {
    if (n++ > 0) colunas += ", ";
    colunas += QuoteIdentifier(nome);
  };
  switch (r.parent) {
    case Parent::kFile:
      coluna("Id");
      break;
    case Parent::kTaxpayer:
      coluna(schema::kReturnKey);
      break;
    case Parent::kReturn:
      if (TemChavePrópria(r)) coluna(schema::kOccurrenceKey);
      coluna(schema::kReturnKey);
      break;
    case Parent::kOccurrence:
      coluna(schema::kOccurrenceKey);
      break;
  }
  for (const schema::FieldDef& f : r.fields) coluna(f.name);
  std::string sql = "INSERT INTO " + QuoteIdentifier(r.table) + " (" + colunas + ") VALUES (";
  for (int i = 0; i < n; ++i) sql += i == 0 ? "?" : ", ?";
  return sql + ")";
}

[[noreturn]] void FalhaSqlite(sqlite3* db, int rc, std::string_view fazendo) {
  throw DbError(StatusFromSqlite(db, rc, fazendo));
}

void CriarArquivo(const std::string& caminho) {
  for (int tentativa = 0; tentativa < 2; ++tentativa) {
    const int fd = ::open(caminho.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
    // A side file of this name can only be a leftover of an earlier process
    // that had this process's id; it is of no use to anyone.
    if (errno != EEXIST || tentativa > 0) break;
    ::unlink(caminho.c_str());
  }
  throw DbError(Status(kErrCannotOpen, "creating " + caminho + ": " + std::strerror(errno)));
}

}  // namespace

class EscritorBancoTemp::ConjuntoIEBanco : public prf::ConjuntoIE {
 public:
  explicit ConjuntoIEBanco(Database& db) : db_(db) {}

  void Incluir(std::string_view ie) override {
    if (!em_disco_) {
      memória_.emplace(ie);
      if (memória_.size() > kLimiteMemória) Transbordar();
      return;
    }
    Executar(incluir_.get(), ie);
  }

  bool Contém(std::string_view ie) override {
    // Returns of one taxpayer usually follow each other.
    if (ie == último_) return true;
    bool achou;
    if (!em_disco_) {
      achou = memória_.count(std::string(ie)) != 0;
    } else {
      achou = Executar(consultar_.get(), ie);
    }
    if (achou) último_.assign(ie);
    return achou;
  }

 private:
  static constexpr std::size_t kLimiteMemória = 100000;

  void Transbordar() {
    db_.executeScript("CREATE TEMP TABLE ies_contribuintes (ie TEXT PRIMARY KEY) WITHOUT ROWID");
    incluir_ = db_.acquireStatement("INSERT OR IGNORE INTO temp.ies_contribuintes (ie) VALUES (?)");
    consultar_ = db_.acquireStatement("SELECT 1 FROM temp.ies_contribuintes WHERE ie = ?");
    em_disco_ = true;
    for (const std::string& ie : memória_) Executar(incluir_.get(), ie);
    std::unordered_set<std::string>().swap(memória_);
  }

  // Runs `stmt` with `ie` bound; true when it gave a row.
  bool Executar(sqlite3_stmt* stmt, std::string_view ie) {
    sqlite3_bind_text(stmt, 1, ie.data(), static_cast<int>(ie.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) FalhaSqlite(db_.handle(), rc, "keeping the taxpayers' IEs");
    return rc == SQLITE_ROW;
  }

  Database& db_;
  std::unordered_set<std::string> memória_;
  bool em_disco_ = false;
  Statement incluir_;
  Statement consultar_;
  std::string último_;
};

EscritorBancoTemp::EscritorBancoTemp(std::string caminho_lateral) : caminho_(std::move(caminho_lateral)) {
  CriarArquivo(caminho_);
  try {
    const Status s = Database::Open(caminho_, Database::OpenMode::kExisting, &db_);
    if (!s.ok()) throw DbError(s);
    db_->executeScript(
        "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
        "PRAGMA cache_size = -8192;");
    transação_ = std::make_unique<Transaction>(*db_);
    schema::CreateTemporaryTables(*db_);
    for (const schema::RecordDef& r : schema::Records()) inserções_.push_back(db_->acquireStatement(SqlInserção(r)));
    ies_ = std::make_unique<ConjuntoIEBanco>(*db_);
  } catch (...) {
    Descartar();
    throw;
  }
}

prf::ConjuntoIE& EscritorBancoTemp::ies() { return *ies_; }

EscritorBancoTemp::~EscritorBancoTemp() {
  if (!concluído_) Descartar();
}

void EscritorBancoTemp::Gravar(const prf::Registro& r) {
  const auto índice = static_cast<std::size_t>(r.def - schema::Records().data());
  sqlite3_stmt* st = inserções_[índice].get();
  int i = 1;
  if (TemChavePrópria(*r.def)) sqlite3_bind_int64(st, i++, r.chave);
  if (TemChavePai(*r.def)) sqlite3_bind_int64(st, i++, r.chave_pai);
  for (const prf::Valor& v : r.campos) {
    switch (v.tipo) {
      case prf::Valor::Tipo::kNulo:
        sqlite3_bind_null(st, i);
        break;
      case prf::Valor::Tipo::kTexto:
        sqlite3_bind_text(st, i, v.texto.data(), static_cast<int>(v.texto.size()), SQLITE_STATIC);
        break;
      case prf::Valor::Tipo::kInteiro:
        sqlite3_bind_int64(st, i, v.inteiro);
        break;
      case prf::Valor::Tipo::kReal:
        sqlite3_bind_double(st, i, v.real);
        break;
    }
    ++i;
  }
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) {
    FalhaSqlite(db_->handle(), rc, "writing line " + std::to_string(r.linha) + " into " + std::string(r.def->table));
  }
}

void EscritorBancoTemp::Concluir(const std::function<void()>& progresso) {
  inserções_.clear();
  ies_.reset();
  struct Contexto {
    const std::function<void()>* progresso;
    std::chrono::steady_clock::time_point último;
    std::exception_ptr erro;
  } contexto{&progresso, std::chrono::steady_clock::now(), nullptr};
  auto aviso = [](void* p) -> int {
    auto* c = static_cast<Contexto*>(p);
    const auto agora = std::chrono::steady_clock::now();
    if (agora - c->último < std::chrono::milliseconds(100)) return 0;
    c->último = agora;
    try {
      (*c->progresso)();
    } catch (...) {
      c->erro = std::current_exception();
      return 1;  // interrupts the statement; the error is rethrown below
    }
    return 0;
  };
  if (progresso) sqlite3_progress_handler(db_->handle(), 20000, aviso, &contexto);
  try {
    schema::CreateTemporaryIndexes(*db_);
    transação_->commit();
  } catch (const DbError&) {
    sqlite3_progress_handler(db_->handle(), 0, nullptr, nullptr);
    if (contexto.erro) std::rethrow_exception(contexto.erro);
    throw;
  }
  sqlite3_progress_handler(db_->handle(), 0, nullptr, nullptr);
  transação_.reset();
  db_->close();
  db_.reset();
  concluído_ = true;
}

void EscritorBancoTemp::Descartar() {
  inserções_.clear();
  ies_.reset();
  transação_.reset();
  if (db_) {
    db_->close();
    db_.reset();
  }
  ::unlink(caminho_.c_str());
}

}  // namespace orlan
