#include "database/sqlite/sqlite_banco_atual.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "database/historico.h"
#include "database/identificador.h"
#include "database/sqlite/recordset.h"

namespace orlan {

namespace {

// The schema name of the attached temporary database. Ours alone: a host
// never attaches anything under it.
constexpr std::string_view kAnexo = "orlan_prf";

constexpr std::string_view kDataCadastro = "DataCadastro";

// The schema name under which a temporary database is attached to receive
// an archived return.
constexpr std::string_view kExtração = "orlan_arquivado";

// The exact name of `campo` among `colunas`, matched without regard to
// letter case as the host's engine does; empty when absent.
std::string NomeReal(const std::vector<ColumnInfo>& colunas, std::string_view campo) {
  for (const ColumnInfo& c : colunas) {
    if (c.name == campo) return c.name;
  }
  const QString dobrado = QString::fromUtf8(campo.data(), static_cast<int>(campo.size())).toCaseFolded();
  for (const ColumnInfo& c : colunas) {
    if (c.folded == dobrado) return c.name;
  }
  return {};
}

std::string NomeExigido(const std::vector<ColumnInfo>& colunas, std::string_view campo, std::string_view tabela,
                        bool atual) {
  std::string nome = NomeReal(colunas, campo);
  if (!nome.empty()) return nome;
  if (atual) throw CampoFaltaNoAtual(campo, tabela);
  throw DbError(kErrFieldNotFound, "O banco temporário não tem o campo " + std::string(campo) + " na tabela " +
                                       std::string(tabela) + ". Verifique o arquivo de novo.");
}

// The columns of an archive's copy, read from the schema each time; none
// for a copy the database lacks.
std::vector<ColumnInfo> ColunasDaCópia(Database& db, std::string_view cópia) {
  std::vector<ColumnInfo> colunas;
  Recordset r = db.openQuery("SELECT name FROM main.pragma_table_info(?) ORDER BY cid", {QString::fromUtf8(cópia.data(), static_cast<int>(cópia.size()))});
  for (; !r.eof(); r.moveNext()) {
    ColumnInfo c;
    c.name = r.value("name").toString().toStdString();
    c.folded = QString::fromStdString(c.name).toCaseFolded();
    colunas.push_back(std::move(c));
  }
  return colunas;
}

// The columns of `tabela` that `cópia` has too (letter case ignored), in
// `tabela`'s order, under `tabela`'s names.
std::vector<std::string> ColunasComuns(Database& db, std::string_view tabela, std::string_view cópia) {
  const std::vector<ColumnInfo> de_cópia = ColunasDaCópia(db, cópia);
  std::vector<std::string> nomes;
  for (const ColumnInfo& c : db.tableColumns(tabela)) {
    if (!NomeReal(de_cópia, c.name).empty()) nomes.push_back(c.name);
  }
  return nomes;
}

std::int32_t ChaveInt32(const QVariant& valor, const char* qual) {
  bool ok = false;
  const qlonglong n = valor.isValid() ? valor.toLongLong(&ok) : 0;
  if (!ok || n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
    throw DbError(kErrOther, std::string("A chave ") + qual + " não é um número inteiro de 32 bits.",
                  valor.toString().toStdString());
  }
  return static_cast<std::int32_t>(n);
}

// A JSON array of arrays: a batch's values travel as one bound parameter,
// which json_each() turns back into rows, so that a batch costs one
// statement however many documents it has.
QString Json(const QJsonArray& linhas) { return QString::fromUtf8(QJsonDocument(linhas).toJson(QJsonDocument::Compact)); }

QString Json(std::span<const SessãoCópia::DocumentoLote> docs) {
  QJsonArray linhas;
  for (const SessãoCópia::DocumentoLote& d : docs) linhas.append(QJsonArray{d.ie, d.ref1.toString(Qt::ISODate)});
  return Json(linhas);
}

class SqliteSessão : public SessãoCópia {
 public:
  SqliteSessão(std::shared_ptr<Database> atual, std::shared_ptr<Database> temp);
  ~SqliteSessão() override;

  void iniciar() override;
  void confirmar() override;
  void desfazer() noexcept override;
  bool emTransação() override { return atual_->inTransaction(); }
  void pontoSalvamento(std::string_view nome) override { atual_->execute("SAVEPOINT " + QuoteIdentifier(nome)); }
  void liberarPonto(std::string_view nome) override { atual_->execute("RELEASE " + QuoteIdentifier(nome)); }
  void voltarAoPonto(std::string_view nome) noexcept override;

  // The write transaction holds the whole file: every document of it is
  // locked already.
  void bloquearDocumento(const QString&, const QDate&) override {}
  bool tentarBloquearDocumento(const QString&, const QDate&) override { return true; }
  void bloquearContribuinte(const QString&) override {}
  bool tentarBloquearContribuinte(const QString&) override { return true; }

  bool temContribuinte(const QString& ie) override;
  void copiarContribuinte(const QString& ie, const QDate& cadastro) override;
  std::optional<std::int64_t> retornoExistente(const QString& ie, const QDate& ref1) override;
  void apagarRetorno(std::int64_t nro_qur) override;
  std::int32_t copiarCabeçalho(std::int32_t nro_qur_temp) override;
  int copiarTabela(const schema::TableCopy& c, std::int32_t chave_origem, std::int32_t chave_nova) override;
  Ocorrências copiarOcorrências(std::int32_t nro_qur_temp, std::int32_t nro_qur_novo) override;
  std::vector<std::optional<std::int64_t>> retornosExistentes(std::span<const DocumentoLote> docs) override;
  std::optional<EstadoLote> bloquearLote(std::span<const DocumentoLote> docs, bool esperar) override;
  LoteCopiado copiarLote(std::span<const ItemLote> itens, const OrigemHistórico& origem, const QDate& cadastro) override;
  int copiarContribuintes(std::span<const ItemLote> itens, const QDate& cadastro) override;
  // Another connection's commit moves the file's version.
  std::vector<std::string> marcoAlheio() override {
    return {atual_->scalar("PRAGMA main.data_version").toString().toStdString()};
  }
  void registrarHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha) override;
  bool temHistórico();
  std::int64_t commits() const override { return atual_->commitCount() - commits_iniciais_; }

 private:
  struct Textos {
    std::string pelo_mapa;  // INSERT ... SELECT of the rows of the noted occurrences
    std::string pelo_lote;  // INSERT ... SELECT of the rows of the noted documents stored
  };
  void exigirTabela(std::string_view tabela);
  const Textos& textos(const schema::TableCopy& c);
  // The texts, or null when the current database lacks the table or a field
  // and `existe` finds no source row that would need it.
  const Textos* textosSeNecessários(const schema::TableCopy& c, const std::string& existe);

  // Every copy, of one document or of a batch, goes by the same steps over
  // the documents noted in temp.orlan_lote: a document alone is a batch of
  // one.
  void anotarLote(std::span<const ItemLote> itens);
  int contribuintesDoLote(const QDate& cadastro);
  void apagarDoLote();
  // Keeps in the archive, whole, each return the noted documents replace
  // (apagarDoLote deletes them next), and notes its archive row.
  void arquivarDoLote();
  bool temArquivo();
  // Stores the headers of the noted documents to store; their new keys go
  // to `r` (for the items at `armazenados`) and to the notes.
  void cabeçalhosDoLote(const std::vector<size_t>& armazenados, LoteCopiado* r);
  int detalheDoLote(const schema::TableCopy& c);
  // The noted documents' occurrences, noted with their new Códigos, and the
  // rows of their registers.
  void ocorrênciasDoLote(LoteCopiado* r);
  // The rows of `registro` of the noted occurrences.
  int registrosDasOcorrências(const schema::TableCopy& registro);
  void históricoDoLote(const OrigemHistórico& origem);
  // Notes each new occurrence's Código beside the file's, and each item's.
  void anotarOcorrênciasDoLote(int n, LoteCopiado* r);
  // The current and temporary database's names of `campos` of `tabela`, as
  // two column lists; `omitir` names a field whose value the caller binds.
  // Fields that may lack are left out when either database lacks them.
  struct Colunas {
    std::string destino;
    std::string origem;  // each prefixed with "x."
  };
  Colunas colunas(std::string_view tabela, std::span<const schema::FieldDef> campos, std::string_view omitir = {});
  // The row number of the first of the `n` rows of main's `tabela` that
  // the last statement added; the others follow it one by one.
  qlonglong primeiraNova(std::string_view tabela, int n);

  std::shared_ptr<Database> atual_;
  std::shared_ptr<Database> temp_;
  std::int64_t commits_iniciais_;
  int temp_store_anterior_ = 0;
  qlonglong cache_anterior_ = 0;
  bool anexou_ = false;
  std::optional<Transaction> escrita_;
  std::optional<Transaction> leitura_temp_;
  std::vector<std::string> tabelas_vistas_;  // tables the current database was found to have
  std::map<std::string_view, Textos> textos_;
  // Per data table, the columns its archive copy shares with it: read once
  // per session, not once per batch.
  std::map<std::string_view, std::vector<std::string>> colunas_arquivadas_;
  std::optional<bool> tem_histórico_;
  std::optional<bool> tem_arquivo_;
};

constexpr int kTempStoreArquivo = 1;
// The least page cache a session works with, in KiB.
constexpr qlonglong kCacheKiB = 65536;
constexpr int kTempStoreMemória = 2;

SqliteSessão::SqliteSessão(std::shared_ptr<Database> atual, std::shared_ptr<Database> temp)
    : atual_(std::move(atual)), temp_(std::move(temp)), commits_iniciais_(atual_->commitCount()) {
  if (atual_->inTransaction()) {
    throw DbError(kErrInvalidOperation, "O banco de dados atual já está com uma transação aberta.");
  }
  const std::string arquivo = temp_->fileName();
  if (atual_->scalar("SELECT 1 FROM pragma_database_list WHERE name = ?", {QString::fromUtf8(kAnexo.data())}).isValid()) {
    atual_->execute("DETACH DATABASE " + std::string(kAnexo));
  }
  atual_->execute("ATTACH DATABASE ? AS " + std::string(kAnexo), {QString::fromStdString(arquivo)});
  anexou_ = true;
  // Attached by its name: what now lies under that name must be the file
  // the check wrote and the control holds open, never one put there since.
  if (!temp_->sameFileAsOpened()) {
    atual_->execute("DETACH DATABASE " + std::string(kAnexo));
    anexou_ = false;
    throw DbError(kErrIo, "O banco temporário " + arquivo +
                              " foi apagado ou trocado depois da verificação. Verifique o arquivo de novo.");
  }
  // While a session lasts the connection keeps its temporary files in
  // memory: each document's savepoint and each statement journal copy the
  // pages they change there, and on disk that copy would be a write per
  // statement. (Changing it drops the connection's temporary tables; the
  // control's connection keeps none.)
  temp_store_anterior_ = atual_->scalar("PRAGMA temp_store").toInt();
  if (temp_store_anterior_ != kTempStoreMemória) atual_->execute("PRAGMA temp_store = MEMORY");
  // A batch changes a few megabytes of pages in one transaction: with the
  // default cache SQLite writes changed pages out before the commit, and
  // writes them again at it.
  cache_anterior_ = atual_->scalar("PRAGMA cache_size").toLongLong();
  const qlonglong kib_anterior = cache_anterior_ < 0
                                     ? -cache_anterior_
                                     : cache_anterior_ * atual_->scalar("PRAGMA page_size").toLongLong() / 1024;
  if (kib_anterior < kCacheKiB) atual_->execute("PRAGMA cache_size = -" + std::to_string(kCacheKiB));
}

SqliteSessão::~SqliteSessão() {
  desfazer();
  if (!atual_->isOpen()) return;
  try {
    if (anexou_) atual_->execute("DETACH DATABASE " + std::string(kAnexo));
    if (cache_anterior_ != atual_->scalar("PRAGMA cache_size").toLongLong()) {
      atual_->execute("PRAGMA cache_size = " + std::to_string(cache_anterior_));
    }
    if (temp_store_anterior_ != kTempStoreMemória) {
      atual_->execute(temp_store_anterior_ == kTempStoreArquivo ? "PRAGMA temp_store = FILE"
                                                                : "PRAGMA temp_store = DEFAULT");
    }
  } catch (const DbError&) {
    // The connection is left as it is; the next session attaches anew.
  }
}

void SqliteSessão::iniciar() {
  if (escrita_) throw DbError(kErrInvalidOperation, "Já há uma transação aberta no banco de dados atual.");
  escrita_.emplace(*atual_, Transaction::Mode::kWriteMain);
  atual_->execute("CREATE TEMP TABLE IF NOT EXISTS orlan_ocorrencias (novo INTEGER PRIMARY KEY, velho INTEGER NOT NULL)");
  atual_->execute(
      "CREATE TEMP TABLE IF NOT EXISTS orlan_lote (ordem INTEGER PRIMARY KEY, velho INTEGER NOT NULL, ie TEXT, ref1,"
      " contribuinte INTEGER NOT NULL, armazenar INTEGER NOT NULL, substituir INTEGER, novo INTEGER,"
      " arquivamento INTEGER)");
  // One read transaction on the temporary file for the whole unit:
  // otherwise each of the many small reads locks and unlocks it and looks
  // for a hot journal beside it.
  if (!temp_->inTransaction()) leitura_temp_.emplace(*temp_, Transaction::Mode::kRead);
}

void SqliteSessão::confirmar() {
  if (!escrita_) throw DbError(kErrInvalidOperation, "Não há transação aberta no banco de dados atual.");
  if (!atual_->inTransaction()) {
    // SQLite ends a transaction by itself after some I/O failures: whatever
    // it held is gone, and saying otherwise would report lost documents as
    // stored.
    desfazer();
    throw DbError(kErrIo, "O banco de dados atual abandonou a transação: os documentos importados desde a "
                          "última pergunta não foram gravados.");
  }
  atual_->execute("DROP TABLE IF EXISTS temp.orlan_ocorrencias");
  atual_->execute("DROP TABLE IF EXISTS temp.orlan_lote");
  escrita_->commit();
  escrita_.reset();
  if (leitura_temp_) {
    leitura_temp_->commit();
    leitura_temp_.reset();
  }
}

void SqliteSessão::desfazer() noexcept {
  escrita_.reset();
  leitura_temp_.reset();
}

void SqliteSessão::voltarAoPonto(std::string_view nome) noexcept {
  if (!atual_->isOpen() || !atual_->inTransaction()) return;
  const std::string q = QuoteIdentifier(nome);
  try {
    atual_->execute("ROLLBACK TO " + q);
    atual_->execute("RELEASE " + q);
  } catch (const DbError&) {
    // Nothing more can be undone here; the transaction's end decides.
  }
}

void SqliteSessão::exigirTabela(std::string_view tabela) {
  for (const std::string& vista : tabelas_vistas_) {
    if (vista == tabela) return;
  }
  if (!atual_->hasTable(tabela)) throw TabelaFaltaNoAtual(tabela);
  tabelas_vistas_.emplace_back(tabela);
}

bool SqliteSessão::temContribuinte(const QString& ie) {
  exigirTabela(schema::kTaxpayerTable);
  return atual_->scalar("SELECT 1 FROM main.tblContribuinte WHERE IE = ? COLLATE NOCASE LIMIT 1", {ie}).isValid();
}

void SqliteSessão::copiarContribuinte(const QString& ie, const QDate& cadastro) {
  ItemLote item;
  item.doc.ie = ie;
  item.copiarContribuinte = true;
  item.armazenar = false;
  anotarLote({&item, 1});
  if (contribuintesDoLote(cadastro) == 0) throw ContribuinteJáNoAtual(ie);
}

std::optional<std::int64_t> SqliteSessão::retornoExistente(const QString& ie, const QDate& ref1) {
  const DocumentoLote doc{0, ie, ref1};
  return retornosExistentes({&doc, 1}).front();
}

void SqliteSessão::apagarRetorno(std::int64_t nro_qur) {
  ItemLote item;
  item.armazenar = false;
  item.substituir = nro_qur;
  anotarLote({&item, 1});
  apagarDoLote();
}

std::int32_t SqliteSessão::copiarCabeçalho(std::int32_t nro_qur_temp) {
  ItemLote item;
  item.doc.nroQURTemp = nro_qur_temp;
  anotarLote({&item, 1});
  LoteCopiado r;
  r.novos.assign(1, 0);
  cabeçalhosDoLote({0}, &r);
  return r.novos.front();
}

int SqliteSessão::copiarTabela(const schema::TableCopy& c, std::int32_t chave_origem, std::int32_t chave_nova) {
  if (c.link == schema::kOccurrenceKey) {
    atual_->execute("DELETE FROM temp.orlan_ocorrencias");
    atual_->execute("INSERT INTO temp.orlan_ocorrencias (novo, velho) VALUES (?, ?)",
                    {QVariant(chave_nova), QVariant(chave_origem)});
    return registrosDasOcorrências(c);
  }
  ItemLote item;
  item.doc.nroQURTemp = chave_origem;
  item.novo = chave_nova;
  anotarLote({&item, 1});
  return detalheDoLote(c);
}

SessãoCópia::Ocorrências SqliteSessão::copiarOcorrências(std::int32_t nro_qur_temp, std::int32_t nro_qur_novo) {
  ItemLote item;
  item.doc.nroQURTemp = nro_qur_temp;
  item.novo = nro_qur_novo;
  anotarLote({&item, 1});
  LoteCopiado r;
  r.ocorrências.assign(1, {});
  ocorrênciasDoLote(&r);
  return OcorrênciasDe(r);
}

const SqliteSessão::Textos& SqliteSessão::textos(const schema::TableCopy& c) {
  auto pronto = textos_.find(c.table);
  if (pronto != textos_.end()) return pronto->second;
  const std::vector<ColumnInfo>& origem = temp_->tableColumns(c.table);
  exigirTabela(c.table);
  const std::vector<ColumnInfo>& destino = atual_->tableColumns(c.table);
  std::string nomes = QuoteIdentifier(NomeExigido(destino, c.link, c.table, true));
  std::string valores_x = "m.novo";
  for (const schema::FieldDef& campo : c.fields) {
    nomes += ", " + QuoteIdentifier(NomeExigido(destino, campo.name, c.table, true));
    valores_x += ", x." + QuoteIdentifier(NomeExigido(origem, campo.name, c.table, false));
  }
  const std::string tabela = QuoteIdentifier(c.table);
  const std::string fonte = std::string(kAnexo) + "." + tabela;
  const std::string vínculo = QuoteIdentifier(NomeExigido(origem, c.link, c.table, false));
  const std::string inserir = "INSERT INTO main." + tabela + " (" + nomes + ") SELECT ";
  Textos t;
  // CROSS JOIN keeps the few noted occurrences as the outer loop, in the
  // order they were stored; each one's rows follow through the file's index
  // on Código: no sort is needed.
  t.pelo_mapa = inserir + valores_x + " FROM temp.orlan_ocorrencias m CROSS JOIN " + fonte + " x ON x." + vínculo +
                " = m.velho";
  // The same nesting for the noted documents: in order, each one's rows
  // through the file's index, in the file's order.
  std::string valores_l = "l.novo";
  for (const schema::FieldDef& campo : c.fields) {
    valores_l += ", x." + QuoteIdentifier(NomeExigido(origem, campo.name, c.table, false));
  }
  t.pelo_lote = inserir + valores_l + " FROM temp.orlan_lote l CROSS JOIN " + fonte + " x ON x." + vínculo +
                " = l.velho WHERE l.novo IS NOT NULL ORDER BY l.ordem, x._rowid_";
  return textos_.emplace(c.table, std::move(t)).first->second;
}

const SqliteSessão::Textos* SqliteSessão::textosSeNecessários(const schema::TableCopy& c, const std::string& existe) {
  try {
    return &textos(c);
  } catch (const DbError& erro) {
    if (!erro.status().IsNotFound()) throw;
    // A return without rows in the table never needs it; the source table
    // itself is always there (the checker writes every table).
    if (atual_->scalar("SELECT EXISTS (" + existe + ")").toInt() == 0) return nullptr;
    throw;
  }
}

std::vector<std::optional<std::int64_t>> SqliteSessão::retornosExistentes(std::span<const DocumentoLote> docs) {
  exigirTabela(schema::kReturnTable);
  std::vector<std::optional<std::int64_t>> existentes;
  existentes.reserve(docs.size());
  Recordset r = atual_->openQuery(
      "SELECT (SELECT q.NroQUR FROM main.tblQUR q WHERE q.IE = json_extract(j.value, '$[0]') COLLATE NOCASE "
      "AND date(q.Ref1) = date(json_extract(j.value, '$[1]')) ORDER BY q._rowid_ LIMIT 1) AS nro "
      "FROM json_each(?) j ORDER BY j.key",
      {Json(docs)});
  for (; !r.eof(); r.moveNext()) {
    const QVariant nro = r.value("nro");
    existentes.push_back(nro.isValid() && !nro.isNull() ? std::optional<std::int64_t>(nro.toLongLong()) : std::nullopt);
  }
  return existentes;
}

std::optional<SessãoCópia::EstadoLote> SqliteSessão::bloquearLote(std::span<const DocumentoLote> docs, bool) {
  if (!escrita_) throw DbError(kErrInvalidOperation, "Não há transação aberta no banco de dados atual.");
  // The write transaction holds the whole file: the look is the lock's.
  EstadoLote estado;
  estado.existentes = retornosExistentes(docs);
  return estado;
}

SqliteSessão::Colunas SqliteSessão::colunas(std::string_view tabela, std::span<const schema::FieldDef> campos,
                                             std::string_view omitir) {
  exigirTabela(tabela);
  const std::vector<ColumnInfo>& origem = temp_->tableColumns(tabela);
  const std::vector<ColumnInfo>& destino = atual_->tableColumns(tabela);
  Colunas c;
  for (const schema::FieldDef& campo : campos) {
    if (campo.may_lack && (NomeReal(destino, campo.name).empty() || NomeReal(origem, campo.name).empty())) continue;
    if (!c.destino.empty()) {
      c.destino += ", ";
      c.origem += ", ";
    }
    c.destino += QuoteIdentifier(NomeExigido(destino, campo.name, tabela, true));
    c.origem += campo.name == omitir ? std::string("?") : "x." + QuoteIdentifier(NomeExigido(origem, campo.name, tabela, false));
  }
  return c;
}

qlonglong SqliteSessão::primeiraNova(std::string_view tabela, int n) {
  // The rows one statement adds under the write lock take consecutive
  // numbers after the largest: the last is known, the first follows, and
  // the count in between proves it.
  const qlonglong última = atual_->scalar("SELECT last_insert_rowid()").toLongLong();
  const qlonglong primeira = última - n + 1;
  const qlonglong entre = atual_->scalar("SELECT count(*) FROM main." + QuoteIdentifier(tabela) +
                                             " WHERE _rowid_ BETWEEN ? AND ?",
                                         {QVariant(primeira), QVariant(última)})
                              .toLongLong();
  if (entre != n) {
    throw DbError(kErrOther, "As chaves das novas linhas de " + std::string(tabela) + " não puderam ser lidas de volta.");
  }
  return primeira;
}

void SqliteSessão::anotarOcorrênciasDoLote(int n, LoteCopiado* r) {
  const qlonglong primeira = primeiraNova(schema::kOccurrenceTable, n);
  // The k-th occurrence read in the insert's order got row number
  // primeira + k - 1.
  const int anotadas = atual_->execute(
      "INSERT INTO temp.orlan_ocorrencias (novo, velho) SELECT q.\"Código\", v.velho FROM (SELECT x.\"Código\" AS velho, "
      "row_number() OVER (ORDER BY l.ordem, x._rowid_) AS k FROM temp.orlan_lote l CROSS JOIN " +
          std::string(kAnexo) +
          ".\"tblOcorrências\" x ON x.NroQUR = l.velho WHERE l.novo IS NOT NULL) v "
          "CROSS JOIN main.\"tblOcorrências\" q ON q._rowid_ = ? + v.k - 1 ORDER BY v.k",
      {QVariant(primeira)});
  if (anotadas != n) throw DbError(kErrOther, "Os códigos das novas ocorrências não puderam ser lidos de volta.");
  // In the order they were added.
  Recordset cada = atual_->openQuery(
      "SELECT l.ordem AS ordem, m.novo AS novo, m.velho AS velho FROM temp.orlan_ocorrencias m CROSS JOIN "
      "main.\"tblOcorrências\" q ON q.\"Código\" = m.novo CROSS JOIN temp.orlan_lote l ON l.novo = q.NroQUR "
      "ORDER BY m.novo");
  for (; !cada.eof(); cada.moveNext()) {
    r->ocorrências[static_cast<size_t>(cada.value("ordem").toLongLong() - 1)].emplace_back(
        ChaveInt32(cada.value("velho"), "Código da ocorrência do arquivo"),
        ChaveInt32(cada.value("novo"), "Código da nova ocorrência"));
  }
}

void SqliteSessão::anotarLote(std::span<const ItemLote> itens) {
  if (!escrita_) throw DbError(kErrInvalidOperation, "Não há transação aberta no banco de dados atual.");
  atual_->execute("DELETE FROM temp.orlan_lote");
  QJsonArray lote;
  for (const ItemLote& it : itens) {
    lote.append(QJsonArray{it.doc.nroQURTemp, it.doc.ie, it.doc.ref1.toString(Qt::ISODate), it.copiarContribuinte ? 1 : 0,
                           it.armazenar ? 1 : 0,
                           it.substituir ? QJsonValue(static_cast<qint64>(*it.substituir)) : QJsonValue(),
                           it.novo != 0 ? QJsonValue(it.novo) : QJsonValue()});
  }
  atual_->execute(
      "INSERT INTO temp.orlan_lote (ordem, velho, ie, ref1, contribuinte, armazenar, substituir, novo) SELECT "
      "j.key + 1, json_extract(j.value, '$[0]'), json_extract(j.value, '$[1]'), json_extract(j.value, '$[2]'), "
      "json_extract(j.value, '$[3]'), json_extract(j.value, '$[4]'), json_extract(j.value, '$[5]'), "
      "json_extract(j.value, '$[6]') FROM json_each(?) j ORDER BY j.key",
      {Json(lote)});
}

int SqliteSessão::contribuintesDoLote(const QDate& cadastro) {
  const std::string anexo(kAnexo);
  const QVariant sem_origem = atual_->scalar(
      "SELECT l.ie FROM temp.orlan_lote l WHERE l.contribuinte AND NOT EXISTS (SELECT 1 FROM " + anexo +
      ".tblContribuinte c WHERE c.IE = l.ie) ORDER BY l.ordem LIMIT 1");
  if (sem_origem.isValid()) throw ContribuinteFaltaNoTemporário(sem_origem.toString());
  const Colunas c = colunas(schema::kTaxpayerTable, schema::FindTable(schema::kTaxpayerTable)->fields, kDataCadastro);
  return atual_->execute("INSERT INTO main.tblContribuinte (" + c.destino + ") SELECT " + c.origem +
                             " FROM temp.orlan_lote l CROSS JOIN " + anexo +
                             ".tblContribuinte x ON x._rowid_ = (SELECT min(t._rowid_) FROM " + anexo +
                             ".tblContribuinte t WHERE t.IE = l.ie) WHERE l.contribuinte AND NOT EXISTS "
                             "(SELECT 1 FROM main.tblContribuinte a WHERE a.IE = l.ie COLLATE NOCASE) ORDER BY l.ordem",
                         {QVariant(cadastro)});
}

void SqliteSessão::apagarDoLote() {
  exigirTabela(schema::kReturnTable);
  if (temArquivo()) arquivarDoLote();
  const std::string alvo = " IN (SELECT substituir FROM temp.orlan_lote WHERE substituir IS NOT NULL)";
  // Table by table, registers first: the schema's cascade would look in
  // every child table once per return. It then finds nothing left.
  for (const schema::Parent nível : {schema::Parent::kOccurrence, schema::Parent::kReturn}) {
    for (const schema::RecordDef& d : schema::Records()) {
      if (d.parent != nível || !atual_->hasTable(d.table)) continue;
      const std::string onde =
          nível == schema::Parent::kReturn
              ? "NroQUR" + alvo
              : "\"Código\" IN (SELECT \"Código\" FROM main.\"tblOcorrências\" WHERE NroQUR" + alvo + ")";
      atual_->execute("DELETE FROM main." + QuoteIdentifier(d.table) + " WHERE " + onde);
    }
  }
  atual_->execute("DELETE FROM main.tblQUR WHERE NroQUR" + alvo);
}

void SqliteSessão::cabeçalhosDoLote(const std::vector<size_t>& armazenados, LoteCopiado* r) {
  const std::string anexo(kAnexo);
  const QVariant falta = atual_->scalar("SELECT l.velho FROM temp.orlan_lote l WHERE l.armazenar AND NOT EXISTS "
                                        "(SELECT 1 FROM " + anexo + ".tblQUR x WHERE x.NroQUR = l.velho) "
                                        "ORDER BY l.ordem LIMIT 1");
  if (falta.isValid()) throw DocumentoFaltaNoTemporário(falta.toLongLong());
  const Colunas c = colunas(schema::kReturnTable, schema::FindTable(schema::kReturnTable)->fields);
  const int n = atual_->execute("INSERT INTO main.tblQUR (" + c.destino + ") SELECT " + c.origem +
                                " FROM temp.orlan_lote l CROSS JOIN " + anexo +
                                ".tblQUR x ON x.NroQUR = l.velho WHERE l.armazenar ORDER BY l.ordem");
  if (n != static_cast<int>(armazenados.size())) {
    throw DbError(kErrOther, "As chaves dos novos documentos não puderam ser lidas de volta.");
  }
  const qlonglong primeira = primeiraNova(schema::kReturnTable, n);
  atual_->execute("UPDATE temp.orlan_lote SET novo = q.NroQUR FROM (SELECT ordem, row_number() OVER (ORDER BY ordem) AS k "
                  "FROM temp.orlan_lote WHERE armazenar) p CROSS JOIN main.tblQUR q ON q._rowid_ = ? + p.k - 1 "
                  "WHERE p.ordem = orlan_lote.ordem",
                  {QVariant(primeira)});
  Recordset novos = atual_->openQuery("SELECT novo FROM temp.orlan_lote WHERE armazenar ORDER BY ordem");
  for (size_t i = 0; i < armazenados.size(); ++i, novos.moveNext()) {
    if (novos.eof()) throw DbError(kErrOther, "As chaves dos novos documentos não puderam ser lidas de volta.");
    r->novos[armazenados[i]] = ChaveInt32(novos.value("novo"), "NroQUR do novo documento");
  }
  r->linhas[std::string(schema::kReturnTable)] += n;
}

int SqliteSessão::detalheDoLote(const schema::TableCopy& c) {
  const Textos* t = textosSeNecessários(c, "SELECT 1 FROM temp.orlan_lote l CROSS JOIN " + std::string(kAnexo) + "." +
                                               QuoteIdentifier(c.table) + " x ON x." + QuoteIdentifier(c.link) +
                                               " = l.velho WHERE l.novo IS NOT NULL");
  return t == nullptr ? 0 : atual_->execute(t->pelo_lote);
}

int SqliteSessão::registrosDasOcorrências(const schema::TableCopy& registro) {
  const Textos* t = textosSeNecessários(registro, "SELECT 1 FROM temp.orlan_ocorrencias m CROSS JOIN " +
                                                      std::string(kAnexo) + "." + QuoteIdentifier(registro.table) +
                                                      " x ON x." + QuoteIdentifier(registro.link) + " = m.velho");
  return t == nullptr ? 0 : atual_->execute(t->pelo_mapa);
}

void SqliteSessão::ocorrênciasDoLote(LoteCopiado* r) {
  atual_->execute("DELETE FROM temp.orlan_ocorrencias");
  const int linhas = detalheDoLote(schema::CopyOf(schema::kOccurrenceTable));
  if (linhas == 0) return;
  r->linhas[std::string(schema::kOccurrenceTable)] += linhas;
  anotarOcorrênciasDoLote(linhas, r);
  for (const schema::TableCopy& registro : schema::OccurrenceRegisterCopies()) {
    const int n = registrosDasOcorrências(registro);
    if (n > 0) r->linhas[std::string(registro.table)] += n;
  }
}

void SqliteSessão::históricoDoLote(const OrigemHistórico& origem) {
  if (!temHistórico()) return;
  const auto palavra = [&](bool armazenar, bool substituir) {
    return QString::fromUtf8(TextoResultado(ResultadoDoItem(origem, armazenar, substituir)).data());
  };
  atual_->execute("INSERT INTO main." + QuoteIdentifier(kTabelaHistórico) + " (" + ListaColunasHistórico() +
                      ") SELECT ?, ?, ?, ?, ?, l.ie, l.ref1, CASE WHEN NOT l.armazenar THEN ? "
                      "WHEN l.substituir IS NOT NULL THEN ? ELSE ? END, l.substituir, l.novo "
                      "FROM temp.orlan_lote l ORDER BY l.ordem",
                  {origem.execução, origem.usuário, origem.máquina, origem.arquivo, origem.sha256, palavra(false, false),
                   palavra(true, true), palavra(true, false)});
}

bool SqliteSessão::temArquivo() {
  if (!tem_arquivo_) tem_arquivo_ = atual_->hasTable(schema::kArchiveTable);
  return *tem_arquivo_;
}

void SqliteSessão::arquivarDoLote() {
  const std::string a = "main." + QuoteIdentifier(schema::kArchiveTable);
  atual_->execute("INSERT INTO " + a + " (\"NroQUR\", \"IE\", \"Ref1\") SELECT q.NroQUR, q.IE, q.Ref1 "
                  "FROM temp.orlan_lote l CROSS JOIN main.tblQUR q ON q.NroQUR = l.substituir ORDER BY l.ordem");
  atual_->execute("UPDATE temp.orlan_lote SET arquivamento = (SELECT a.\"Código\" FROM " + a +
                  " a WHERE a.\"NroQUR\" = orlan_lote.substituir) WHERE substituir IS NOT NULL");
  for (const schema::RecordDef& r : schema::Records()) {
    if (!atual_->hasTable(r.table)) continue;
    const std::string cópia = schema::ArchivedTable(r.table);
    auto [lugar, novo] = colunas_arquivadas_.try_emplace(r.table);
    if (novo) lugar->second = ColunasComuns(*atual_, r.table, cópia);
    const std::vector<std::string>& nomes = lugar->second;
    std::string destino = QuoteIdentifier(schema::kArchiveLink) + ", " + QuoteIdentifier(schema::kArchiveOrder);
    std::string origem_x = "l.arquivamento, x._rowid_";
    for (const std::string& n : nomes) {
      destino += ", " + QuoteIdentifier(n);
      origem_x += ", x." + QuoteIdentifier(n);
    }
    const std::string t = "main." + QuoteIdentifier(r.table);
    std::string de;
    std::string ordem = "l.ordem, x._rowid_";
    switch (r.parent) {
      case schema::Parent::kFile:
        de = a + " q ON q.\"Código\" = l.arquivamento CROSS JOIN " + t + " x ON x.IE = q.IE COLLATE NOCASE";
        break;
      case schema::Parent::kTaxpayer:
      case schema::Parent::kReturn:
        de = t + " x ON x.NroQUR = l.substituir";
        break;
      case schema::Parent::kOccurrence:
        de = "main.\"tblOcorrências\" o ON o.NroQUR = l.substituir CROSS JOIN " + t + " x ON x.\"Código\" = o.\"Código\"";
        ordem = "l.ordem, o._rowid_, x._rowid_";
        break;
    }
    atual_->execute("INSERT INTO main." + QuoteIdentifier(cópia) + " (" + destino + ") SELECT " + origem_x +
                    " FROM temp.orlan_lote l CROSS JOIN " + de + " WHERE l.arquivamento IS NOT NULL ORDER BY " + ordem);
  }
}

SessãoCópia::LoteCopiado SqliteSessão::copiarLote(std::span<const ItemLote> itens, const OrigemHistórico& origem,
                                                  const QDate& cadastro) {
  LoteCopiado r;
  r.novos.assign(itens.size(), 0);
  r.ocorrências.assign(itens.size(), {});
  std::vector<size_t> armazenados;
  bool contribuintes = false;
  bool substituídos = false;
  for (size_t k = 0; k < itens.size(); ++k) {
    contribuintes = contribuintes || itens[k].copiarContribuinte;
    substituídos = substituídos || itens[k].substituir;
    if (itens[k].armazenar) armazenados.push_back(k);
  }
  anotarLote(itens);
  if (contribuintes) {
    const int n = contribuintesDoLote(cadastro);
    if (n > 0) r.linhas[std::string(schema::kTaxpayerTable)] += n;
  }
  if (substituídos) apagarDoLote();
  if (!armazenados.empty()) {
    cabeçalhosDoLote(armazenados, &r);
    for (const schema::TableCopy& cópia : schema::ReturnDetailCopies()) {
      if (cópia.table == schema::kOccurrenceTable) {
        ocorrênciasDoLote(&r);
        continue;
      }
      const int n = detalheDoLote(cópia);
      if (n > 0) r.linhas[std::string(cópia.table)] += n;
    }
  }
  históricoDoLote(origem);
  return r;
}

int SqliteSessão::copiarContribuintes(std::span<const ItemLote> itens, const QDate& cadastro) {
  bool algum = false;
  for (const ItemLote& it : itens) algum = algum || it.copiarContribuinte;
  // The batch's documents are still noted from copiarLote.
  return algum ? contribuintesDoLote(cadastro) : 0;
}

bool SqliteSessão::temHistórico() {
  if (!tem_histórico_) tem_histórico_ = atual_->hasTable(kTabelaHistórico);
  return *tem_histórico_;
}

void SqliteSessão::registrarHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha) {
  if (!temHistórico()) return;
  std::string marcas;
  for (size_t i = 0; i < std::size(kColunasHistórico); ++i) marcas += i == 0 ? "?" : ", ?";
  atual_->execute("INSERT INTO main." + QuoteIdentifier(kTabelaHistórico) + " (" + ListaColunasHistórico() +
                      ") VALUES (" + marcas + ")",
                  ValoresHistórico(origem, linha));
}

}  // namespace

QString SqliteBancoAtual::nome() const { return QString::fromStdString(db_->path()); }

std::optional<QVariant> SqliteBancoAtual::refLimite() {
  Recordset perola = db_->openRecordset(schema::kLimitTable);
  if (perola.eof()) return std::nullopt;
  return perola.value("RefLimite");
}

void SqliteBancoAtual::gravarRefLimite(const QString& ano) {
  const std::string tabela = QuoteIdentifier(schema::kLimitTable);
  Transaction t(*db_);
  if (db_->execute("UPDATE " + tabela + " SET RefLimite = ?", {ano}) == 0) {
    db_->execute("INSERT INTO " + tabela + " (RefLimite) VALUES (?)", {ano});
  }
  t.commit();
}

bool SqliteBancoAtual::temHistórico() { return db_->hasTable(kTabelaHistórico); }

bool SqliteBancoAtual::temArquivo() { return db_->hasTable(schema::kArchiveTable); }

void SqliteBancoAtual::extrairArquivado(std::int64_t arquivamento, const std::string& caminho_temp) {
  const QVariant id(static_cast<qlonglong>(arquivamento));
  if (!temArquivo() ||
      !db_->scalar("SELECT 1 FROM " + QuoteIdentifier(schema::kArchiveTable) + " WHERE \"Código\" = ?", {id}).isValid()) {
    throw ArquivamentoInexistente(arquivamento);
  }
  db_->execute("ATTACH DATABASE ? AS " + std::string(kExtração), {QString::fromStdString(caminho_temp)});
  struct Desanexar {
    Database& db;
    ~Desanexar() {
      try {
        db.execute("DETACH DATABASE " + std::string(kExtração));
      } catch (const DbError&) {
        // The next extraction attaches under the same name and says why.
      }
    }
  } desanexar{*db_};
  {
    // Only the temporary file is written: the current one is read under a
    // shared lock, so another run writing it is neither held up nor waited for.
    Transaction t(*db_, Transaction::Mode::kRead);
    for (const schema::RecordDef& r : schema::Records()) {
      const std::string cópia = schema::ArchivedTable(r.table);
      if (!db_->hasTable(cópia)) continue;
      const std::vector<ColumnInfo> arquivadas = ColunasDaCópia(*db_, cópia);
      std::string nomes;
      std::vector<std::string_view> colunas = schema::KeyColumns(r);
      for (const schema::FieldDef& f : r.fields) colunas.push_back(f.name);
      for (std::string_view c : colunas) {
        const std::string real = NomeReal(arquivadas, c);
        if (real.empty()) continue;
        nomes += (nomes.empty() ? "" : ", ") + QuoteIdentifier(real);
      }
      db_->execute("INSERT INTO " + std::string(kExtração) + "." + QuoteIdentifier(r.table) + " (" + nomes + ") SELECT " +
                       nomes + " FROM main." + QuoteIdentifier(cópia) + " WHERE " + QuoteIdentifier(schema::kArchiveLink) +
                       " = ? ORDER BY " + QuoteIdentifier(schema::kArchiveOrder),
                   {id});
    }
    t.commit();
  }
}

int SqliteBancoAtual::podarArquivo(const QDate& dia) {
  if (!temArquivo()) return 0;
  const std::string antes = "SELECT \"Código\" FROM " + QuoteIdentifier(schema::kArchiveTable) + " WHERE \"Momento\" < ?";
  const Params params{dia.toString(Qt::ISODate)};
  Transaction t(*db_);
  for (const schema::RecordDef& r : schema::Records()) {
    const std::string cópia = schema::ArchivedTable(r.table);
    if (db_->hasTable(cópia)) {
      db_->execute("DELETE FROM " + QuoteIdentifier(cópia) + " WHERE " + QuoteIdentifier(schema::kArchiveLink) + " IN (" +
                       antes + ")",
                   params);
    }
  }
  const int n = db_->execute("DELETE FROM " + QuoteIdentifier(schema::kArchiveTable) + " WHERE \"Momento\" < ?", params);
  t.commit();
  return n;
}

std::vector<LinhaHistórico> SqliteBancoAtual::histórico(int execuções) {
  if (!temHistórico()) return {};
  FormaHistórico forma;
  for (const ColumnInfo& c : db_->tableColumns(kTabelaHistórico)) forma.login = forma.login || c.name == "Login";
  forma.arquivo = db_->hasTable(schema::kArchiveTable);
  Recordset r = db_->openQuery(ConsultaHistórico("h.\"Momento\"", "?", forma), {QVariant(execuções)});
  std::vector<LinhaHistórico> linhas;
  for (; !r.eof(); r.moveNext()) {
    linhas.push_back(LinhaDoHistórico([&](int i) { return r.value(kColunasHistóricoLidas[i]); }));
  }
  return linhas;
}

Status AbrirBancoAtualSqlite(const QString& nome, std::shared_ptr<BancoAtual>* out) {
  const QFileInfo arquivo(nome);
  const std::string caminho = nome.toStdString();
  if (arquivo.isDir()) {
    return Status(kErrCannotOpen, "\"" + caminho + "\" é uma pasta, não um banco de dados atual.");
  }
  if (!arquivo.exists()) return Status(kErrCannotOpen, "O banco de dados atual \"" + caminho + "\" não existe.");
  std::shared_ptr<Database> db;
  Status s = Database::Open(caminho, Database::OpenMode::kExisting, &db);
  if (!s.ok()) return s;
  try {
    // A database without the returns' table is some other program's.
    if (!db->hasTable(schema::kReturnTable)) {
      return Status(kErrNotCurrentDatabase, "O banco de dados \"" + caminho +
                                                "\" não é um banco de dados atual: não tem a tabela dos documentos "
                                                "(tblQUR).");
    }
  } catch (const DbError& e) {
    return e.status();
  }
  *out = std::make_shared<SqliteBancoAtual>(std::move(db));
  return Status::OK();
}

ContagemBanco SqliteBancoAtual::contagem() const {
  return ContagemBanco{db_->statementCount(), 0, db_->commitCount()};
}

std::unique_ptr<SessãoCópia> SqliteBancoAtual::abrirSessão(std::shared_ptr<Database> temp) {
  return std::make_unique<SqliteSessão>(db_, std::move(temp));
}

}  // namespace orlan
