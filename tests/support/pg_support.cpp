#include "support/pg_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <memory>

#include "database/identificador.h"
#include "database/pg/pg_conexao.h"

namespace orlan::test {

namespace {

QString Ler(const QString& nome) {
  QFile f(QStringLiteral(ORLAN_TEST_PG_STATE "/") + nome);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(f.readAll()).trimmed();
}

}  // namespace

QString PgServidorDeTeste() { return Ler(QStringLiteral("uri")); }

QString PgMotivoSemServidor() {
  if (!PgServidorDeTeste().isEmpty()) return QString();
  const QString motivo = Ler(QStringLiteral("motivo"));
  return motivo.isEmpty() ? QStringLiteral("no PostgreSQL test server: run the test through ctest (fixture pg_server)")
                          : QStringLiteral("no PostgreSQL test server: ") + motivo;
}

QString PgUriComBanco(const QString& uri, const QString& banco) {
  const int início = uri.indexOf(QStringLiteral("://")) + 3;
  int fim = início;
  while (fim < uri.size() && uri[fim] != QLatin1Char('/') && uri[fim] != QLatin1Char('?')) ++fim;
  int consulta = uri.indexOf(QLatin1Char('?'), fim);
  if (consulta < 0) consulta = uri.size();
  return uri.left(fim) + QLatin1Char('/') + banco + uri.mid(consulta);
}

QString PgNovoBanco() {
  static int n = 0;
  const QString nome = QStringLiteral("orlan_%1_%2").arg(QCoreApplication::applicationPid()).arg(++n);
  std::unique_ptr<PgConexão> admin;
  const Status s = PgConexão::Abrir(PgServidorDeTeste(), &admin);
  if (!s.ok()) qFatal("test server: %s", s.ToString().c_str());
  try {
    admin->executarScript("CREATE DATABASE " + QuoteIdentifier(nome.toStdString()));
  } catch (const DbError& e) {
    qFatal("test server: %s", e.what());
  }
  return PgUriComBanco(PgServidorDeTeste(), nome);
}

bool PgReiniciarServidor() {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(QStringLiteral(ORLAN_TEST_PG_SCRIPT), {QStringLiteral("restart"), QStringLiteral(ORLAN_TEST_PG_STATE)});
  const bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (!ok) qWarning("%s", p.readAll().constData());
  return ok;
}

}  // namespace orlan::test
