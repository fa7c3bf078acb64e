// Faults that need a process of their own: orlan-import run on a read-only
// mount, on a full disk (a tiny tmpfs), and killed during a check run. The
// mounts are made in a private mount namespace (unshare), so nothing outside
// the child ever sees them; where the machine cannot make one, the tests say
// why and are skipped.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#ifndef Q_MOC_RUN
#include "support/test_support.h"
#include "test_reliability_apoio.h"

using namespace orlan;
#endif

namespace {

#ifndef Q_MOC_RUN
// Runs `script` (sh) as root of a new private mount namespace, with `args`
// as $1, $2, ...
test::ProcessResult NoNamespace(const QString& script, const QStringList& args) {
  return test::Run(QStringLiteral("unshare"),
                   QStringList{"-m", "--propagation", "private", "--", "sh", "-c", script, "sh"} + args);
}

// Empty when this machine can mount in a private namespace; else why not.
QString SemNamespace() {
  if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()) return "unshare is not installed";
  QTemporaryDir d;
  const test::ProcessResult r = NoNamespace(QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$1\""), {d.path()});
  if (r.exit_code != 0 || r.crashed) {
    return "no private mount namespace here (unshare -m, mount): " + r.err.trimmed() + r.out.trimmed();
  }
  return QString();
}

QStringList RestosLaterais(const QString& pasta) {
  return QDir(pasta).entryList({QStringLiteral("BDTempPrf.fix.tmp-*")}, QDir::Files);
}
#endif

}  // namespace

class TestReliabilityProcessos : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void bancoAtualSomenteLeitura();
  void discoCheioNoBancoAtual();
  void discoCheioNaPastaDoComponente();
  void mortoDuranteAVerificacao();

#ifndef Q_MOC_RUN
 private:
  // A current database in its own folder `nome`, holding every return of A.
  QString AtualComA(const QString& nome);

  QTemporaryDir dir_;
  QString programa_;
  QString a_, b_;
  test::Contagens fontes_a_, fontes_ab_;
  QString sem_namespace_;
#endif
};

#ifndef Q_MOC_RUN
void TestReliabilityProcessos::initTestCase() {
  QVERIFY(dir_.isValid());
  test::IsolateSettings(dir_.filePath("settings"));
  programa_ = test::ProgramPath("orlan-import");
  QVERIFY2(QFileInfo::exists(programa_), qPrintable(programa_));
  a_ = dir_.filePath("a.prf");
  b_ = dir_.filePath("b.prf");
  test::GerarArquivo(a_, 3, 2, 1, 10, 5);
  // B is several times bigger than A, to fill what is left of a small disk.
  test::GerarArquivo(b_, 3, 4, 3, 200, 5);
  fontes_a_ = test::ContagensDoArquivo(a_, dir_.filePath("fonte-a.db"));
  fontes_ab_ = fontes_a_;
  fontes_ab_.insert(test::ContagensDoArquivo(b_, dir_.filePath("fonte-b.db")));
  QCOMPARE(fontes_ab_.size(), 3 * (2 + 4));
  sem_namespace_ = SemNamespace();
}

QString TestReliabilityProcessos::AtualComA(const QString& nome) {
  QDir(dir_.path()).mkpath(nome);
  const QString atual = dir_.filePath(nome + "/atual.db");
  test::CreateCurrentDatabase(atual);
  const test::ProcessResult r =
      test::Run(programa_, {"--db", atual, "--component-dir", dir_.filePath("componente-" + nome), a_});
  if (r.exit_code != 0) qFatal("importing A: %s %s", qPrintable(r.out), qPrintable(r.err));
  return atual;
}

void TestReliabilityProcessos::bancoAtualSomenteLeitura() {
  if (!sem_namespace_.isEmpty()) QSKIP(qPrintable(sem_namespace_));
  const QString atual = AtualComA("somente-leitura");
  const QString pasta = QFileInfo(atual).absolutePath();
  // As root, file modes do not stop writes; a read-only mount does.
  const test::ProcessResult r = NoNamespace(
      QStringLiteral("mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" || exit 90; shift; exec \"$@\""),
      {pasta, programa_, "--db", atual, "--component-dir", dir_.filePath("componente-ro"), b_});
  QVERIFY2(!r.crashed && r.exit_code == 4, qPrintable(QString::number(r.exit_code) + r.out + r.err));
  qInfo("%s", qPrintable(r.out));
  QVERIFY2(r.out.contains(QStringLiteral("[Atenção!] Erro 3027: O banco de dados")) && r.out.contains(QStringLiteral("está somente para leitura")), qPrintable(r.out));
  QVERIFY2(!r.out.contains(QStringLiteral("DELETE")) && !r.out.contains(QStringLiteral("INSERT")), qPrintable(r.out));
  QVERIFY(!r.out.contains(QStringLiteral("Sucesso")));
  test::Contagens depois;
  const QString violações = test::Violações(atual, fontes_ab_, fontes_a_, &depois);
  QVERIFY2(violações.isEmpty(), qPrintable(violações));
  QCOMPARE(depois.size(), fontes_a_.size());

  // An empty database, itself writable, in a read-only folder: the first
  // write, a new taxpayer's, fails on the journal. The system's message
  // names the cause on the line under it, and the status is an error's.
  const QString vazio = dir_.filePath("pasta-somente-leitura/atual.db");
  QVERIFY(QDir().mkpath(QFileInfo(vazio).path()));
  test::CreateCurrentDatabase(vazio);
  const test::ProcessResult só_a_pasta = NoNamespace(
      QStringLiteral("mount --bind \"$1\" \"$1\" && mount --bind \"$2\" \"$2\" && mount -o remount,bind,ro \"$1\" || exit 90;"
                     " shift 2; exec \"$@\""),
      {QFileInfo(vazio).path(), vazio, programa_, "--db", vazio, "--component-dir", dir_.filePath("componente-ro"), b_});
  QVERIFY2(!só_a_pasta.crashed && só_a_pasta.exit_code == 4,
           qPrintable(QString::number(só_a_pasta.exit_code) + só_a_pasta.out + só_a_pasta.err));
  const QString cadastro = QStringLiteral("[Atenção!] Erro na atualização do Cadastro (Arquivo Corrompido)!\nErro 30");
  QVERIFY2(só_a_pasta.out.contains(cadastro), qPrintable(só_a_pasta.out));
  QCOMPARE(test::Violações(vazio, fontes_ab_, {}), QString());
}

void TestReliabilityProcessos::discoCheioNoBancoAtual() {
  if (!sem_namespace_.isEmpty()) QSKIP(qPrintable(sem_namespace_));
  const QString com_a = AtualComA("disco-cheio");
  const QString vazio = dir_.filePath("disco-cheio-vazio/atual.db");
  QVERIFY(QDir().mkpath(QFileInfo(vazio).path()));
  test::CreateCurrentDatabase(vazio);
  const QString disco = dir_.filePath("disco");
  QVERIFY(QDir().mkpath(disco));
  // Room for the database as it is and a little more: B does not fit. In
  // the empty database the smaller rooms fill at the first taxpayer's
  // pages, and SQLite gives the whole transaction up.
  const QList<QPair<QString, int>> casos = {{com_a, 96}, {vazio, 32}, {vazio, 64}};
  for (const auto& [atual, folga] : casos) {
    const QString fora = QFileInfo(atual).absolutePath();
    const qint64 tamanho = (QFileInfo(atual).size() + folga * 1024) / 4096 * 4096;
    const QString depois_dir = QStringLiteral("depois%1").arg(folga);
    const test::ProcessResult r =
        NoNamespace(QStringLiteral("disco=$1 fora=$2 depois=$3; mount -t tmpfs -o size=$4 tmpfs \"$disco\" || exit 90\n"
                                   "cp \"$fora/atual.db\" \"$disco/\" || exit 91\n"
                                   "shift 4; \"$@\"; s=$?\n"
                                   // The disk as the import left it, journal included, for the checks below.
                                   "mkdir \"$fora/$depois\" && cp -a \"$disco/.\" \"$fora/$depois/\" || exit 92\n"
                                   "exit $s"),
                    {disco, fora, depois_dir, QString::number(tamanho), programa_, "--db", disco + "/atual.db",
                     "--component-dir", dir_.filePath("componente-cheio"), b_});
    QVERIFY2(!r.crashed && r.exit_code == 4, qPrintable(QString::number(r.exit_code) + r.out + r.err));
    qInfo("%s", qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("[Atenção!] Erro 3026: O disco do banco de dados")), qPrintable(r.out));
    test::Contagens depois;
    const test::Contagens& antes = atual == com_a ? fontes_a_ : test::Contagens();
    const QString violações = test::Violações(fora + '/' + depois_dir + "/atual.db", fontes_ab_, antes, &depois);
    QVERIFY2(violações.isEmpty(), qPrintable(violações));
    qInfo("%lld of %lld returns in the database after the full disk", qlonglong(depois.size()),
          qlonglong(fontes_ab_.size()));
    QVERIFY(depois.size() < fontes_ab_.size());
  }
}

void TestReliabilityProcessos::discoCheioNaPastaDoComponente() {
  if (!sem_namespace_.isEmpty()) QSKIP(qPrintable(sem_namespace_));
  const QString atual = AtualComA("componente-cheio");
  const QString disco = dir_.filePath("disco-componente");
  QVERIFY(QDir().mkpath(disco));
  const test::ProcessResult r =
      NoNamespace(QStringLiteral("disco=$1 lista=$2; mount -t tmpfs -o size=64k tmpfs \"$disco\" || exit 90\n"
                                 "shift 2; \"$@\"; s=$?\n"
                                 "ls -A \"$disco\" > \"$lista\" || exit 92\n"
                                 "exit $s"),
                  {disco, dir_.filePath("restos.txt"), programa_, "--db", atual, "--component-dir", disco, b_});
  QVERIFY2(!r.crashed && r.exit_code == 4, qPrintable(QString::number(r.exit_code) + r.out + r.err));
  qInfo("%s", qPrintable(r.out));
  QVERIFY2(r.out.contains(QStringLiteral("o banco de dados temporário não pôde ser gravado")), qPrintable(r.out));
  QVERIFY2(r.out.contains(QStringLiteral("Erro 3026")), qPrintable(r.out));
  // Nothing half-written stays on the full disk.
  QFile restos(dir_.filePath("restos.txt"));
  QVERIFY(restos.open(QIODevice::ReadOnly));
  QCOMPARE(restos.readAll(), QByteArray());
  const QString violações = test::Violações(atual, fontes_ab_, fontes_a_);
  QVERIFY2(violações.isEmpty(), qPrintable(violações));

  // B picked on a network path: its copy to the full folder says why it failed.
  const test::ProcessResult rede = NoNamespace(
      QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 90; shift; exec \"$@\""),
      {disco, programa_, "--db", atual, "--component-dir", disco, '/' + b_});
  QVERIFY2(rede.exit_code == 2 && rede.out.contains(QStringLiteral("não pôde ser copiado para")) &&
               rede.out.contains(QStringLiteral("o disco está cheio")),
           qPrintable(QString::number(rede.exit_code) + rede.out + rede.err));
}

void TestReliabilityProcessos::mortoDuranteAVerificacao() {
  const QString atual = dir_.filePath("morto.db");
  test::CreateCurrentDatabase(atual);
  const QString grande = dir_.filePath("grande.prf");
  test::GerarArquivo(grande, 20, 12, 1, 800, 9);
  const QString pasta = dir_.filePath("componente-morto");
  const QString temp = pasta + "/BDTempPrf.fix";
  const QStringList args{"--db", atual, "--component-dir", pasta, "--list", grande};

  QElapsedTimer relógio;
  relógio.start();
  const test::ProcessResult inteira = test::Run(programa_, args);
  const qint64 duração = relógio.elapsed();
  QCOMPARE(inteira.exit_code, 0);
  QCOMPARE(int(inteira.out.count('\n')), 240);

  QRandomGenerator aleatório(20060420);
  int no_meio = 0;  // kills that caught a side file being written
  for (int i = 0; i < 6; ++i) {
    QProcess filho;
    filho.start(programa_, args);
    QVERIFY(filho.waitForStarted());
    QThread::msleep(static_cast<unsigned long>(duração / 10 + aleatório.bounded(duração * 8 / 10 + 1)));
    filho.kill();
    QVERIFY(filho.waitForFinished(10000));
    if (filho.exitStatus() != QProcess::CrashExit) continue;  // it finished first
    if (!RestosLaterais(pasta).isEmpty()) ++no_meio;
    // What is at the path is a whole temporary database or nothing.
    if (QFileInfo::exists(temp)) {
      auto db = test::OpenExisting(temp);
      QCOMPARE(db->scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
      QCOMPARE(test::Count(*db, "tblQUR"), 240);
    }
    // The next check run works and lists the same.
    const test::ProcessResult depois = test::Run(programa_, args);
    QCOMPARE(depois.exit_code, 0);
    QCOMPARE(depois.out, inteira.out);
    QVERIFY2(RestosLaterais(pasta).isEmpty(), qPrintable(RestosLaterais(pasta).join(' ')));
  }
  qInfo("a whole check run took %lld ms; %d of the kills caught it writing", duração, no_meio);
  QVERIFY2(no_meio > 0, "no kill came while the checker was writing");
  const QString violações = test::Violações(atual, {}, {});
  QVERIFY2(violações.isEmpty(), qPrintable(violações));
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestReliabilityProcessos)
#include "test_reliability_processos.moc"
