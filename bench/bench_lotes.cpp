// Import benchmark on both engines of the current database: 1,000 returns of
// about 60 detail rows each, generated as a ".prf" file and checked into a
// temporary database once, then imported by the engine
//   - into a fresh SQLite file, against the plain-SQL copy of the same data
//     (bench/copia_sql.h);
//   - into a fresh PostgreSQL database of a private server
//     (tests/pg/pg-test-server) over its Unix socket;
//   - on both engines, again over the returns a fresh run stored (replacing
//     and declining), and replacing into the same database without the
//     archive of replaced returns (its tables dropped), which tells what
//     keeping the replaced returns costs;
//   - into the same over TCP through proxy_atraso, a relay that adds a
//     one-way delay, at round trips of about 1 ms and 3 ms, as a clerk's
//     machine far from the office's server would see.
// For each run it prints seconds, rows per second, statements, round trips
// and commits (BancoAtual::contagem before and after), and the ratios between
// runs; and the commits of runs of 100 and 1,000 documents, which tell
// whether commits grow with the number of documents. It measures and prints;
// it asserts no timing.
//
//   bench_lotes [--documentos-link N] [--repeticoes N] [pasta]
//
// --documentos-link: documents of the runs through the proxy (default 1,000;
// fewer keep a slow engine's run short, and the output says so).
// --repeticoes: runs of each SQLite measure and of the PostgreSQL import over
// the socket, whose best counts (default 3). The runs through the proxy are
// one each. Every PostgreSQL run has a new database of its own.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "bench/copia_sql.h"
#include "checker/cons_pre.h"
#include "checker/gerador_prf.h"
#include "control/importacao_dialogos.h"
#include "database/banco_atual.h"
#include "database/identificador.h"
#include "database/pg/pg_conexao.h"
#include "database/schema.h"
#include "database/sqlite/recordset.h"
#include "import/importacao.h"
#include "support/scripted_dialogs.h"

using namespace orlan;

namespace {

constexpr int kDocumentos = 1000;
constexpr int kPoucos = 100;
// The round trips of the slow links, in ms. The proxy's one-way delay is
// found by measuring: half of what the proxy without delay does not already
// add, then corrected once by what a proxy with that delay gives (waking on
// time costs something on a busy machine).
constexpr double kIdasEVoltasAlvo[] = {1.0, 3.0};
constexpr int kAmostrasIdaEVolta = 300;
// The TCP login needs a password; the private server's role gets this one.
constexpr char kSenha[] = "BancadaLotes1";

// Set by SIGINT and SIGTERM: the run stops at the next document or round
// trip sample and fails, so that the server and the proxies are stopped on
// the way out.
volatile std::sig_atomic_t g_interrompido = 0;

void AoSinal(int) { g_interrompido = 1; }

struct Falha : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Falhar(const std::string& o_quê) { throw Falha(o_quê); }

std::string Carga() {
  std::ifstream f("/proc/loadavg");
  std::string linha;
  std::getline(f, linha);
  return linha.empty() ? "desconhecida" : linha;
}

std::shared_ptr<Database> AbrirSqlite(const QString& path) {
  std::shared_ptr<Database> db;
  const Status s = Database::Open(path.toStdString(), Database::OpenMode::kExisting, &db);
  if (!s.ok()) Falhar(s.ToString());
  return db;
}

std::unique_ptr<PgConexão> Conectar(const QString& uri) {
  std::unique_ptr<PgConexão> c;
  const Status s = PgConexão::Abrir(uri, &c);
  if (!s.ok()) Falhar(s.ToString());
  return c;
}

void NovoSqlite(const QString& path) {
  QFile::remove(path);
  QFile::remove(path + "-journal");
  const Status s = schema::CreateCurrentDatabase(path.toStdString(), "2099");
  if (!s.ok()) Falhar(s.ToString());
}

// The record tables, or their copies in the archive of replaced returns.
std::vector<std::string> TabelasDeRegistros(bool arquivadas) {
  std::vector<std::string> t;
  for (const schema::RecordDef& r : schema::Records()) {
    t.push_back(arquivadas ? schema::ArchivedTable(r.table) : std::string(r.table));
  }
  return t;
}

// Rows of every record table (what an import stored), or of every archived
// copy (what replacing runs kept).
qlonglong LinhasSqlite(const QString& path, bool arquivadas = false) {
  auto db = AbrirSqlite(path);
  qlonglong n = 0;
  for (const std::string& t : TabelasDeRegistros(arquivadas)) {
    n += db->scalar("SELECT count(*) FROM " + QuoteIdentifier(t)).toLongLong();
  }
  return n;
}

qlonglong LinhasPg(const QString& uri, bool arquivadas = false) {
  auto c = Conectar(uri);
  qlonglong n = 0;
  for (const std::string& t : TabelasDeRegistros(arquivadas)) {
    n += c->executar("SELECT count(*) FROM " + QuoteIdentifier(t)).valor(0, 0).toLongLong();
  }
  return n;
}

// The statements that drop the archive, copies first (each refers to the
// archive's own table): the database is then one made before the archive,
// whose imports replace without keeping anything.
std::vector<std::string> ApagarArquivo() {
  std::vector<std::string> comandos;
  for (const std::string& t : TabelasDeRegistros(true)) comandos.push_back("DROP TABLE " + QuoteIdentifier(t));
  comandos.push_back("DROP TABLE " + QuoteIdentifier(schema::kArchiveTable));
  return comandos;
}

void ApagarArquivoSqlite(const QString& path) {
  auto db = AbrirSqlite(path);
  {
    Transaction t(*db);
    for (const std::string& c : ApagarArquivo()) db->execute(c);
    t.commit();
  }
  // The dropped tables' pages go, so that the file is laid out as one made
  // without them.
  db->execute("VACUUM");
}

void ApagarArquivoPg(const QString& uri) {
  std::string script = "BEGIN";
  for (const std::string& c : ApagarArquivo()) script += "; " + c;
  Conectar(uri)->executarScript(script + "; COMMIT");
}

// One import run: its time and the connection's work.
struct Medida {
  int documentos = 0;
  double segundos = 0;
  qlonglong linhas = 0;
  qlonglong arquivadas = 0;  // rows the archive gained
  ContagemBanco trabalho;  // during the run

  double linhasPorSegundo() const { return linhas / segundos; }
  double porDocumento(std::int64_t n) const { return static_cast<double>(n) / documentos; }
};

// Imports `chaves` of the temporary database at `temp` into the current
// database `nome` (a file or a URI) through the engine. With `resposta`
// (kRespostaSim or kRespostaNao) every return is there already and each
// question gets that answer, told in advance as orlan-import --overwrite
// tells it.
Medida Importar(const QString& temp, const QString& nome, std::span<const std::int32_t> chaves, int resposta = 0) {
  EstadoImportação estado;
  estado.BancoTemp = AbrirSqlite(temp);
  const Status aberto = AbrirBancoAtual(nome, &estado.BancoAtual);
  if (!aberto.ok()) Falhar(aberto.ToString());
  ScriptedDialogs diálogos;
  diálogos.setRespostaPrevista(resposta);
  ImportaçãoPorDiálogos host(diálogos, [](Evento) {}, [] { return g_interrompido != 0; });
  const ContagemBanco antes = estado.BancoAtual->contagem();
  QElapsedTimer t;
  t.start();
  const Status s = ExecutarImportação(estado, chaves, host);
  Medida m;
  m.segundos = t.nsecsElapsed() / 1e9;
  const ContagemBanco depois = estado.BancoAtual->contagem();
  if (g_interrompido) Falhar("interrompido");
  if (!s.ok()) Falhar(s.ToString());
  const int feitos = resposta == kRespostaSim   ? estado.resumo.substituídos
                    : resposta == kRespostaNao ? estado.resumo.ignorados
                                               : estado.resumo.importados;
  if (feitos != static_cast<int>(chaves.size())) Falhar("nem todos os documentos foram importados");
  m.documentos = static_cast<int>(chaves.size());
  m.trabalho.comandos = depois.comandos - antes.comandos;
  m.trabalho.idasEVoltas = depois.idasEVoltas - antes.idasEVoltas;
  m.trabalho.commits = depois.commits - antes.commits;
  return m;
}

void Imprimir(const char* nome, const Medida& m) {
  std::printf("%-30s %5d docs %8.3f s %9.0f linhas/s %7.3f comandos/doc %6.3f idas-e-voltas/doc %5lld commits\n", nome,
              m.documentos, m.segundos, m.linhasPorSegundo(), m.porDocumento(m.trabalho.comandos),
              m.porDocumento(m.trabalho.idasEVoltas), static_cast<long long>(m.trabalho.commits));
}

void FicarComAMelhor(Medida& melhor, const Medida& m) {
  if (m.segundos < melhor.segundos) melhor = m;
}

// The runs over every return a fresh run stored, each the best of its
// repetitions: replacing (with the archive, as a current database is made,
// and without it) and declining.
struct Substituições {
  Medida comArquivo;
  Medida semArquivo;
  Medida recusando;

  Substituições() { comArquivo.segundos = semArquivo.segundos = recusando.segundos = 1e9; }
  // Each replacement archives the same rows: the runs without the archive
  // kept none, and both engines keep the same.
  void exigirArquivadas(qlonglong esperadas) const {
    if (comArquivo.arquivadas == 0 || semArquivo.arquivadas != 0 ||
        (esperadas != 0 && comArquivo.arquivadas != esperadas)) {
      Falhar("as substituições não arquivaram as linhas esperadas");
    }
  }
};

// `nova`: the fresh run into the same engine.
void ImprimirSubstituições(const Substituições& s, const Medida& nova) {
  Imprimir("substituindo (--overwrite yes)", s.comArquivo);
  std::printf("razão substituindo / importação nova: %.2f   (meta <= 1.5)\n", s.comArquivo.segundos / nova.segundos);
  Imprimir("recusando (--overwrite no)", s.recusando);
  std::printf("razão recusando / importação nova: %.2f   (meta <= 1)\n", s.recusando.segundos / nova.segundos);
  Imprimir("substituindo sem arquivo", s.semArquivo);
  std::printf("linhas arquivadas por substituição de %d documentos: %lld\n", s.comArquivo.documentos,
              static_cast<long long>(s.comArquivo.arquivadas));
  std::printf("razão substituindo com arquivo / sem arquivo: %.2f   (meta <= 1.3)\n",
              s.comArquivo.segundos / s.semArquivo.segundos);
}

// The private server of tests/pg/pg-test-server, stopped when this object
// goes, whatever ended the run.
class Servidor {
 public:
  explicit Servidor(const QString& estado) : estado_(estado) {
    try {
      Iniciar();
    } catch (...) {
      Script("stop");
      throw;
    }
  }
  ~Servidor() { Script("stop"); }
  Servidor(const Servidor&) = delete;
  Servidor& operator=(const Servidor&) = delete;

  // Why there is no server; empty when there is one.
  const QString& motivo() const { return motivo_; }
  const QString& porta() const { return porta_; }

  // The database `banco` over the Unix socket.
  QString uri(const QString& banco) const {
    return QStringLiteral("postgresql:///%1?host=%2&port=%3&user=orlan").arg(banco, pasta_, porta_);
  }
  // The database `banco` over TCP, at `porta` of 127.0.0.1.
  static QString uriTcp(const QString& banco, const QString& porta) {
    return QStringLiteral("postgresql://orlan:%1@127.0.0.1:%2/%3").arg(QLatin1String(kSenha), porta, banco);
  }

  // A new current database; its name.
  QString novoBanco() {
    const QString nome = QStringLiteral("lotes_%1").arg(++bancos_);
    Conectar(uri("postgres"))->executar("CREATE DATABASE " + QuoteIdentifier(nome.toStdString()));
    const Status s = schema::CreateCurrentDatabase(uri(nome).toStdString(), "2099");
    if (!s.ok()) Falhar(s.ToString());
    return nome;
  }
  void apagarBanco(const QString& nome) {
    Conectar(uri("postgres"))->executar("DROP DATABASE " + QuoteIdentifier(nome.toStdString()));
  }

 private:
  void Iniciar() {
    const QString saída = Script("start");
    QFile arquivo(QDir(estado_).filePath("uri"));
    if (!arquivo.open(QIODevice::ReadOnly)) {
      motivo_ = saída.trimmed();
      return;
    }
    const QUrlQuery q(QUrl(QString::fromUtf8(arquivo.readAll()).trimmed()));
    pasta_ = q.queryItemValue("host");
    porta_ = q.queryItemValue("port");
    // TCP logins need a password, which the server's role has not.
    Conectar(uri("postgres"))->executar(std::string("ALTER ROLE orlan PASSWORD '") + kSenha + "'");
  }

  QString Script(const char* ação) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(ORLAN_SOURCE_DIR "/tests/pg/pg-test-server"), {QString::fromLatin1(ação), estado_});
    p.waitForFinished(180000);
    const QString saída = QString::fromLocal8Bit(p.readAll());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
      std::fprintf(stderr, "bench_lotes: pg-test-server %s falhou:\n%s\n", ação, qPrintable(saída));
    }
    return saída;
  }

  QString estado_;
  QString motivo_;
  QString pasta_;
  QString porta_;
  int bancos_ = 0;
};

// proxy_atraso, next to this program, as a child process; terminated when
// this object goes.
class Proxy {
 public:
  Proxy(const QString& porta_alvo, double atraso_ms) {
    const QString programa = QCoreApplication::applicationDirPath() + "/proxy_atraso";
    p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p_.start(programa, {"--listen", "0", "--to", "127.0.0.1:" + porta_alvo, "--delay-ms", QString::number(atraso_ms)});
    if (!p_.waitForStarted(10000)) Falhar("proxy_atraso não iniciou: " + programa.toStdString());
    while (!p_.canReadLine() && p_.waitForReadyRead(10000)) {
    }
    porta_ = QString::fromLatin1(p_.readLine()).trimmed();
    if (porta_.isEmpty()) Falhar("proxy_atraso não disse sua porta");
  }
  ~Proxy() {
    p_.terminate();
    if (!p_.waitForFinished(5000)) {
      std::fprintf(stderr, "bench_lotes: proxy_atraso não terminou com SIGTERM\n");
      p_.kill();
      p_.waitForFinished(5000);
    } else if (p_.exitStatus() != QProcess::NormalExit || p_.exitCode() != 0) {
      std::fprintf(stderr, "bench_lotes: proxy_atraso terminou com o código %d\n", p_.exitCode());
    }
  }
  Proxy(const Proxy&) = delete;
  Proxy& operator=(const Proxy&) = delete;

  const QString& porta() const { return porta_; }

 private:
  QProcess p_;
  QString porta_;
};

// The median and the mean, in ms, of the round trip of a `SELECT 1` at `uri`.
struct IdaEVolta {
  double mediana = 0;
  double média = 0;
};
IdaEVolta MedirIdaEVolta(const QString& uri) {
  auto c = Conectar(uri);
  std::vector<double> ms;
  for (int i = 0; i < kAmostrasIdaEVolta; ++i) {
    if (g_interrompido) Falhar("interrompido");
    QElapsedTimer t;
    t.start();
    c->executar("SELECT 1");
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  IdaEVolta r;
  for (double v : ms) r.média += v / ms.size();
  std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
  r.mediana = ms[ms.size() / 2];
  return r;
}

struct Opções {
  int documentosLink = kDocumentos;
  int repetições = 3;
  QString pasta;
};

Opções LerOpções(const QStringList& args) {
  Opções o;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if ((a == "--documentos-link" || a == "--repeticoes") && i + 1 < args.size()) {
      bool ok = false;
      const int n = args[++i].toInt(&ok);
      if (!ok || n < 1 || (a == "--documentos-link" && n > kDocumentos)) {
        Falhar("valor inválido para " + a.toStdString());
      }
      (a == "--repeticoes" ? o.repetições : o.documentosLink) = n;
    } else if (!a.startsWith("--") && o.pasta.isEmpty()) {
      o.pasta = a;
    } else {
      Falhar("uso: bench_lotes [--documentos-link N] [--repeticoes N] [pasta]");
    }
  }
  return o;
}

// Generates the ".prf" file and checks it into `temp`; the headers' keys.
std::vector<std::int32_t> PrepararTemp(const QDir& pasta, const QString& temp) {
  const QString prf = pasta.filePath("lotes.prf");
  prf::OpçõesGerador g;
  g.contribuintes = 100;
  g.meses = kDocumentos / g.contribuintes;
  g.linhas = 60;
  prf::ResumoGerador resumo;
  const Status s = prf::GerarArquivoPrf(prf.toStdString(), g, &resumo);
  if (!s.ok()) Falhar(s.ToString());
  ConsPre verificador(nullptr, temp);
  verificador.SetInputFile(prf);
  if (verificador.RunCheck() != kVerificaçãoAceita) Falhar("o arquivo gerado foi recusado: " + verificador.report().toStdString());
  std::vector<std::int32_t> chaves;
  Recordset r = AbrirSqlite(temp)->openQuery("SELECT NroQUR FROM tblQUR ORDER BY NroQUR");
  for (; !r.eof(); r.moveNext()) chaves.push_back(r.value("NroQUR").toInt());
  if (chaves.size() != kDocumentos) Falhar("o arquivo gerado não tem o número esperado de declarações");
  std::printf("arquivo: %lld declarações, %lld linhas, %.1f MB\n", static_cast<long long>(resumo.declarações),
              static_cast<long long>(resumo.linhas), resumo.bytes / 1e6);
  return chaves;
}

int Executar(const Opções& o) {
  QTemporaryDir própria;
  const QDir pasta(o.pasta.isEmpty() ? própria.path() : o.pasta);
  if (!pasta.exists()) Falhar("a pasta não existe: " + pasta.path().toStdString());
  std::printf("carga da máquina no início (/proc/loadavg): %s\n", Carga().c_str());

  const QString temp = pasta.filePath("BDTempPrf.fix");
  const std::vector<std::int32_t> chaves = PrepararTemp(pasta, temp);
  const std::span<const std::int32_t> todas(chaves);
  const auto primeiras = [&](int n) { return todas.first(static_cast<size_t>(n)); };

  // SQLite: the engine and the plain-SQL copy take turns, so that a change
  // in the machine's load falls on both; each keeps its best time.
  const QString atual = pasta.filePath("atual.db");
  Medida sqlite, cópia, sqlitePoucos;
  sqlite.segundos = cópia.segundos = 1e9;
  for (int i = 0; i < o.repetições; ++i) {
    NovoSqlite(atual);
    const Medida m = Importar(temp, atual, todas);
    if (m.segundos < sqlite.segundos) sqlite = m;
    sqlite.linhas = LinhasSqlite(atual);
    NovoSqlite(atual);
    cópia.segundos = std::min(cópia.segundos, bench::CopiarPorSql(*AbrirSqlite(atual), temp));
    cópia.linhas = LinhasSqlite(atual);
  }
  cópia.documentos = kDocumentos;
  // Over the returns the fresh run stored: replaced, then declined; and
  // replaced in a database without the archive.
  Substituições sqliteSub;
  for (int i = 0; i < o.repetições; ++i) {
    NovoSqlite(atual);
    Importar(temp, atual, todas);
    Medida sim = Importar(temp, atual, todas, kRespostaSim);
    sim.arquivadas = LinhasSqlite(atual, true);
    FicarComAMelhor(sqliteSub.comArquivo, sim);
    FicarComAMelhor(sqliteSub.recusando, Importar(temp, atual, todas, kRespostaNao));
    NovoSqlite(atual);
    ApagarArquivoSqlite(atual);
    Importar(temp, atual, todas);
    FicarComAMelhor(sqliteSub.semArquivo, Importar(temp, atual, todas, kRespostaSim));
  }
  sqliteSub.exigirArquivadas(0);
  if (sqlite.linhas != cópia.linhas) Falhar("o motor e a cópia em SQL gravaram números diferentes de linhas");
  sqliteSub.comArquivo.linhas = sqliteSub.semArquivo.linhas = sqlite.linhas;
  NovoSqlite(atual);
  sqlitePoucos = Importar(temp, atual, primeiras(kPoucos));
  sqlitePoucos.linhas = LinhasSqlite(atual);

  std::printf("linhas gravadas por importação de %d documentos: %lld\n", kDocumentos, sqlite.linhas);
  std::printf("\n== SQLite (melhor de %d) ==\n", o.repetições);
  Imprimir("motor", sqlite);
  std::printf("%-30s %5d docs %8.3f s %9.0f linhas/s\n", "copia em SQL puro", cópia.documentos, cópia.segundos,
              cópia.linhasPorSegundo());
  std::printf("razão motor / SQL puro: %.2f   (meta <= 1.5)\n", sqlite.segundos / cópia.segundos);
  ImprimirSubstituições(sqliteSub, sqlite);

  // Per engine: the runs of 100 and of 1,000 documents.
  std::vector<std::tuple<const char*, Medida, Medida>> commits;
  commits.emplace_back("SQLite", sqlitePoucos, sqlite);

  Servidor servidor(pasta.filePath("pg"));
  if (!servidor.motivo().isEmpty()) {
    std::printf("\nPostgreSQL não medido: %s\n", qPrintable(servidor.motivo()));
  } else {
    const auto importarPg = [&](const std::function<QString(const QString&)>& uri, int documentos, int resposta = 0,
                                bool arquivo = true) {
      const QString banco = servidor.novoBanco();
      if (!arquivo) ApagarArquivoPg(servidor.uri(banco));
      if (resposta != 0) Importar(temp, servidor.uri(banco), primeiras(documentos));
      Medida m = Importar(temp, uri(banco), primeiras(documentos), resposta);
      m.linhas = LinhasPg(servidor.uri(banco));
      if (arquivo) m.arquivadas = LinhasPg(servidor.uri(banco), true);
      servidor.apagarBanco(banco);
      return m;
    };
    const auto soquete = [&](const QString& banco) { return servidor.uri(banco); };

    Medida pg;
    pg.segundos = 1e9;
    for (int i = 0; i < o.repetições; ++i) {
      const Medida m = importarPg(soquete, kDocumentos);
      if (m.segundos < pg.segundos) pg = m;
    }
    Substituições pgSub;
    for (int i = 0; i < o.repetições; ++i) {
      FicarComAMelhor(pgSub.comArquivo, importarPg(soquete, kDocumentos, kRespostaSim));
      FicarComAMelhor(pgSub.recusando, importarPg(soquete, kDocumentos, kRespostaNao));
      FicarComAMelhor(pgSub.semArquivo, importarPg(soquete, kDocumentos, kRespostaSim, false));
    }
    pgSub.exigirArquivadas(sqliteSub.comArquivo.arquivadas);
    const Medida pgPoucos = importarPg(soquete, kPoucos);
    if (pg.linhas != sqlite.linhas) Falhar("o PostgreSQL e o SQLite gravaram números diferentes de linhas");
    std::optional<Medida> pgLink;
    if (o.documentosLink != kDocumentos && o.documentosLink != kPoucos) pgLink = importarPg(soquete, o.documentosLink);
    const Medida& referência =
        o.documentosLink == kDocumentos ? pg : (o.documentosLink == kPoucos ? pgPoucos : *pgLink);

    std::printf("\n== PostgreSQL, servidor local (soquete e TCP: melhor de %d) ==\n", o.repetições);
    Imprimir("soquete Unix", pg);
    std::printf("razão soquete / SQLite: %.2f   (meta <= 3)\n", pg.segundos / sqlite.segundos);
    ImprimirSubstituições(pgSub, pg);
    if (pgLink) Imprimir("soquete Unix", *pgLink);

    const IdaEVolta direta = MedirIdaEVolta(Servidor::uriTcp("postgres", servidor.porta()));
    std::printf("ida e volta TCP direta: mediana %.3f ms, média %.3f ms (%d SELECT 1)\n", direta.mediana, direta.média,
                kAmostrasIdaEVolta);
    double própria = 0;  // what the proxy itself adds to the round trip
    {
      Proxy semAtraso(servidor.porta(), 0);
      const IdaEVolta r = MedirIdaEVolta(Servidor::uriTcp("postgres", semAtraso.porta()));
      própria = r.mediana;
      std::printf("ida e volta pelo proxy sem atraso: mediana %.3f ms, média %.3f ms\n", r.mediana, r.média);
    }
    if (o.documentosLink != kDocumentos) {
      std::printf("pelo proxy: só %d documentos (--documentos-link); comparados ao soquete com o mesmo número\n",
                  o.documentosLink);
    }
    for (const double alvo : kIdasEVoltasAlvo) {
      double atraso = std::max(0.0, (alvo - própria) / 2);
      {
        Proxy ensaio(servidor.porta(), atraso);
        atraso = std::max(0.0, atraso + (alvo - MedirIdaEVolta(Servidor::uriTcp("postgres", ensaio.porta())).mediana) / 2);
      }
      Proxy proxy(servidor.porta(), atraso);
      const IdaEVolta r = MedirIdaEVolta(Servidor::uriTcp("postgres", proxy.porta()));
      // The same number of runs as over the socket, the best counting: one
      // run alone measures the server's moods more than the link.
      Medida m;
      m.segundos = 1e9;
      for (int i = 0; i < o.repetições; ++i) {
        const Medida uma = importarPg(
            [&](const QString& banco) { return Servidor::uriTcp(banco, proxy.porta()); }, o.documentosLink);
        if (uma.segundos < m.segundos) m = uma;
      }
      char nome[64];
      std::snprintf(nome, sizeof nome, "TCP, ida e volta ~%.0f ms", alvo);
      std::printf("\nproxy com atraso de %.3f ms por sentido; ida e volta medida: mediana %.3f ms, média %.3f ms\n",
                  atraso, r.mediana, r.média);
      Imprimir(nome, m);
      std::printf("razão enlace / soquete: %.2f   (meta <= 1.5)\n", m.segundos / referência.segundos);
      if (o.documentosLink == kDocumentos) {
        Medida sim;
        sim.segundos = 1e9;
        for (int i = 0; i < o.repetições; ++i) {
          const Medida uma = importarPg(
              [&](const QString& banco) { return Servidor::uriTcp(banco, proxy.porta()); }, kDocumentos, kRespostaSim);
          if (uma.segundos < sim.segundos) sim = uma;
        }
        Imprimir("substituindo pelo enlace", sim);
        std::printf("razão substituindo: enlace / soquete: %.2f   (meta <= 1.5)\n",
                    sim.segundos / pgSub.comArquivo.segundos);
      }
    }
    commits.emplace_back("PostgreSQL", pgPoucos, pg);
  }

  std::printf("\n== commits por execução ==\n");
  for (const auto& [nome, poucos, todos] : commits) {
    std::printf("%-12s %5d docs: %5lld   %5d docs: %5lld\n", nome, poucos.documentos,
                static_cast<long long>(poucos.trabalho.commits), todos.documentos,
                static_cast<long long>(todos.trabalho.commits));
  }
  std::printf("\ncarga da máquina no fim (/proc/loadavg): %s\n", Carga().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Each figure shows as soon as it is known, also into a pipe or a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::signal(SIGINT, AoSinal);
  std::signal(SIGTERM, AoSinal);
  try {
    return Executar(LerOpções(app.arguments()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_lotes: %s\n", e.what());
    return 1;
  }
}
