#include "database/pg/pg_conexao.h"

#include <libpq-fe.h>

#include <QDate>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <optional>

#include "database/pg/pg_endereco.h"

namespace orlan {

namespace {

// Type numbers of the built-in types we read (pg_type.oid; fixed by the
// server).
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;
constexpr Oid kDate = 1082;
constexpr Oid kTimestamp = 1114;

std::string Aparado(const char* texto) {
  std::string s = texto == nullptr ? std::string() : std::string(texto);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

QString ServidorDe(const PGconn* conn) {
  if (conn == nullptr) return QStringLiteral("(sem conexão)");
  const char* host = PQhost(conn);
  const char* port = PQport(conn);
  const char* db = PQdb(conn);
  QString s = QString::fromUtf8(host != nullptr && *host != '\0' ? host : "localhost");
  if (port != nullptr && *port != '\0') s += QLatin1Char(':') + QString::fromUtf8(port);
  if (db != nullptr && *db != '\0') s += QStringLiteral(", banco ") + QString::fromUtf8(db);
  return s;
}

// What a SQLSTATE means to a caller, and how we say it.
struct Tradução {
  ErrorNumber número;
  const char* texto;
};

Tradução Traduzir(const std::string& estado) {
  if (estado == "23505") return {kErrDuplicateKey, "valor duplicado num índice único ou chave primária"};
  if (estado == "23503") return {kErrForeignKey, "falta o registro relacionado"};
  if (estado == "23502") return {kErrRequiredNull, "um campo obrigatório está Nulo"};
  if (estado == "55P03") return {kErrLocked, "outro usuário reteve o bloqueio além do tempo de espera"};
  if (estado == "40P01" || estado == "40001") {
    return {kErrRetry, "conflito com outro usuário; o trabalho pode ser refeito"};
  }
  if (estado == "42P01") return {kErrTableNotFound, "tabela não encontrada"};
  if (estado == "42703") return {kErrFieldNotFound, "campo não encontrado"};
  if (estado == "25006" || estado == "42501") return {kErrReadOnly, "o banco de dados ou o objeto é somente leitura"};
  if (estado == "53100") return {kErrDiskFull, "o disco do servidor está cheio"};
  if (estado == "28P01" || estado == "28000") return {kErrLoginRefused, "o servidor recusou o usuário ou a senha"};
  if (estado.starts_with("08") || estado == "57P01" || estado == "57P02" || estado == "57P03") {
    return {kErrConnection, "a conexão com o servidor foi perdida"};
  }
  if (estado.starts_with("42")) return {kErrSql, "o servidor recusou a instrução"};
  return {kErrOther, "o servidor recusou a operação"};
}

// A failed login, told apart by what libpq knows of the password exchange
// and by the server's text (a connection refused before any query carries no
// SQLSTATE for the client to read).
bool LoginRecusado(const PGconn* conn, const std::string& texto) {
  if (PQconnectionNeedsPassword(conn)) return true;
  for (const char* sinal : {"authentication failed", "no password supplied", "pg_hba.conf", "28P01", "28000"}) {
    if (texto.find(sinal) != std::string::npos) return true;
  }
  return texto.find("role \"") != std::string::npos && texto.find("does not exist") != std::string::npos;
}

}  // namespace

std::optional<QByteArray> PgTexto(const QVariant& v) {
  if (!v.isValid() || v.isNull()) return std::nullopt;
  switch (v.typeId()) {
    case QMetaType::QDate:
      return v.toDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
    case QMetaType::QDateTime:
      return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
    case QMetaType::Double:
    case QMetaType::Float: {
      const double d = v.toDouble();
      if (std::isnan(d)) return QByteArray("NaN");
      if (std::isinf(d)) return QByteArray(d > 0 ? "Infinity" : "-Infinity");
      return QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QMetaType::Bool:
      return QByteArray(v.toBool() ? "true" : "false");
    default:
      return v.toString().toUtf8();
  }
}

namespace {

// Parameter texts kept alive for a libpq call.
struct Parâmetros {
  explicit Parâmetros(const std::vector<QVariant>& valores) {
    textos.reserve(valores.size());
    for (const QVariant& v : valores) textos.push_back(PgTexto(v));
    ponteiros.reserve(textos.size());
    for (const auto& t : textos) ponteiros.push_back(t ? t->constData() : nullptr);
  }
  int n() const { return static_cast<int>(ponteiros.size()); }
  const char* const* valores() const { return ponteiros.empty() ? nullptr : ponteiros.data(); }
  std::vector<std::optional<QByteArray>> textos;
  std::vector<const char*> ponteiros;
};

bool Aceito(const PGresult* r) {
  const ExecStatusType s = PQresultStatus(r);
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

}  // namespace

void PgConnDeleter::operator()(pg_conn* conn) const { PQfinish(conn); }
void PgResultDeleter::operator()(pg_result* result) const { PQclear(result); }

Status PgStatus(const pg_conn* conn, const pg_result* result, const std::string& fazendo) {
  const std::string servidor = ServidorDe(conn).toStdString();
  const auto mensagem = [&](const char* texto) {
    return "Falha ao " + fazendo + " no servidor PostgreSQL " + servidor + ": " + texto + ".";
  };
  const bool perdida = conn == nullptr || PQstatus(conn) == CONNECTION_BAD;
  const char* estado_c = result == nullptr ? nullptr : PQresultErrorField(result, PG_DIAG_SQLSTATE);
  if (estado_c == nullptr) {
    const std::string texto = Aparado(conn == nullptr ? "" : PQerrorMessage(conn));
    // The server gives every error of its own a SQLSTATE: one without it
    // is libpq's, about the connection (a closed socket seen in the middle
    // of a pipeline, before the connection's status says so).
    if (result != nullptr && !perdida) {
      const std::string próprio = Aparado(PQresultErrorMessage(result));
      return Status(kErrConnection, mensagem("o servidor não respondeu"), próprio.empty() ? texto : próprio);
    }
    if (conn != nullptr && LoginRecusado(conn, texto)) {
      return Status(kErrLoginRefused, mensagem("o servidor recusou o usuário ou a senha"), texto);
    }
    return Status(kErrConnection, mensagem(perdida ? "a conexão com o servidor foi perdida" : "o servidor não respondeu"),
                  texto);
  }
  const std::string estado(estado_c);
  Tradução t = Traduzir(estado);
  if (perdida && t.número != kErrLoginRefused) t = {kErrConnection, "a conexão com o servidor foi perdida"};
  std::string detalhe = Aparado(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
  const std::string mais = Aparado(PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL));
  if (!mais.empty()) detalhe += " " + mais;
  detalhe += " [" + estado + "]";
  return Status(t.número, mensagem(t.texto), detalhe);
}

PgResultado::PgResultado(PgResultPtr result) : result_(std::move(result)) {}

int PgResultado::linhas() const { return result_ ? PQntuples(result_.get()) : 0; }

int PgResultado::colunas() const { return result_ ? PQnfields(result_.get()) : 0; }

bool PgResultado::nulo(int linha, int coluna) const { return PQgetisnull(result_.get(), linha, coluna) != 0; }

QVariant PgResultado::valor(int linha, int coluna) const {
  if (nulo(linha, coluna)) return QVariant();
  const char* bruto = PQgetvalue(result_.get(), linha, coluna);
  const QString texto = QString::fromUtf8(bruto, PQgetlength(result_.get(), linha, coluna));
  switch (PQftype(result_.get(), coluna)) {
    case kBool:
      return QVariant(bruto[0] == 't');
    case kInt2:
    case kInt4:
    case kInt8:
      return QVariant(texto.toLongLong());
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return QVariant(texto.toDouble());
    case kDate:
      return QVariant(QDate::fromString(texto, Qt::ISODate));
    case kTimestamp: {
      QString iso = texto;
      iso.replace(QLatin1Char(' '), QLatin1Char('T'));
      return QVariant(QDateTime::fromString(iso, Qt::ISODateWithMs));
    }
    default:
      return QVariant(texto);
  }
}

int PgResultado::alteradas() const {
  if (!result_) return 0;
  const char* n = PQcmdTuples(result_.get());
  return n == nullptr || *n == '\0' ? 0 : std::atoi(n);
}

Status PgConexão::Abrir(const QString& uri, std::unique_ptr<PgConexão>* out) {
  PgEndereço endereço;
  if (Status lido = LerPgEndereço(uri, &endereço); !lido.ok()) return lido;
  // A server that never answers must not hang the program: libpq waits
  // forever unless told. The address's own connect_timeout, when given,
  // wins, as the later value of a keyword does.
  std::vector<const char*> chaves = {"connect_timeout", "application_name"};
  std::vector<const char*> valores = {"10", "orlan"};
  for (const auto& [chave, valor] : endereço.opções) {
    chaves.push_back(chave.c_str());
    valores.push_back(valor.c_str());
  }
  chaves.push_back(nullptr);
  valores.push_back(nullptr);
  PgConnPtr conn(PQconnectdbParams(chaves.data(), valores.data(), 0));
  Status falha;
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
    falha = PgStatus(conn.get(), nullptr, "conectar");
  } else if (PQsetClientEncoding(conn.get(), "UTF8") != 0) {
    falha = PgStatus(conn.get(), nullptr, "escolher a codificação UTF-8");
  }
  if (!falha.ok()) {
    // libpq's text may quote a value of the address; never the password.
    std::string detalhe = falha.detail();
    for (const std::string& segredo : endereço.segredos) {
      for (size_t em = detalhe.find(segredo); em != std::string::npos; em = detalhe.find(segredo, em)) {
        detalhe.replace(em, segredo.size(), "***");
      }
    }
    const std::string mensagem = falha.code() == kErrConnection
                                     ? "Não foi possível conectar ao servidor PostgreSQL " +
                                           ServidorDe(conn.get()).toStdString() + "."
                                     : falha.message();
    return Status(falha.code(), mensagem, detalhe);
  }
  std::unique_ptr<PgConexão> nova(new PgConexão(std::move(conn)));
  try {
    // Dates and numbers in the forms PgResultado reads, whatever the
    // server's defaults; the server's notices (a table that exists already)
    // are not for people. No statement of ours waits for a lock longer than
    // the SQLite file waits for a busy file, in a transaction or not.
    nova->executarScript("SET datestyle = 'ISO, YMD'; SET extra_float_digits = 3; SET client_min_messages = warning; "
                         "SET lock_timeout = '5s'",
                         "preparar a conexão");
  } catch (const DbError& e) {
    return e.status();
  }
  *out = std::move(nova);
  return Status::OK();
}

PgConexão::PgConexão(PgConnPtr conn) : conn_(std::move(conn)), servidor_(ServidorDe(conn_.get())) {}

PgConexão::~PgConexão() = default;

bool PgConexão::aberta() const { return conn_ && PQstatus(conn_.get()) == CONNECTION_OK; }

void PgConexão::fechar() { conn_.reset(); }

void PgConexão::exigirAberta() const {
  if (!conn_) {
    throw DbError(kErrClosed, "A conexão com o servidor PostgreSQL " + servidor_.toStdString() + " foi fechada.");
  }
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    throw DbError(kErrConnection, "Falha no servidor PostgreSQL " + servidor_.toStdString() +
                                      ": a conexão com o servidor foi perdida.",
                  Aparado(PQerrorMessage(conn_.get())));
  }
}

Status PgConexão::falha(const pg_result* result, const std::string& fazendo) const {
  return PgStatus(conn_.get(), result, fazendo);
}

void PgConexão::lançar(const pg_result* result, const std::string& fazendo) const {
  throw DbError(falha(result, fazendo));
}

PgResultado PgConexão::executar(std::string_view sql, const std::vector<QVariant>& parâmetros,
                                const std::string& fazendo) {
  exigirAberta();
  ++comandos_;
  ++idas_e_voltas_;
  const Parâmetros p(parâmetros);
  const std::string texto(sql);
  PgResultPtr r(PQexecParams(conn_.get(), texto.c_str(), p.n(), nullptr, p.valores(), nullptr, nullptr, 0));
  if (!r || !Aceito(r.get())) lançar(r.get(), fazendo);
  return PgResultado(std::move(r));
}

void PgConexão::executarScript(const std::string& sql, const std::string& fazendo) {
  exigirAberta();
  // A script's statements are told apart by their semicolons; none of ours
  // has one inside a literal.
  comandos_ += 1 + std::count(sql.begin(), sql.end(), ';');
  ++idas_e_voltas_;
  PgResultPtr r(PQexec(conn_.get(), sql.c_str()));
  if (!r || !Aceito(r.get())) lançar(r.get(), fazendo);
}

std::vector<PgResultado> PgConexão::emSequência(const std::vector<PgComando>& comandos, const std::string& fazendo) {
  exigirAberta();
  comandos_ += static_cast<std::int64_t>(comandos.size());
  ++idas_e_voltas_;
  PGconn* c = conn_.get();
  if (PQenterPipelineMode(c) != 1) lançar(nullptr, fazendo);
  size_t enviados = 0;
  for (const PgComando& cmd : comandos) {
    const Parâmetros p(cmd.parâmetros);
    if (PQsendQueryParams(c, cmd.sql.c_str(), p.n(), nullptr, p.valores(), nullptr, nullptr, 0) != 1) break;
    ++enviados;
  }
  // Even after a failed send, the commands sent have answers to be read
  // before the connection can leave pipeline mode.
  const bool sincronizado = PQpipelineSync(c) == 1;
  std::vector<PgResultado> resultados;
  Status primeira_falha;
  if (sincronizado) {
    // Each command's answer ends with a null result; the sync point comes
    // last.
    for (size_t i = 0; i < enviados && PQstatus(c) == CONNECTION_OK; ++i) {
      PgResultPtr último;
      while (PGresult* r = PQgetResult(c)) {
        PgResultPtr dono(r);
        const ExecStatusType s = PQresultStatus(r);
        if (primeira_falha.ok() && s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK && s != PGRES_PIPELINE_ABORTED) {
          primeira_falha = falha(r, fazendo);
        }
        último = std::move(dono);
        if (PQstatus(c) != CONNECTION_OK) break;
      }
      resultados.emplace_back(std::move(último));
    }
    while (PQstatus(c) == CONNECTION_OK) {
      PgResultPtr r(PQgetResult(c));
      if (!r || PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
    }
  }
  const bool saiu = PQstatus(c) == CONNECTION_OK && PQexitPipelineMode(c) == 1;
  if (!primeira_falha.ok()) throw DbError(primeira_falha);
  if (enviados != comandos.size() || !sincronizado || !saiu) lançar(nullptr, fazendo);
  return resultados;
}

bool PgConexão::emTransação() const {
  if (!conn_) return false;
  const PGTransactionStatusType s = PQtransactionStatus(conn_.get());
  return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

bool PgConexão::transaçãoFalhou() const { return conn_ && PQtransactionStatus(conn_.get()) == PQTRANS_INERROR; }

}  // namespace orlan
