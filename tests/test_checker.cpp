// The checker end to end: files on disk, a real temporary database, the
// events and the message a rejection shows.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "checker/cons_pre.h"
#include "checker/gerador_prf.h"
#include "database/identificador.h"
#include "database/schema.h"
#include "database/sqlite/recordset.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

using namespace orlan;

namespace {

QString L(const QString& code, const QStringList& fields) { return code + "|" + fields.join('|'); }

// A file with every record type, every field type, Nulls, and texts that SQL
// and encodings like to break: apostrophes, quotes, &, %, _ and accents.
QStringList LinhasCompletas() {
  QStringList l;
  l << "PRF|1|Testes";
  l << L("CONTRIBUINTE", {"110042490114", "Comércio D'Ávila & Filhos \"100%\" Ltda_", "12345678000195", "4711301",
                          "Rua das Flores", "100", "", "Centro", "01001000", "São Paulo", "SP", "1133334444", "",
                          "", "", "contato@example.com", "01/02/2003", "Observação: 50% à vista"});
  l << L("CONTRIBUINTE", {"ABC123", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""});
  l << L("QUR", {"110042490114", "01", "01", "03/2006", "", "1", "1234.56", "-0.5", "0", "10", "0", "0", "0", "0",
                 "0", "01", "1", "10/04/2006 14:03:00", "29/02/2004", "", "", ""});
  l << L("PAGAMENTO", {"1", "10/04/2006", "1234.56"});
  l << L("PAGAMENTO", {"", "", ""});
  l << L("CFOP", {"5102", "10000", "10000", "1800", "0", "0", "0", "0", "0", "0"});
  l << L("INTERUF", {"6102", "MG", "1.5", "2", "3", "4", "5", "6", "7", "8", "9"});
  l << L("ZFMALC", {"6109", "AM", "NF-1", "31/12/2099", "999999999999999", "12345678000195", "Manaus"});
  l << L("OCORRENCIA", {"002.01", "50.5", "Art. 1", "Estorno de crédito", "1"});
  l << L("IEREMETENTE", {"110042490115", "50.5"});
  l << L("IESUBSTITUIDO", {"110042490116", "NF 2", ""});
  l << L("DIPAM", {"1234", "Jundiaí", "7.0001"});
  l << L("IESUBSTITUTO", {"110042490117", "", "01/01/1900", "31/12/2006", "0"});
  l << L("RECIBOCREDITO", {"AUT-1", "12"});
  l << L("REGEXPORTACAO", {"RE 2006/1"});
  l << L("QUR", {"ABC123", "02", "02", "01/2006", "09/2006", "0", "", "", "", "", "", "", "", "", "", "", "", "",
                 "", "", "05/05/2006 23:59:59", "AUT'X"});
  l << L("OCORRENCIA", {"007.99", "", "", "", ""});
  l << L("RECIBOCREDITO", {"AUT-2", ""});
  l << QString("FIM|%1").arg(l.size() + 1);
  return l;
}

// What the temporary database must hold for LinhasCompletas(), per table in
// row order, every column as SQLite's quote() shows it (texts quoted, REAL
// with a decimal point, Null as NULL).
const QStringList kEsperado = {
    "tblContribuinte: 1|'110042490114'|'Comércio D''Ávila & Filhos \"100%\" Ltda_'|'12345678000195'|'4711301'|"
    "'Rua das Flores'|'100'|NULL|'Centro'|'01001000'|'São Paulo'|'SP'|'1133334444'|NULL|NULL|NULL|"
    "'contato@example.com'|'2003-02-01'|'Observação: 50% à vista'",
    "tblContribuinte: 2|'ABC123'|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|"
    "NULL",
    "tblQUR: 1|'110042490114'|'01'|'01'|'2006-03-20'|NULL|1|1234.56|-0.5|0|10.0|0.0|0.0|0.0|0.0|0.0|'01'|1|"
    "'2006-04-10 14:03:00'|'2004-02-29'|NULL|NULL|NULL",
    "tblQUR: 2|'ABC123'|'02'|'02'|'2006-01-20'|'2006-09-20'|0|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|"
    "NULL|NULL|NULL|NULL|'2006-05-05 23:59:59'|'AUT''X'",
    "tblPagamento: 1|1|'2006-04-10'|1234.56",
    "tblPagamento: 1|NULL|NULL|NULL",
    "tblDetalhesCFOPs: 1|'5102'|10000.0|10000.0|1800.0|0.0|0.0|0.0|0.0|0.0|0.0",
    "tblDetalhesInterUFs: 1|'6102'|'MG'|1.5|2.0|3.0|4.0|5.0|6.0|7.0|8.0|9.0",
    "tblZFM_ALC: 1|'6109'|'AM'|'NF-1'|'2099-12-31'|999999999999999.0|'12345678000195'|'Manaus'",
    "tblOcorrências: 1|1|'002.01'|50.5|'Art. 1'|'Estorno de crédito'|1",
    "tblOcorrências: 2|2|'007.99'|NULL|NULL|NULL|NULL",
    "tblIEsRemetente: 1|'110042490115'|50.5",
    "tblIESubstituido: 1|'110042490116'|'NF 2'|NULL",
    "tblIESubstituto: 1|'110042490117'|NULL|'1900-01-01'|'2006-12-31'|0.0",
    "tblRecibosCredito: 1|'AUT-1'|12.0",
    "tblRecibosCredito: 2|'AUT-2'|NULL",
    "tblDIPAM: 1|'1234'|'Jundiaí'|7.0001",
    "tblRegistroExportação: 1|'RE 2006/1'",
};

// Every row of every table of the temporary database, as in kEsperado.
QStringList Conteúdo(Database& db) {
  QStringList out;
  for (const schema::RecordDef& r : schema::Records()) {
    QStringList colunas;
    for (const ColumnInfo& c : db.tableColumns(r.table)) {
      colunas << "quote(" + QString::fromStdString(QuoteIdentifier(c.name)) + ")";
    }
    const std::string sql = "SELECT " + colunas.join(" || '|' || ").toStdString() + " AS v FROM " +
                            QuoteIdentifier(r.table) + " ORDER BY rowid";
    Recordset rs = db.openQuery(sql);
    for (; !rs.eof(); rs.moveNext()) {
      out << QString::fromUtf8(r.table.data(), static_cast<int>(r.table.size())) + ": " +
                 rs.value("v").toString();
    }
  }
  return out;
}

QByteArray Windows1252(const QString& s) {
  static const QHash<char16_t, char> kEspeciais = {
      {u'€', '\x80'}, {u'‚', '\x82'}, {u'“', '\x93'}, {u'”', '\x94'}, {u'–', '\x96'}, {u'—', '\x97'},
      {u'Š', '\x8A'}, {u'‰', '\x89'}, {u'™', '\x99'}, {u'Ÿ', '\x9F'}};
  QByteArray out;
  for (QChar c : s) {
    if (c.unicode() < 0x80 || (c.unicode() >= 0xA0 && c.unicode() <= 0xFF)) {
      out.append(static_cast<char>(c.unicode()));
    } else {
      if (!kEspeciais.contains(c.unicode())) qFatal("no Windows-1252 byte for U+%04X", c.unicode());
      out.append(kEspeciais.value(c.unicode()));
    }
  }
  return out;
}

class Ouvinte : public OuvinteConsPre {
 public:
  explicit Ouvinte(QString alvo) : alvo_(std::move(alvo)) {}
  void ConsPre_Progresso() override {
    ++progressos;
    if (fechar > 0) ++progressos_depois_de_fechar;
  }
  void ConsPre_Fechar() override {
    ++fechar;
    alvo_existia_no_fechar = QFileInfo::exists(alvo_);
    const QStringList laterais = QFileInfo(alvo_).dir().entryList({QFileInfo(alvo_).fileName() + ".tmp-*"});
    lateral_completo_no_fechar = laterais.size() == 1;
  }
  int progressos = 0;
  int progressos_depois_de_fechar = 0;
  int fechar = 0;
  bool alvo_existia_no_fechar = true;
  bool lateral_completo_no_fechar = false;

 private:
  QString alvo_;
};

}  // namespace

class TestChecker : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Caminho(const QString& nome) const { return dir_.filePath(nome); }
  QString Alvo() const { return Caminho("BDTempPrf.fix"); }

  // Runs a check of `bytes`; leaves the database (if any) at Alvo().
  std::int16_t Verificar(const QByteArray& bytes, Ouvinte* ouvinte = nullptr) {
    QFile::remove(Alvo());
    const QString entrada = Caminho("entrada.prf");
    test::WriteFile(entrada, bytes);
    ConsPre c(ouvinte, Alvo());
    c.SetInputFile(entrada);
    const std::int16_t r = c.RunCheck();
    if (r != kVerificaçãoAceita) último_relatório_ = c.report();
    return r;
  }

  QStringList ConteúdoDoAlvo() {
    auto db = test::OpenExisting(Alvo());
    return Conteúdo(*db);
  }

  // Nothing but the input file is left in the folder: no database, no side file.
  void SemSobras() {
    QStringList restos = QDir(dir_.path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
    restos.removeAll("entrada.prf");
    QVERIFY2(restos.isEmpty(), qPrintable(restos.join(", ")));
  }

  QString último_relatório_;

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  void acceptsEveryRecordTypeFieldByField() {
    const QByteArray bytes = LinhasCompletas().join('\n').toUtf8() + '\n';
    QCOMPARE(Verificar(bytes), kVerificaçãoAceita);
    QCOMPARE(ConteúdoDoAlvo(), kEsperado);
    // Owner-only: the file holds taxpayers' data.
    QCOMPARE(QFile::permissions(Alvo()) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup |
                                           QFile::WriteOther),
             QFile::Permissions());
    // The indexes the control's queries rely on were built.
    auto db = test::OpenExisting(Alvo());
    QVERIFY(db->scalar("SELECT count(*) FROM sqlite_schema WHERE type = 'index'").toInt() >= 10);
  }

  void lineEndsAndByteOrderMarkDoNotChangeTheContent() {
    const QStringList linhas = LinhasCompletas();
    QCOMPARE(Verificar("\xEF\xBB\xBF" + linhas.join("\r\n").toUtf8() + "\r\n"), kVerificaçãoAceita);
    QCOMPARE(ConteúdoDoAlvo(), kEsperado);
    // No line end after FIM.
    QCOMPARE(Verificar(linhas.join('\n').toUtf8()), kVerificaçãoAceita);
    QCOMPARE(ConteúdoDoAlvo(), kEsperado);
  }

  void windows1252StoresTheSameTextAsItsUtf8Twin() {
    QStringList linhas = LinhasCompletas();
    // Characters whose Windows-1252 bytes differ from Latin-1's.
    linhas[2] = L("CONTRIBUINTE", {"ABC123", "“Preço” – 5€ ‰ Š™Ÿ", "", "", "", "", "", "", "", "", "", "", "",
                                   "", "", "", "", "Àéîõü çÇ ºª"});
    QCOMPARE(Verificar(linhas.join('\n').toUtf8()), kVerificaçãoAceita);
    const QStringList utf8 = ConteúdoDoAlvo();
    QVERIFY(utf8.join('\n').contains("'“Preço” – 5€ ‰ Š™Ÿ'"));
    QCOMPARE(Verificar(Windows1252(linhas.join("\r\n"))), kVerificaçãoAceita);
    QCOMPARE(ConteúdoDoAlvo(), utf8);
    // A T(n) limit counts characters, in either encoding: 255 accented
    // characters fit Observação, 256 do not.
    linhas[2] = L("CONTRIBUINTE", {"ABC123", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                                   QString(255, u'ã')});
    QCOMPARE(Verificar(linhas.join('\n').toUtf8()), kVerificaçãoAceita);
    QCOMPARE(Verificar(Windows1252(linhas.join('\n'))), kVerificaçãoAceita);
    linhas[2].append(u'ã');
    QCOMPARE(Verificar(linhas.join('\n').toUtf8()), kConteúdoInválido);
    QCOMPARE(Verificar(Windows1252(linhas.join('\n'))), kConteúdoInválido);
  }

  void rejectionLeavesNothingAndReportsTheFault() {
    QStringList linhas = LinhasCompletas();
    linhas[3].replace("03/2006", "13/2006");
    QCOMPARE(Verificar(linhas.join('\n').toUtf8()), kConteúdoInválido);
    SemSobras();
    QCOMPARE(último_relatório_, QString("Linha 4, campo Ref1: mês inexistente (mês de referência)"));
  }

  void reportKeepsTheFirstHundredFaultsAndCountsTheRest() {
    QStringList linhas = LinhasCompletas();
    linhas.removeLast();
    for (int i = 0; i < 130; ++i) linhas << L("PAGAMENTO", {"2", "", ""});
    linhas << QString("FIM|%1").arg(linhas.size() + 1);
    QFile::remove(Alvo());
    test::WriteFile(Caminho("entrada.prf"), linhas.join('\n').toUtf8());
    ConsPre c(nullptr, Alvo());
    c.SetInputFile(Caminho("entrada.prf"));
    QCOMPARE(c.RunCheck(), kConteúdoInválido);
    QCOMPARE(c.faults().size(), size_t(100));
    QCOMPARE(c.omittedFaults(), 30);
    QCOMPARE(int(c.faults()[0].linha), 20);
    QCOMPARE(int(c.faults()[99].linha), 119);
    QCOMPARE(QString::fromStdString(c.faults()[99].campo), QString("OpPróprias"));
    QVERIFY(c.report().endsWith("... e mais 30 falhas não listadas."));
    QCOMPARE(c.report().count('\n'), 100);
    SemSobras();
  }

  void unreadableInputsGiveCodeOne() {
    ConsPre ausente(nullptr, Alvo());
    ausente.SetInputFile(Caminho("não-existe.prf"));
    QCOMPARE(ausente.RunCheck(), kArquivoIlegível);
    ConsPre pasta(nullptr, Alvo());
    pasta.SetInputFile(dir_.path());
    QCOMPARE(pasta.RunCheck(), kArquivoIlegível);
    QCOMPARE(Verificar(""), kArquivoIlegível);
    QCOMPARE(Verificar("\xEF\xBB\xBF"), kArquivoIlegível);
    SemSobras();
  }

  void unwritableTargetGivesCodeThreeAndNoFile() {
    const QByteArray bytes = LinhasCompletas().join('\n').toUtf8();
    test::WriteFile(Caminho("entrada.prf"), bytes);
    // A folder that cannot be created: its parent is a file.
    const QString alvo = Caminho("entrada.prf") + "/BDTempPrf.fix";
    ConsPre c(nullptr, alvo);
    c.SetInputFile(Caminho("entrada.prf"));
    QCOMPARE(c.RunCheck(), kFalhaAoGravarBanco);
    QVERIFY(!c.report().isEmpty());
    SemSobras();
  }

  void failedRenameLeavesNoSideFile() {
    // The target path is a non-empty folder: everything is written, then the
    // rename fails.
    const QString alvo = Caminho("ocupado");
    QVERIFY(QDir(dir_.path()).mkpath("ocupado/x"));
    test::WriteFile(Caminho("entrada.prf"), LinhasCompletas().join('\n').toUtf8());
    Ouvinte ouvinte(alvo);
    ConsPre c(&ouvinte, alvo);
    c.SetInputFile(Caminho("entrada.prf"));
    QCOMPARE(c.RunCheck(), kFalhaAoGravarBanco);
    QCOMPARE(ouvinte.fechar, 1);
    QVERIFY(QFileInfo(alvo).isDir());
    QVERIFY(QDir(dir_.path()).entryList({"ocupado.tmp-*"}).isEmpty());
    QDir(alvo).removeRecursively();
  }

  void progressIsRaisedBoundedAndCloseComesLast() {
    // A few megabytes: enough for many percents.
    prf::OpçõesGerador o;
    o.contribuintes = 40;
    o.meses = 24;
    o.linhas = 30;
    const QString entrada = Caminho("entrada.prf");
    QVERIFY(prf::GerarArquivoPrf(entrada.toStdString(), o).ok());
    QFile::remove(Alvo());
    Ouvinte ouvinte(Alvo());
    ConsPre c(&ouvinte, Alvo());
    c.SetInputFile(entrada);
    QElapsedTimer relógio;
    relógio.start();
    QCOMPARE(c.RunCheck(), kVerificaçãoAceita);
    const qint64 ms = relógio.elapsed();
    QCOMPARE(ouvinte.fechar, 1);
    QVERIFY(!ouvinte.alvo_existia_no_fechar);
    QVERIFY(ouvinte.lateral_completo_no_fechar);
    QCOMPARE(ouvinte.progressos_depois_de_fechar, 0);
    // The phases (start, before and after the indexes) at least; reading
    // adds at most one per percent and one per 20 ms, and the index build
    // one per 100 ms.
    QVERIFY2(ouvinte.progressos >= 3, qPrintable(QString::number(ouvinte.progressos)));
    QVERIFY2(ouvinte.progressos <= 3 + std::min<qint64>(100, ms / 20 + 1) + ms / 100 + 1,
             qPrintable(QString("%1 in %2 ms").arg(ouvinte.progressos).arg(ms)));
    auto db = test::OpenExisting(Alvo());
    QCOMPARE(test::Count(*db, "tblQUR"), 40 * 24);
  }

  void returnsMayNameTaxpayersBeyondTheInMemorySet() {
    // More taxpayers than the checker keeps in memory: the set moves to disk.
    QByteArray bytes = "PRF|1|x\n";
    const int n = 100050;
    const QByteArray vazios(17, '|');
    for (int i = 0; i < n; ++i) bytes += "CONTRIBUINTE|" + QByteArray::number(500000 + i) + vazios + '\n';
    const QByteArray qur = "|01|01|03/2006||||||||||||||||||\n";
    bytes += "QUR|500000" + qur + "QUR|" + QByteArray::number(500000 + n - 1) + qur;
    bytes += "FIM|" + QByteArray::number(n + 4) + '\n';
    QCOMPARE(Verificar(bytes), kVerificaçãoAceita);
    auto db = test::OpenExisting(Alvo());
    QCOMPARE(test::Count(*db, "tblContribuinte"), n);
    QCOMPARE(db->scalar("SELECT IE FROM tblQUR WHERE NroQUR = 2").toString(), QString::number(500000 + n - 1));
    db->close();
    bytes.replace("QUR|500000|", "QUR|400000|");
    QCOMPARE(Verificar(bytes), kConteúdoInválido);
    QVERIFY2(último_relatório_.startsWith(QString("Linha %1, campo IE: ").arg(n + 2)), qPrintable(último_relatório_));
  }

  void generatorOutputIsDeterministicAndAccepted() {
    const QString gerador = test::ProgramPath("orlan-prf-gen");
    const QString a = Caminho("a.prf"), b = Caminho("b.prf"), c = Caminho("c.prf");
    const QStringList opções = {"--taxpayers", "4", "--months", "5", "--start", "11/2006", "--rows", "23"};
    test::ProcessResult r = test::Run(gerador, QStringList{"--output", a, "--seed", "7"} + opções);
    QVERIFY2(r.exit_code == 0, qPrintable(r.err));
    r = test::Run(gerador, QStringList{"--output", b, "--seed", "7"} + opções);
    QCOMPARE(r.exit_code, 0);
    r = test::Run(gerador, QStringList{"--output", c, "--seed", "8"} + opções);
    QCOMPARE(r.exit_code, 0);
    const QByteArray bytes = test::ReadFile(a);
    QCOMPARE(test::ReadFile(b), bytes);
    QVERIFY(bytes != test::ReadFile(c));
    QVERIFY(bytes.contains("Comércio D'Ávila & Filhos"));

    QCOMPARE(Verificar(bytes), kVerificaçãoAceita);
    auto db = test::OpenExisting(Alvo());
    for (const schema::RecordDef& rec : schema::Records()) {
      QVERIFY2(test::Count(*db, QString::fromUtf8(rec.table.data(), rec.table.size())) > 0, rec.table.data());
    }
    QCOMPARE(test::Count(*db, "tblQUR"), 20);
    QCOMPARE(db->scalar("SELECT max(Ref1) FROM tblQUR").toString(), QString("2007-03-20"));
    // Every third taxpayer files under regime 02, with a second reference.
    QVERIFY(db->scalar("SELECT count(*) FROM tblQUR WHERE RegTrib = '02' AND Ref2 IS NOT NULL").toInt() > 0);
    QCOMPARE(db->scalar("SELECT count(*) FROM tblQUR WHERE RegTrib = '02' AND Ref2 IS NULL").toInt(), 0);
    QVERIFY(db->scalar("SELECT count(*) FROM tblPagamento WHERE Valor IS NULL").toInt() > 0);
  }
};

QTEST_GUILESS_MAIN(TestChecker)
#include "test_checker.moc"
