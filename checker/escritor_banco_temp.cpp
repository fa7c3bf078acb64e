#include "checker/escritor_banco_temp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <optional>
#include <unordered_set>

#include "database/identificador.h"
#include "database/schema.h"
#include "database/sqlite/sqlite_schema.h"

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
  throw DbError(Status(kErrCannotOpen, "Não foi possível criar o banco temporário \"" + caminho + "\".",
                       std::strerror(errno)));
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
    Executar(*incluir_, ie);
  }

  bool Contém(std::string_view ie) override {
    // Returns of one taxpayer usually follow each other.
    if (ie == último_) return true;
    bool achou;
    if (!em_disco_) {
      achou = memória_.count(std::string(ie)) != 0;
    } else {
      achou = Executar(*consultar_, ie);
    }
    if (achou) último_.assign(ie);
    return achou;
  }

 private:
  static constexpr std::size_t kLimiteMemória = 100000;

  void Transbordar() {
    db_.executeScript("CREATE TEMP TABLE ies_contribuintes (ie TEXT PRIMARY KEY) WITHOUT ROWID");
    incluir_.emplace(db_.prepare("INSERT OR IGNORE INTO temp.ies_contribuintes (ie) VALUES (?)"));
    consultar_.emplace(db_.prepare("SELECT 1 FROM temp.ies_contribuintes WHERE ie = ?"));
    em_disco_ = true;
    for (const std::string& ie : memória_) Executar(*incluir_, ie);
    std::unordered_set<std::string>().swap(memória_);
  }

  // Runs `stmt` with `ie` bound; true when it gave a row.
  static bool Executar(Database::Prepared& stmt, std::string_view ie) {
    stmt.bindText(1, ie);
    return stmt.run();
  }

  Database& db_;
  std::unordered_set<std::string> memória_;
  bool em_disco_ = false;
  std::optional<Database::Prepared> incluir_;
  std::optional<Database::Prepared> consultar_;
  std::string último_;
};

EscritorBancoTemp::EscritorBancoTemp(std::string caminho_lateral) : caminho_(std::move(caminho_lateral)) {
  CriarArquivo(caminho_);
  try {
    const Status s = Database::Open(caminho_, Database::OpenMode::kExisting, &db_);
    if (!s.ok()) throw DbError(s);
    // Pages of 16 KiB, set while the file is still empty: a quarter of the
    // writes and of the B-tree's page splits for the same rows, about 5 % of
    // the check; the import reads such a file no slower. The page cache stays
    // 8 MiB.
    db_->executeScript(
        "PRAGMA page_size = 16384; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
        "PRAGMA locking_mode = EXCLUSIVE; PRAGMA cache_size = -8192;");
    transação_ = std::make_unique<Transaction>(*db_);
    schema::CreateTemporaryTables(*db_);
    for (const schema::RecordDef& r : schema::Records()) inserções_.push_back(db_->prepare(SqlInserção(r)));
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
  Database::Prepared& st = inserções_[índice];
  int i = 1;
  if (TemChavePrópria(*r.def)) st.bindInt(i++, r.chave);
  if (TemChavePai(*r.def)) st.bindInt(i++, r.chave_pai);
  for (const prf::Valor& v : r.campos) {
    switch (v.tipo) {
      case prf::Valor::Tipo::kNulo:
        st.bindNull(i);
        break;
      case prf::Valor::Tipo::kTexto:
        st.bindText(i, v.texto);
        break;
      case prf::Valor::Tipo::kInteiro:
        st.bindInt(i, v.inteiro);
        break;
      case prf::Valor::Tipo::kReal:
        st.bindReal(i, v.real);
        break;
    }
    ++i;
  }
  st.run();
}

void EscritorBancoTemp::Concluir(const std::function<void()>& progresso) {
  inserções_.clear();
  ies_.reset();
  struct Contexto {
    const std::function<void()>* progresso;
    std::chrono::steady_clock::time_point último;
    std::exception_ptr erro;
  } contexto{&progresso, std::chrono::steady_clock::now(), nullptr};
  auto aviso = [&contexto]() -> bool {
    const auto agora = std::chrono::steady_clock::now();
    if (agora - contexto.último < std::chrono::milliseconds(100)) return false;
    contexto.último = agora;
    try {
      (*contexto.progresso)();
    } catch (...) {
      contexto.erro = std::current_exception();
      return true;  // interrupts the statement; the error is rethrown below
    }
    return false;
  };
  if (progresso) db_->setProgressHandler(20000, aviso);
  try {
    schema::CreateTemporaryIndexes(*db_);
    transação_->commit();
  } catch (const DbError&) {
    db_->setProgressHandler(0, {});
    if (contexto.erro) std::rethrow_exception(contexto.erro);
    throw;
  }
  db_->setProgressHandler(0, {});
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
