// The current database on a PostgreSQL server, shared by an office's clerks.
//
// A copy session reads the temporary database (a local SQLite file) through
// BancoTemporário and writes the server with few statements per table and
// document: bound multi-row INSERTs sent together in libpq's pipeline mode.
// Outside the caller's savepoints each statement runs inside a savepoint of
// its own, so that a statement the server refuses leaves the transaction as
// it was before it, as a refused statement does in SQLite. Inside one of the
// caller's savepoints a refused statement leaves the transaction failed until
// the caller goes back to its savepoint (voltarAoPonto), as it does on any
// failure; confirmar() refuses a failed transaction and rolls it back.
//
// Locks: a session writing a return first takes an advisory lock on the
// taxpayer and month (bloquearDocumento), held until its transaction ends.
// Clerks on other taxpayers never wait; on the same one, at most the lock
// wait (five seconds, then kErrLocked). The taxpayer's IE is compared
// without regard to letter case everywhere.
#ifndef ORLAN_DATABASE_PG_PG_BANCO_ATUAL_H_
#define ORLAN_DATABASE_PG_PG_BANCO_ATUAL_H_

#include <QDate>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/banco_atual.h"
#include "database/banco_temporario.h"
#include "database/pg/pg_conexao.h"

#ifndef Q_MOC_RUN

namespace orlan {

// Opens the current database at `uri` (a "postgresql://" or "postgres://"
// libpq URI). Fails with kErrConnection or kErrLoginRefused when the server
// cannot be reached or refuses the login, and with kErrNotCurrentDatabase when
// the database lacks the current database's tables. Never creates anything.
Status AbrirBancoAtualPostgres(const QString& uri, std::shared_ptr<BancoAtual>* out);

// The session of a PostgreSQL current database. Shares the database's
// connection; fails with kErrClosed once the database was closed.
class PgSessãoCópia : public SessãoCópia {
 public:
  // `conexão` and `temp` must be open.
  PgSessãoCópia(std::shared_ptr<PgConexão> conexão, std::shared_ptr<Database> temp);
  ~PgSessãoCópia() override;

  void iniciar() override;
  void confirmar() override;
  void desfazer() noexcept override;
  bool emTransação() override;
  void pontoSalvamento(std::string_view nome) override;
  void liberarPonto(std::string_view nome) override;
  void voltarAoPonto(std::string_view nome) noexcept override;

  // Advisory locks: (hashtext(lower(ie)), yyyymm of ref1) for a document,
  // month 0 for the taxpayer's record.
  void bloquearDocumento(const QString& ie, const QDate& ref1) override;
  bool tentarBloquearDocumento(const QString& ie, const QDate& ref1) override;
  void bloquearContribuinte(const QString& ie) override;
  bool tentarBloquearContribuinte(const QString& ie) override;

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
  std::vector<std::string> marcoAlheio() override;
  void registrarHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha) override;

  std::int64_t commits() const override { return commits_; }

 private:
  // The current database's column names of `tabela` (empty when it has no
  // such table), read once per session: on the first call, with those of
  // every table a copy may touch.
  const std::vector<std::string>& colunas(std::string_view tabela);
  // The current database's name of `campo` in `tabela` (letter case
  // ignored when no exact match), or empty.
  std::string coluna(std::string_view tabela, std::string_view campo);
  // kErrTableNotFound / kErrFieldNotFound unless the current database has
  // `tabela` with every field in `campos`.
  void exigirColunas(std::string_view tabela, const std::vector<std::string_view>& campos);

  // Runs `comandos` in one round trip; inside a transaction and outside the
  // caller's savepoints, inside a savepoint of its own: on a failure the
  // transaction is back where it was, and the failure thrown.
  std::vector<PgResultado> protegido(std::vector<PgComando> comandos, const std::string& fazendo);

  // A column whose value a statement looks up on the server: the row's
  // value there is a 1-based position in the array `novos` of `tabela`, a
  // map of a batch's new keys made earlier in the same statement, and the
  // column gets the key at that position.
  struct Mapa {
    size_t coluna = 0;
    std::string tabela;
  };
  // The statement that adds `linhas` (values in the order of `campos`) to
  // `tabela`, in their order: one array parameter per column, so that its
  // text and plan stay small whatever the number of rows. `sufixo` ends the
  // statement; `mapa` names a looked-up column; its parameters are numbered
  // after the first `antes`.
  PgComando inserção(std::string_view tabela, const std::vector<std::string_view>& campos,
                     const std::vector<std::vector<QVariant>>& linhas, const std::optional<Mapa>& mapa = std::nullopt,
                     const std::string& sufixo = {}, size_t antes = 0);
  // A batch's copy in the making: the commands that go before it in the
  // same round trip, and its one statement of data-modifying parts. One
  // document is a batch of one: every copy takes the same steps (parte...),
  // then executar.
  struct Montagem {
    std::span<const ItemLote> itens;
    std::vector<PgComando> antes;       // the taxpayers, the deletions
    bool conta_contribuintes = false;   // antes.front() adds the taxpayers
    std::vector<std::string> partes;    // "name AS (statement)"
    std::vector<std::pair<std::string, std::string>> contadas;  // part -> table whose rows it adds
    std::vector<QVariant> parâmetros;
    std::vector<size_t> guardados;      // the items stored, in order: position p + 1 in `lote`
    std::vector<std::int32_t> chaves;   // their keys in the temporary database, in order
    bool tem_lote = false;              // a part `lote` holds their new keys
    bool fixos = false;                 // stored under the keys the items carry (copied again)
    std::vector<std::pair<size_t, std::int32_t>> ocorrências;  // each occurrence's item and Código in the file
    std::vector<std::string> forçadas;  // parts read by the statement's end, so that they run
  };
  Montagem montar(std::span<const ItemLote> itens);
  void adicionar(Montagem& m, const std::string& nome, std::string_view tabela,
                 const std::vector<std::string_view>& campos, const std::vector<std::vector<QVariant>>& linhas,
                 const std::optional<Mapa>& mapa, const std::string& devolve, bool contar = true);
  static void numerar(Montagem& m, const std::string& nome, const std::string& de, const std::string& chave);
  // The items' taxpayers (kErrNoCurrentRecord when the temporary database
  // lacks one), skipped when there already.
  void parteContribuintes(Montagem& m, const QDate& cadastro);
  void parteApagar(Montagem& m);
  // The stored items' headers, and `lote` of their new keys.
  void parteCabeçalhos(Montagem& m);
  // `lote` of the keys the items carry, their headers stored already.
  void parteChavesDadas(Montagem& m);
  void parteDetalhe(Montagem& m, const schema::TableCopy& c);
  // The occurrences, `ocorr` of their new Códigos, and their registers.
  void parteOcorrências(Montagem& m);
  void parteRegistros(Montagem& m, const schema::TableCopy& registro,
                      const std::map<std::int32_t, qlonglong>& ordem_da_ocorrência);
  void parteHistórico(Montagem& m, const OrigemHistórico& origem);
  // True when the log is the server's (made with the archive): its lines
  // go through the server's function, never straight into the table.
  bool históricoNoServidor();
  // The call of that function for `linhas` under `origem`, its parameters
  // numbered after the first `antes`; with `mapa`, each line's `novo` is a
  // position in that part's array of new keys.
  PgComando chamadaHistórico(const OrigemHistórico& origem, const std::vector<LinhaHistórico>& linhas, size_t antes,
                             const std::string& mapa);
  bool temArquivo();
  // The statement that archives, whole, the returns whose keys the array
  // text `retornos` holds.
  PgComando arquivamento(const QString& retornos);
  LoteCopiado executar(Montagem& m, const std::string& fazendo);
  void lerChaves(const Montagem& m, const QString& texto, LoteCopiado* r) const;
  void lerCódigos(const Montagem& m, const QString& texto, LoteCopiado* r) const;
  // The rows of a register of one occurrence, under its new Código.
  int copiarRegistro(const schema::TableCopy& c, std::int32_t código_origem, std::int32_t código_novo);
  // Runs inserção(...) protected. Returns the rows added.
  int inserir(std::string_view tabela, const std::vector<std::string_view>& campos,
              const std::vector<std::vector<QVariant>>& linhas, const std::string& fazendo);

  bool bloquear(const QString& ie, int mês, bool esperar, const std::string& fazendo);
  // The statement that gives, for every document, its existing return's key
  // (as retornoExistente), in the documents' order.
  PgComando consultaExistentes(std::span<const DocumentoLote> docs) const;
  bool temHistórico();
  void exigirTransação(const char* fazendo) const;

  std::shared_ptr<PgConexão> conexão_;
  BancoTemporário temp_;
  std::map<std::string, std::vector<std::string>, std::less<>> colunas_;
  // The declared type of each column, per table, as the server writes it.
  std::map<std::string, std::map<std::string, std::string>, std::less<>> tipos_;
  std::vector<std::string> pontos_;  // the caller's open savepoints, oldest first
  std::int64_t commits_ = 0;
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_PG_PG_BANCO_ATUAL_H_
