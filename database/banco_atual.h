// The current database, whatever engine holds it: the one seam through which
// the control and the import engine reach it.
//
// Two implementations, each in its own folder: an SQLite file (the embedded
// default, database/sqlite/) and a PostgreSQL server shared by an office
// (database/pg/). AbrirBancoAtual picks one by the database's name
// (abrir_banco.cpp, the one file that knows both). The temporary database
// that the checker writes is always a local SQLite file (a Database); a copy
// session reads it and writes the current database.
//
// Every operation throws DbError on failure (numbers in status.h, texts in
// Portuguese with the engine's own text as the detail); callers at public
// entry points turn it into a Status.
#ifndef ORLAN_DATABASE_BANCO_ATUAL_H_
#define ORLAN_DATABASE_BANCO_ATUAL_H_

#include <QDate>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database/linha_historico.h"
#include "database/schema.h"
#include "database/status.h"

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

// The SQLite handle of the temporary database (database/sqlite/database.h).
class Database;

// The run log: one line per document an import run reached, written in the
// same transaction as the document, so that it never claims what the data
// does not hold. Current databases made by orlan-newdb have its table;
// others work without a log.
inline constexpr std::string_view kTabelaHistórico = "tblHistóricoImportação";

// The words of ResultadoDocumento as an SQL list, for the log's CHECK.
inline constexpr std::string_view kResultadosSql =
    "'importado', 'substituído', 'ignorado', 'falhou', 'restaurado', 'apagado'";
// Each of those words as an SQL literal ("'importado'", ...): a log's CHECK
// that lacks one of them was made before it.
std::vector<std::string> LiteraisDosResultados();

// Work counters of a current database's connection since it was opened.
struct ContagemBanco {
  std::int64_t comandos = 0;     // statements run
  std::int64_t idasEVoltas = 0;  // waits for a server's answer; 0 for a file
  std::int64_t commits = 0;
};

// One import's access to the current database, with the temporary database
// it copies from. Made by BancoAtual::abrirSessão; lives no longer than a run
// (or one register copy). Not thread-safe; one session per connection at a
// time.
//
// Units of work: nothing is written outside a transaction. iniciar() opens a
// write transaction; confirmar() commits it; desfazer() rolls it back and
// never throws. Savepoints nest inside it. Destroying a session with a
// transaction open rolls it back.
class SessãoCópia {
 public:
  virtual ~SessãoCópia() = default;

  virtual void iniciar() = 0;
  virtual void confirmar() = 0;
  virtual void desfazer() noexcept = 0;
  // False also when the engine ended the transaction by itself (some I/O
  // failures do): what it held is gone.
  virtual bool emTransação() = 0;
  virtual void pontoSalvamento(std::string_view nome) = 0;
  virtual void liberarPonto(std::string_view nome) = 0;
  // Undoes everything since the savepoint and ends it.
  virtual void voltarAoPonto(std::string_view nome) noexcept = 0;

  // Inside a transaction: holds, until it ends, the right to write the
  // returns of `ie` for the month of `ref1`. Other sessions asking for the
  // same taxpayer and month wait (at most the lock wait, then kErrLocked);
  // other taxpayers do not wait.
  virtual void bloquearDocumento(const QString& ie, const QDate& ref1) = 0;
  // The same without waiting: false when another session holds it.
  virtual bool tentarBloquearDocumento(const QString& ie, const QDate& ref1) = 0;
  // The same for the taxpayer record of `ie`, so that two sessions never
  // store one taxpayer twice.
  virtual void bloquearContribuinte(const QString& ie) = 0;
  virtual bool tentarBloquearContribuinte(const QString& ie) = 0;

  // True when the current database holds a taxpayer of `ie` (letter case
  // ignored).
  virtual bool temContribuinte(const QString& ie) = 0;
  // Stores the temporary database's first taxpayer record of `ie`, with
  // DataCadastro = `cadastro`. kErrDuplicateKey when the taxpayer is there.
  virtual void copiarContribuinte(const QString& ie, const QDate& cadastro) = 0;

  // The key of the current database's first return of `ie` whose Ref1 is the
  // day `ref1`, if there is one.
  virtual std::optional<std::int64_t> retornoExistente(const QString& ie, const QDate& ref1) = 0;
  // Deletes return `nro_qur` with every detail and register row.
  virtual void apagarRetorno(std::int64_t nro_qur) = 0;
  // Stores the temporary database's header `nro_qur_temp` under a key the
  // current database gives; returns that key.
  virtual std::int32_t copiarCabeçalho(std::int32_t nro_qur_temp) = 0;

  // The rows of `c.table` whose link field holds `chave_origem`, added under
  // `chave_nova`, in the temporary database's order. Returns how many. A
  // table or field missing from the current database is an error only when
  // there are such rows.
  virtual int copiarTabela(const schema::TableCopy& c, std::int32_t chave_origem, std::int32_t chave_nova) = 0;

  // The occurrences of return `nro_qur_temp` under `nro_qur_novo`, and the
  // rows of the four registers of each, under that occurrence's new Código.
  struct Ocorrências {
    int linhas = 0;                          // occurrences added
    std::map<std::string, int> registros;    // register rows added, per table (tables with rows only)
    std::int32_t últimoCódigoTemp = 0;       // the last occurrence's Código in each database
    std::int32_t últimoCódigoNovo = 0;
  };
  virtual Ocorrências copiarOcorrências(std::int32_t nro_qur_temp, std::int32_t nro_qur_novo) = 0;

  // --- batches: many documents in one step per table ---------------------

  // A document of a batch, in the run's order.
  struct DocumentoLote {
    std::int32_t nroQURTemp = 0;
    QString ie;
    QDate ref1;
  };

  // For each document, the key of the current database's first return of
  // its IE and day (as retornoExistente), learned in one query. Takes no
  // lock: the answer may change before the caller locks.
  virtual std::vector<std::optional<std::int64_t>> retornosExistentes(std::span<const DocumentoLote> docs) = 0;

  // Inside a transaction: takes the locks of every document's taxpayer and
  // month (bloquearDocumento and bloquearContribuinte), then reads under
  // them what retornosExistentes would. Without `esperar`, takes them
  // without waiting and gives nullopt when another session holds one (those
  // taken stay held until the transaction ends). With `esperar`, waits for
  // each as bloquearDocumento does, in an order every session shares, so
  // that two sessions waiting for each other's batches never deadlock.
  struct EstadoLote {
    std::vector<std::optional<std::int64_t>> existentes;
  };
  virtual std::optional<EstadoLote> bloquearLote(std::span<const DocumentoLote> docs, bool esperar) = 0;

  // What to do with a document of a batch.
  struct ItemLote {
    DocumentoLote doc;
    bool copiarContribuinte = false;  // store its taxpayer unless the current database has it
    bool armazenar = true;            // false: declined, only its taxpayer and log line are written
    std::optional<std::int64_t> substituir;  // the return deleted before storing this one
    // The keys an earlier copy of this item gave, when a batch is copied
    // again after going back to its savepoint: its header's NroQUR and its
    // occurrences' Códigos, in order. 0 and empty: the database numbers
    // them. (A file gives the same numbers again by itself: the rollback
    // took them back. A server's sequences do not go back.)
    std::int32_t novo = 0;
    std::vector<std::int32_t> códigosOcorrências;
  };
  struct LoteCopiado {
    std::vector<std::int32_t> novos;          // each item's new NroQUR; 0 when not stored
    std::map<std::string, int> linhas;        // rows added per table (tables with rows only)
    // Each item's occurrences in the order copied: their Código in the
    // temporary and in the current database.
    std::vector<std::vector<std::pair<std::int32_t, std::int32_t>>> ocorrências;
  };
  // Inside a transaction, and under the locks of bloquearLote: the
  // whole batch in one step per table, as if each document had gone through
  // copiarContribuinte (with DataCadastro = `cadastro`, for the items that
  // ask for it and whose taxpayer the current database lacks), apagarRetorno,
  // copiarCabeçalho, copiarTabela and copiarOcorrências in order, and
  // registrarHistórico with `origem` (its outcome importado, substituído or
  // ignorado). The taxpayers go first: a taxpayer the current database
  // refuses fails the call before anything else. On failure the caller goes
  // back to a savepoint taken before the call: what the call wrote is not
  // whole.
  virtual LoteCopiado copiarLote(std::span<const ItemLote> itens, const OrigemHistórico& origem,
                                 const QDate& cadastro) = 0;

  // After copiarLote(itens, ...) and the batch's events, in the same
  // savepoint: stores again, with DataCadastro = `cadastro`, the taxpayers
  // the items ask for that the current database lacks now (a host may have
  // removed one during the events, as it may between one document's steps).
  // Returns how many.
  virtual int copiarContribuintes(std::span<const ItemLote> itens, const QDate& cadastro) = 0;

  // The work other sessions hold open on the current database now: one
  // entry per piece that ends when its holder commits or gives up (a
  // server: each transaction of another session that holds a lock there and
  // waits for none; a file: the version its last commit left). Whoever holds
  // a lock made progress between two readings when an entry of the first is
  // missing from the second; new entries do not count. Takes no lock.
  virtual std::vector<std::string> marcoAlheio() = 0;

  // Adds `linha` (its `momento` and `origem` ignored) to the log with
  // `origem`, inside the transaction. Does nothing when the current database
  // has no log table.
  virtual void registrarHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha) = 0;

  // Transactions committed by this session.
  virtual std::int64_t commits() const = 0;

 protected:
  // What copiarOcorrências tells, from the copy of one document's
  // occurrences as a batch of one.
  static Ocorrências OcorrênciasDe(const LoteCopiado& um);
};

// A savepoint of a session's transaction, undone at destruction unless
// liberar() succeeded.
class PontoSalvamento {
 public:
  PontoSalvamento(SessãoCópia& sessão, std::string nome) : sessão_(sessão), nome_(std::move(nome)) {
    sessão_.pontoSalvamento(nome_);
    ativo_ = true;
  }
  ~PontoSalvamento() {
    if (ativo_) sessão_.voltarAoPonto(nome_);
  }
  PontoSalvamento(const PontoSalvamento&) = delete;
  PontoSalvamento& operator=(const PontoSalvamento&) = delete;
  void liberar() {
    sessão_.liberarPonto(nome_);
    ativo_ = false;
  }

 private:
  SessãoCópia& sessão_;
  std::string nome_;
  bool ativo_ = false;
};

class BancoAtual {
 public:
  virtual ~BancoAtual() = default;

  // The name shown to people: the file's path, or the URI without password.
  virtual QString nome() const = 0;
  virtual bool aberto() const = 0;
  // Releases the connection; later calls fail with kErrClosed.
  virtual void fechar() = 0;

  // tblPerola's RefLimite: nullopt when the table has no row; a Null value
  // when the row holds none.
  virtual std::optional<QVariant> refLimite() = 0;
  // Makes `ano` tblPerola's RefLimite, adding the row when the table has
  // none, in one transaction. A text that is not ÉAnoLimite is refused with
  // kErrInvalidOperation, and nothing is written.
  void definirRefLimite(const QString& ano);

  // A session copying from `temp` (an open temporary database).
  virtual std::unique_ptr<SessãoCópia> abrirSessão(std::shared_ptr<Database> temp) = 0;

  // True when the database has the run log's table.
  virtual bool temHistórico() = 0;
  // The lines of the last `execuções` runs (newest run first; each run's
  // lines in the order they were written). Empty when there is no log
  // table. `execuções` must be positive.
  virtual std::vector<LinhaHistórico> histórico(int execuções) = 0;

  // True when the database keeps the archive of replaced returns (made by
  // orlan-newdb): a replacing copy then archives each return it deletes,
  // whole, in the same transaction, and its log line names the archive row.
  virtual bool temArquivo() = 0;
  // Writes archived return `arquivamento` (taxpayer row, header, details,
  // occurrences and registers, under the keys they had) into the temporary
  // database at `caminho_temp`, whose tables CreateTemporaryTables made
  // empty and which no connection holds in a transaction.
  // ArquivamentoInexistente when the archive does not hold it (never did,
  // or it was pruned), and nothing is written.
  virtual void extrairArquivado(std::int64_t arquivamento, const std::string& caminho_temp) = 0;
  // Removes, in one transaction, the archived returns archived before the
  // day `dia` (UTC, by the database's clock); returns how many. Their log
  // lines stay, no longer restorable. Nothing to do without an archive.
  virtual int podarArquivo(const QDate& dia) = 0;

  virtual ContagemBanco contagem() const = 0;

 private:
  // definirRefLimite's work, with `ano` checked.
  virtual void gravarRefLimite(const QString& ano) = 0;
};

// The faults a copy meets in the data, one text each whatever the engine.
DbError DocumentoFaltaNoTemporário(std::int64_t nro_qur);  // kErrNoCurrentRecord
DbError ContribuinteFaltaNoTemporário(const QString& ie);  // kErrNoCurrentRecord
DbError ContribuinteJáNoAtual(const QString& ie);          // kErrDuplicateKey
DbError ArquivamentoInexistente(std::int64_t arquivamento); // kErrNoCurrentRecord
DbError TabelaFaltaNoAtual(std::string_view tabela);       // kErrTableNotFound
DbError CampoFaltaNoAtual(std::string_view campo, std::string_view tabela);  // kErrFieldNotFound

// True for a year as RefLimite holds it: four digits.
bool ÉAnoLimite(const QString& ano);

// True for a name that addresses a PostgreSQL server: after any white
// space, "postgresql://" or "postgres://" in any letter case, or a libpq
// key=value list ("host=servidor dbname=banco"; the first word and its "=").
// Any other name is an SQLite file's path.
bool ÉEndereçoServidor(const QString& nome);

// The name to show or save: a file's path as it is; a server's address
// rebuilt from the parts libpq reads in it, without any password; for an
// address libpq cannot read, "(endereço inválido)" and none of its text.
QString NomeSemSenha(const QString& nome);

// Opens the current database named `nome`. Never creates anything. Tells
// apart, each with its own message: an empty name, a missing file, a folder,
// a file that is not a database, a database without the current database's
// tables, a locked one, a server that cannot be reached or refuses the login.
Status AbrirBancoAtual(const QString& nome, std::shared_ptr<BancoAtual>* out);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_BANCO_ATUAL_H_
