// Hostile files for the checker, made here in a temporary folder: huge
// lines, NUL bytes, bytes that are not UTF-8, a million returns, deeply
// repeated records, a million faults, an endless device, and every field at
// its maximum length and one past it. Each is accepted or rejected as the
// file format says; the big ones run in a child process whose peak memory
// must not grow with the file, and which must end within its time limit.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_MOC_RUN
#include "checker/cons_pre.h"
#include "database/identificador.h"
#include "database/schema.h"
#include "database/sqlite/recordset.h"
#include "support/test_support.h"

using namespace orlan;
#endif

namespace {

#ifndef Q_MOC_RUN
// What the child reports of one check run.
struct Execução {
  bool terminou = false;
  int resultado = -1;
  qlonglong falhas = -1;
  int listadas = -1;
  QString primeira;  // "line|field|message" of the first fault
  qlonglong pico_kb = -1;
  QString saída;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizado = true;
#else
constexpr bool kSanitizado = false;
#endif
// A check run that takes longer than this is taken for one that never ends.
constexpr int kTempoMáximoMs = kSanitizado ? 300000 : 120000;
// Memory a check may take beyond what a tiny file takes, whatever the file.
// The sanitizers' red zones and bookkeeping take a few times more.
constexpr qlonglong kMemóriaExtraKb = (kSanitizado ? 160 : 64) * 1024;
// Peak memory of any check run in an ordinary build.
constexpr qlonglong kMemóriaMáximaKb = 100 * 1024;

Execução VerificarEmFilho(const QString& arquivo, const QString& temp) {
  QProcess p;
  p.setStandardInputFile(QProcess::nullDevice());
  if (kSanitizado) {
    // AddressSanitizer keeps up to 256 MB of freed memory aside by default,
    // which would hide how much the checker itself holds.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString antes = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", antes + (antes.isEmpty() ? "" : ":") + "quarantine_size_mb=16");
    p.setProcessEnvironment(env);
  }
  p.start(QStringLiteral(ORLAN_TEST_PROGRAM_DIR "/verificacao_filho"), {arquivo, temp});
  Execução e;
  if (!p.waitForStarted() || !p.waitForFinished(kTempoMáximoMs)) {
    p.kill();
    p.waitForFinished();
    return e;
  }
  e.terminou = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  e.saída = QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
  for (const QString& linha : e.saída.split('\n')) {
    const QString valor = linha.section(' ', 1);
    if (linha.startsWith("resultado ")) e.resultado = valor.toInt();
    if (linha.startsWith("falhas ")) e.falhas = valor.toLongLong();
    if (linha.startsWith("listadas ")) e.listadas = valor.toInt();
    if (linha.startsWith("primeira ")) e.primeira = valor;
    if (linha.startsWith("pico_kb ")) e.pico_kb = valor.toLongLong();
  }
  return e;
}

// Writes a file piece by piece, so that big ones never sit in memory.
class Escritor {
 public:
  explicit Escritor(const QString& caminho) : f_(caminho) {
    if (!f_.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(caminho));
  }
  Escritor& operator<<(const QByteArray& b) {
    f_.write(b);
    return *this;
  }
  // `linha` (without its line end) `vezes` times.
  void repetir(const QByteArray& linha, qlonglong vezes) {
    const QByteArray bloco = (linha + '\n').repeated(std::max<qlonglong>(1, 65536 / (linha.size() + 1)));
    const qlonglong por_bloco = bloco.size() / (linha.size() + 1);
    for (; vezes >= por_bloco; vezes -= por_bloco) f_.write(bloco);
    for (; vezes > 0; --vezes) f_.write(linha + '\n');
  }

 private:
  QFile f_;
};

QByteArray Contribuinte(const QByteArray& ie, const QByteArray& nome = "Nome") {
  return "CONTRIBUINTE|" + ie + "|" + nome + QByteArray(16, '|');
}
QByteArray Qur(const QByteArray& ie) { return "QUR|" + ie + "|01|01|03/2006" + QByteArray(18, '|'); }
QByteArray Fim(qlonglong linhas) { return "FIM|" + QByteArray::number(linhas) + "\n"; }

QString Nome(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// A value of `f` of the greatest length its type allows; `alémDoMáximo`
// adds one more character (and for a number, one more decimal).
QString ValorNoMáximo(const schema::FieldDef& f, bool alémDoMáximo) {
  const QString a = alémDoMáximo ? QStringLiteral("1") : QString();
  switch (f.type) {
    case schema::FieldType::kText:
      // Two bytes each in UTF-8: the limit counts characters.
      return QString(f.length + (alémDoMáximo ? 1 : 0), QChar(0x00C1));
    case schema::FieldType::kIE:
      return QStringLiteral("ABCDEFGHIJ1234") + a;
    case schema::FieldType::kNumber:
      // 15 significant digits, with the leading zeros that fill the form.
      return QStringLiteral("-000099999999999.9999") + a;
    case schema::FieldType::kDate:
      return QStringLiteral("31/12/2099") + a;
    case schema::FieldType::kDateTime:
      return QStringLiteral("31/12/2099 23:59:59") + a;
    case schema::FieldType::kMonth:
      return QStringLiteral("12/2099") + a;
    case schema::FieldType::kBoolean:
      return QStringLiteral("1") + a;
  }
  return QString();
}

// The smallest valid value of `f`, or empty for a field that may be Null.
QString ValorMínimo(const schema::FieldDef& f) {
  if (!f.required) return QString();
  switch (f.type) {
    case schema::FieldType::kMonth:
      return QStringLiteral("03/2006");
    case schema::FieldType::kText:
      return QStringLiteral("01");
    default:
      return QStringLiteral("1");
  }
}
#endif

}  // namespace

class TestHostile : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void arquivosHostis_data();
  void arquivosHostis();
  void dispositivoSemFim();
  void camposNoMaximoEAlem();

#ifndef Q_MOC_RUN
 private:
  QTemporaryDir dir_;
  qlonglong base_kb_ = 0;
#endif
};

#ifndef Q_MOC_RUN
void TestHostile::initTestCase() {
  QVERIFY(dir_.isValid());
  const QString pequeno = dir_.filePath("pequeno.prf");
  Escritor(pequeno) << "PRF|1|x\n" << Contribuinte("1") + "\n" << Qur("1") + "\n" << Fim(4);
  const Execução e = VerificarEmFilho(pequeno, dir_.filePath("pequeno.fix"));
  QVERIFY2(e.terminou && e.resultado == kVerificaçãoAceita, qPrintable(e.saída));
  base_kb_ = e.pico_kb;
  QVERIFY(base_kb_ > 0);
}

void TestHostile::arquivosHostis_data() {
  QTest::addColumn<QString>("nome");
  QTest::addColumn<int>("resultado");
  QTest::addColumn<QString>("primeira");  // the first fault starts with this
  QTest::addColumn<qlonglong>("falhas");  // -1: any number
  QTest::addColumn<QString>("consulta");  // for accepted files: what the temporary database
  QTest::addColumn<QString>("esperado");  // must then give

  QTest::newRow("a 50 MB line") << "linha50mb" << int(kConteúdoInválido) << "2||linha com mais de" << 1LL << ""
                                << "";
  QTest::newRow("50 MB without a line end") << "semfim" << int(kConteúdoInválido) << "1||linha com mais de" << 2LL << ""
                                            << "";
  QTest::newRow("a NUL byte in a name") << "nul" << int(kConteúdoInválido) << "2|RazãoSocial|" << 1LL << ""
                                        << "";
  QTest::newRow("1 MB of NUL bytes") << "nuls" << int(kConteúdoInválido) << "1||" << -1LL << ""
                                     << "";
  QTest::newRow("not UTF-8: read as Windows-1252")
      << "latin1" << int(kVerificaçãoAceita) << "" << 0LL << "SELECT \"RazãoSocial\" FROM tblContribuinte"
      << "José Ação €";
  // Windows-1252 leaves 0x81 undefined: it reads as U+0081, which the
  // format does not forbid (its control characters are U+0000-U+001F, U+007F).
  QTest::newRow("a byte Windows-1252 leaves undefined")
      << "indefinido" << int(kVerificaçãoAceita) << "" << 0LL << "SELECT hex(\"RazãoSocial\") FROM tblContribuinte"
      << "41C28142";
  QTest::newRow("a UTF-8 mark before bytes that are not UTF-8")
      << "marca" << int(kConteúdoInválido) << "1||o arquivo começa com a marca de UTF-8" << 1LL << ""
      << "";
  QTest::newRow("a million returns without details")
      << "milhao" << int(kVerificaçãoAceita) << "" << 0LL << "SELECT count(*) FROM tblQUR"
      << "1000000";
  // The checker keeps the IEs it has seen to match returns to taxpayers:
  // past a limit they leave memory.
  QTest::newRow("a million distinct taxpayers")
      << "contribuintes" << int(kVerificaçãoAceita) << "" << 0LL << "SELECT count(DISTINCT IE) FROM tblContribuinte"
      << "1000000";
  QTest::newRow("deeply repeated records")
      << "repetidos" << int(kVerificaçãoAceita) << "" << 0LL
      << "SELECT (SELECT count(*) FROM tblContribuinte) + (SELECT count(*) FROM \"tblOcorrências\") + "
         "(SELECT count(*) FROM tblIEsRemetente) + (SELECT count(*) FROM tblIESubstituido) + "
         "(SELECT count(*) FROM tblIESubstituto) + (SELECT count(*) FROM tblRecibosCredito)"
      << "600000";
  QTest::newRow("a million faults") << "falhas" << int(kConteúdoInválido) << "2||código de registro desconhecido"
                                    << 1000000LL << ""
                                    << "";
}

void TestHostile::arquivosHostis() {
  QFETCH(QString, nome);
  QFETCH(int, resultado);
  QFETCH(QString, primeira);
  QFETCH(qlonglong, falhas);
  QFETCH(QString, consulta);
  QFETCH(QString, esperado);

  const QString arquivo = dir_.filePath(nome + ".prf");
  {
    Escritor w(arquivo);
    if (nome == "linha50mb") {
      w << "PRF|1|x\nCONTRIBUINTE|1|";
      for (int i = 0; i < 800; ++i) w << QByteArray(65536, 'A');
      w << QByteArray(16, '|') + "\n" << Contribuinte("1") + "\n" << Fim(4);
    } else if (nome == "semfim") {
      w << "PRF|1|x";
      for (int i = 0; i < 800; ++i) w << QByteArray(65536, 'x');
    } else if (nome == "nul") {
      w << "PRF|1|x\n" << Contribuinte("1", QByteArray("No\0me", 5)) + "\n" << Fim(3);
    } else if (nome == "nuls") {
      w << QByteArray(1 << 20, '\0');
    } else if (nome == "latin1") {
      // "José Ação €" in Windows-1252: not UTF-8.
      w << "PRF|1|x\n" << Contribuinte("1", "Jos\xE9 A\xE7\xE3o \x80") + "\n" << Fim(3);
    } else if (nome == "indefinido") {
      w << "PRF|1|x\n"
        << Contribuinte("1",
                        "A\x81"
                        "B") +
               "\n"
        << Fim(3);
    } else if (nome == "marca") {
      w << "\xEF\xBB\xBFPRF|1|x\n" << Contribuinte("1", "Jos\xE9") + "\n" << Fim(3);
    } else if (nome == "milhao") {
      w << "PRF|1|x\n" << Contribuinte("1") + "\n";
      w.repetir(Qur("1"), 1000000);
      w << Fim(1000003);
    } else if (nome == "contribuintes") {
      w << "PRF|1|x\n";
      QByteArray bloco;
      for (int i = 0; i < 1000000; ++i) {
        bloco += Contribuinte(QByteArray::number(i)) + '\n';
        if (bloco.size() > 65536) {
          w << bloco;
          bloco.clear();
        }
      }
      w << bloco << Fim(1000002);
    } else if (nome == "repetidos") {
      // The same taxpayer a hundred thousand times (the format allows it),
      // then one return with a hundred thousand occurrences of four registers.
      w << "PRF|1|x\n";
      w.repetir(Contribuinte("1"), 100000);
      w << Qur("1") + "\n";
      w.repetir("OCORRENCIA|1||||\nIEREMETENTE|2|\nIESUBSTITUIDO|3||\nIESUBSTITUTO|4||||\nRECIBOCREDITO|5|", 100000);
      w << Fim(100000 + 500000 + 3);
    } else if (nome == "falhas") {
      w << "PRF|1|x\n";
      w.repetir("X|", 1000000);
      w << Fim(1000002);
    }
  }
  const QString temp = dir_.filePath(nome + ".fix");
  const Execução e = VerificarEmFilho(arquivo, temp);
  QFile::remove(arquivo);
  QVERIFY2(e.terminou, qPrintable("no result within the time limit: " + e.saída));
  qInfo("result %d, %lld faults, peak %lld KiB (a tiny file: %lld KiB)", e.resultado, e.falhas, e.pico_kb, base_kb_);
  QVERIFY2(e.resultado == resultado, qPrintable(e.saída));
  QVERIFY2(primeira.isEmpty() ? e.primeira.isEmpty() : e.primeira.startsWith(primeira), qPrintable(e.saída));
  if (falhas >= 0) QVERIFY2(e.falhas == falhas, qPrintable(e.saída));
  QVERIFY(e.listadas <= 100);
  QVERIFY2(e.pico_kb <= base_kb_ + kMemóriaExtraKb,
           qPrintable(QStringLiteral("peak %1 KiB, a tiny file takes %2 KiB").arg(e.pico_kb).arg(base_kb_)));
  if (!kSanitizado) QVERIFY2(e.pico_kb <= kMemóriaMáximaKb, qPrintable(QString::number(e.pico_kb)));
  if (resultado == kVerificaçãoAceita) {
    auto db = test::OpenExisting(temp);
    QCOMPARE(db->scalar(consulta.toStdString()).toString(), esperado);
    QCOMPARE(db->scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
  } else {
    QVERIFY(!QFile::exists(temp));
  }
  QFile::remove(temp);
  QCOMPARE(QDir(dir_.path()).entryList({nome + ".fix*"}), QStringList());
}

// A device that never ends, or a pipe that nobody writes, is no file to
// check: the run ends at once, rejecting it.
void TestHostile::dispositivoSemFim() {
  const QString fifo = dir_.filePath("fifo.prf");
  QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  for (const QString& caminho : {QStringLiteral("/dev/zero"), fifo}) {
    if (!QFile::exists(caminho)) QSKIP(qPrintable("this machine has no " + caminho));
    const Execução e = VerificarEmFilho(caminho, dir_.filePath("dispositivo.fix"));
    QVERIFY2(e.terminou, qPrintable(caminho + ": no result within the time limit " + e.saída));
    QCOMPARE(e.resultado, int(kArquivoIlegível));
    QVERIFY2(e.primeira.contains(QStringLiteral("não é um arquivo comum")), qPrintable(e.saída));
    QVERIFY(!QFile::exists(dir_.filePath("dispositivo.fix")));
  }
}

// Every field of every record at its greatest length is accepted and stored
// as written; one character (or decimal) more is rejected, naming the field.
void TestHostile::camposNoMaximoEAlem() {
  const QStringList base = {"PRF|1|x", QString::fromLatin1(Contribuinte("1")),
                            QString::fromLatin1(Contribuinte("ABCDEFGHIJ1234")), QString::fromLatin1(Qur("1")),
                            "OCORRENCIA|1||||"};
  int casos = 0;
  const auto verificar = [&](const QStringList& linhas) {
    QStringList l = linhas;
    l << QStringLiteral("FIM|%1").arg(l.size() + 1);
    const QString arquivo = dir_.filePath("campos.prf");
    test::WriteFile(arquivo, (l.join('\n') + '\n').toUtf8());
    const QString temp = dir_.filePath(QStringLiteral("campos%1.fix").arg(++casos));
    auto c = std::make_unique<ConsPre>(nullptr, temp);
    c->SetInputFile(arquivo);
    const int r = c->RunCheck();
    if (r != kVerificaçãoAceita) QFile::remove(temp);
    return std::make_pair(r, std::move(c));
  };

  const QString produtor = ValorNoMáximo({"produtor", schema::FieldType::kText, 60, false}, false);
  QCOMPARE(verificar(QStringList{"PRF|1|" + produtor} + base.mid(1)).first, int(kVerificaçãoAceita));
  {
    auto [r, c] = verificar(QStringList{"PRF|1|" + produtor + QChar(0x00C1)} + base.mid(1));
    QCOMPARE(r, int(kConteúdoInválido));
    QCOMPARE(c->faults().size(), size_t(1));
    QCOMPARE(int(c->faults()[0].linha), 1);
  }

  for (const schema::RecordDef& d : schema::Records()) {
    const QString código = Nome(d.code);
    // Every field at its maximum in one line: accepted, texts stored whole.
    QStringList campos;
    for (const schema::FieldDef& f : d.fields) campos << ValorNoMáximo(f, false);
    {
      auto [r, c] = verificar(base + QStringList{código + "|" + campos.join('|')});
      QVERIFY2(r == kVerificaçãoAceita, qPrintable(código + ": " + c->report()));
      auto db = test::OpenExisting(dir_.filePath(QStringLiteral("campos%1.fix").arg(casos)));
      Recordset linha = db->openQuery("SELECT * FROM " + QuoteIdentifier(d.table) + " ORDER BY rowid DESC LIMIT 1");
      for (int i = 0; i < int(d.fields.size()); ++i) {
        const schema::FieldDef& f = d.fields[i];
        if (f.type != schema::FieldType::kText && f.type != schema::FieldType::kIE) continue;
        QCOMPARE(linha.value(f.name).toString(), campos[i]);
      }
    }
    // One field past its maximum at a time, the others as small as allowed.
    for (int i = 0; i < int(d.fields.size()); ++i) {
      QStringList l;
      for (const schema::FieldDef& f : d.fields) l << ValorMínimo(f);
      l[i] = ValorNoMáximo(d.fields[i], true);
      auto [r, c] = verificar(base + QStringList{código + "|" + l.join('|')});
      const QString onde = código + "." + Nome(d.fields[i].name) + ": " + c->report();
      QVERIFY2(r == kConteúdoInválido, qPrintable(onde));
      QVERIFY2(c->faults().size() == 1, qPrintable(onde));
      QCOMPARE(int(c->faults()[0].linha), int(base.size()) + 1);
      QCOMPARE(QString::fromStdString(c->faults()[0].campo), Nome(d.fields[i].name));
    }
  }
}
#endif  // Q_MOC_RUN

QTEST_GUILESS_MAIN(TestHostile)
#include "test_hostile.moc"
