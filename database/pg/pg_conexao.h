// One connection to a PostgreSQL server, through libpq.
//
// The connection and every result are owned by std::unique_ptrs whose
// deleters call PQfinish and PQclear; nothing outside this folder sees libpq's
// types beyond their names. Values travel as text: parameters are bound (never
// spliced into the statement), Null as a null pointer.
//
// Every failure throws DbError with a Status made by PgStatus: our own
// Portuguese text naming the server (host, port and database, never the
// password) and the server's or libpq's text as the detail. A connection
// lost on the way (terminated backend, server shutdown, network) gives
// kErrConnection, and from then on aberta() is false.
#ifndef ORLAN_DATABASE_PG_PG_CONEXAO_H_
#define ORLAN_DATABASE_PG_PG_CONEXAO_H_

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database/status.h"

// libpq's handle types, by name only.
struct pg_conn;
struct pg_result;

#ifndef Q_MOC_RUN

namespace orlan {

struct PgConnDeleter {
  void operator()(pg_conn* conn) const;
};
struct PgResultDeleter {
  void operator()(pg_result* result) const;
};
using PgConnPtr = std::unique_ptr<pg_conn, PgConnDeleter>;
using PgResultPtr = std::unique_ptr<pg_result, PgResultDeleter>;

// The rows a statement gave back. Values come as QVariants of the column's
// type: boolean as bool, whole numbers as qlonglong, numeric and floating
// point as double, date as QDate, timestamp as QDateTime, anything else as
// QString; Null as an invalid QVariant.
class PgResultado {
 public:
  PgResultado() = default;
  explicit PgResultado(PgResultPtr result);

  int linhas() const;
  int colunas() const;
  bool nulo(int linha, int coluna) const;
  QVariant valor(int linha, int coluna) const;
  // Rows the statement changed (INSERT, UPDATE, DELETE, COPY).
  int alteradas() const;

 private:
  PgResultPtr result_;
};

// A statement and its parameters, for PgConexão::emSequência.
struct PgComando {
  std::string sql;
  std::vector<QVariant> parâmetros;
};

class PgConexão {
 public:
  // Connects to `uri` (a server's address as LerPgEndereço reads it; the
  // password comes from it, from ~/.pgpass or from the service file, as
  // libpq finds it), with the client encoding set to UTF-8. On success *out
  // holds the connection. kErrCannotOpen for an address LerPgEndereço
  // refuses, kErrConnection when the server cannot be reached,
  // kErrLoginRefused when it refuses the user or password.
  static Status Abrir(const QString& uri, std::unique_ptr<PgConexão>* out);

  ~PgConexão();
  PgConexão(const PgConexão&) = delete;
  PgConexão& operator=(const PgConexão&) = delete;

  // False after fechar() and after the server was lost.
  bool aberta() const;
  void fechar();
  // Throws kErrClosed after fechar(), kErrConnection once the server was lost.
  void exigirAberta() const;
  // "host:port, banco db", for messages.
  const QString& servidor() const { return servidor_; }

  // `fazendo` below says, in Portuguese, what is being done ("copiar a
  // tabela X"), for the message of a failure.

  // Runs one statement with `parâmetros` bound to $1, $2, ... Throws DbError.
  PgResultado executar(std::string_view sql, const std::vector<QVariant>& parâmetros = {},
                       const std::string& fazendo = "executar uma operação");
  // Runs statements without parameters, separated by semicolons, in one
  // round trip. Throws DbError.
  void executarScript(const std::string& sql, const std::string& fazendo = "executar uma operação");
  // Sends every command before reading any answer (libpq's pipeline mode):
  // one round trip for all of them, one result per command. On the first
  // failure the server skips the rest, and the failure is thrown once every
  // answer was read.
  std::vector<PgResultado> emSequência(const std::vector<PgComando>& comandos,
                                       const std::string& fazendo = "executar uma operação");

  // Statements sent, and round trips (each call above is one), since the
  // connection was opened.
  std::int64_t comandos() const { return comandos_; }
  std::int64_t idasEVoltas() const { return idas_e_voltas_; }
  // Transactions committed on this connection: whoever commits one tells
  // it with commitFeito() once the server confirmed it.
  std::int64_t commits() const { return commits_; }
  void commitFeito() { ++commits_; }

  // True while the server holds a transaction open on this connection
  // (failed or not).
  bool emTransação() const;
  // True when that transaction has failed and takes no more statements
  // until a rollback.
  bool transaçãoFalhou() const;

  // The Status of the connection's last failure: kErrConnection when the
  // connection is gone, else the mapping of `result` (may be null).
  Status falha(const pg_result* result, const std::string& fazendo) const;

 private:
  explicit PgConexão(PgConnPtr conn);
  [[noreturn]] void lançar(const pg_result* result, const std::string& fazendo) const;

  PgConnPtr conn_;
  QString servidor_;
  std::int64_t comandos_ = 0;
  std::int64_t idas_e_voltas_ = 0;
  std::int64_t commits_ = 0;
};

// The Status of a failure of `conn` (which may be a connection that failed to
// open) or of `result`: SQLSTATE decides the number, our text says what was
// being done (`fazendo`) and names the server, the server's own text goes to
// the detail.
Status PgStatus(const pg_conn* conn, const pg_result* result, const std::string& fazendo);

// The text form in which the server reads `v` (as a bound parameter or an
// array element); nullopt for Null.
std::optional<QByteArray> PgTexto(const QVariant& v);

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_DATABASE_PG_PG_CONEXAO_H_
