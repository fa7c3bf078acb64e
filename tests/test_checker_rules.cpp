// Every rule of the ".prf" format, one edit of a valid file at a time: the
// edit is rejected at the right line and field (or accepted, where the edit
// is allowed), and a rejection writes no temporary database.
#include <QDir>
#include <QFile>
#include <QTest>

#include "checker/cons_pre.h"
#include "support/test_support.h"

using namespace orlan;

namespace {

const QList<QByteArray> kBase = {
    "PRF|1|Base",
    "CONTRIBUINTE|110042490114|Nome||||||||||||||||",
    "QUR|110042490114|01|01|03/2006||1|0|0|1|0|0|0|0|0|0|01|1|10/04/2006 14:03:00||||",
    "PAGAMENTO|1|10/04/2006|1234.56",
    "CFOP|5102|10000|10000|1800|0|0|0|0|0|0",
    "OCORRENCIA|002.01|50.5|Art. 1|Estorno|1",
    "IEREMETENTE|110042490115|50.5",
    "FIM|8",
};

// Replaces field `índice` (1-based, after the code) of base line `linha`.
QByteArray Campo(int linha, int índice, const QByteArray& valor) {
  QList<QByteArray> campos = kBase[linha - 1].split('|');
  campos[índice] = valor;
  return campos.join('|');
}

enum class Edição { kTrocar, kInserir, kRemover, kAcrescentarSemAjuste };

}  // namespace

class TestCheckerRules : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  void caso(const char* nome, Edição e, int linha, const QByteArray& texto, int linha_falha,
            const QString& campo = QString(), const QString& trecho = QString()) {
    QTest::newRow(nome) << static_cast<int>(e) << linha << texto << linha_falha << campo << trecho;
  }
  // A replaced field that must be rejected at that line and field.
  void campo(const char* nome, int linha, int índice, const QByteArray& valor, const QString& nome_campo) {
    caso(nome, Edição::kTrocar, linha, Campo(linha, índice, valor), linha, nome_campo);
  }
  // A number too long for a REAL to hold exactly.
  void longo(const char* nome, const QByteArray& valor) {
    caso(nome, Edição::kTrocar, 4, Campo(4, 3, valor), 4, "Valor", "algarismos significativos; o máximo é 15");
  }
  // A replaced field that is allowed.
  void aceito(const char* nome, int linha, int índice, const QByteArray& valor) {
    caso(nome, Edição::kTrocar, linha, Campo(linha, índice, valor), 0);
  }

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  void rule_data() {
    QTest::addColumn<int>("edicao");
    QTest::addColumn<int>("linha");
    QTest::addColumn<QByteArray>("texto");
    QTest::addColumn<int>("linhaFalha");  // 0: accepted
    QTest::addColumn<QString>("campo");
    QTest::addColumn<QString>("trecho");  // part of the fault's message, when it matters

    caso("base file", Edição::kTrocar, 1, kBase[0], 0);
    // First and last lines.
    caso("first line not PRF", Edição::kTrocar, 1, "PRX|1|Base", 1);
    caso("unsupported version", Edição::kTrocar, 1, "PRF|2|Base", 1, "versão");
    caso("producer too long", Edição::kTrocar, 1, "PRF|1|" + QByteArray(61, 'x'), 1, "produtor");
    caso("PRF again", Edição::kInserir, 3, "PRF|1|x", 3);
    caso("no FIM", Edição::kRemover, 8, {}, 7);
    caso("FIM count too high", Edição::kTrocar, 8, "FIM|9", 8, "linhas");
    caso("FIM count too low", Edição::kTrocar, 8, "FIM|7", 8, "linhas");
    caso("FIM count not a number", Edição::kTrocar, 8, "FIM|oito", 8, "linhas");
    caso("FIM count empty", Edição::kTrocar, 8, "FIM|", 8, "linhas");
    caso("lines after FIM", Edição::kAcrescentarSemAjuste, 9, "CFOP|5102|||||||||", 9);
    caso("FIM twice", Edição::kAcrescentarSemAjuste, 9, "FIM|9", 9);
    // Lines.
    caso("empty line", Edição::kInserir, 4, "", 4);
    caso("unknown code", Edição::kTrocar, 4, "PAGAMENTOS|1|10/04/2006|1", 4);
    caso("code in lower case", Edição::kTrocar, 4, "pagamento|1|10/04/2006|1", 4);
    caso("too few fields", Edição::kTrocar, 5, "CFOP|5102|10000", 5);
    caso("too many fields", Edição::kTrocar, 4, "PAGAMENTO|1|10/04/2006|1|", 4);
    caso("line too long", Edição::kTrocar, 4, "PAGAMENTO|1|10/04/2006|" + QByteArray(70000, '1'), 4);
    // Texts.
    campo("text too long", 5, 1, "51020", "CFOP");
    aceito("text limit counts characters", 5, 1, "ÁÉÍÓ");
    campo("accented text too long", 5, 1, "ÁÉÍÓÚ", "CFOP");
    campo("tab in a text", 6, 3, "Art.\t1", "FLegal");
    campo("DEL in a text", 6, 3, "Art.\x7f" "1", "FLegal");
    campo("lone CR in a text", 6, 3, "Art.\r1", "FLegal");
    campo("NUL in a text", 6, 3, QByteArray("Art.\0" "1", 6), "FLegal");
    aceito("quotes and wildcards", 6, 4, "'%_\"&; DROP TABLE tblQUR; --");
    // IE.
    campo("IE with a dash", 7, 1, "1100-4249", "IERemetente");
    campo("IE of 15 characters", 7, 1, "123456789012345", "IERemetente");
    campo("IE with an accent", 7, 1, "11004249011Á", "IERemetente");
    campo("IE with a space", 7, 1, "110042 490115", "IERemetente");
    aceito("IE of letters", 7, 1, "AbC14");
    // Dates.
    campo("31 February", 4, 2, "31/02/2006", "Data");
    campo("29 February of a common year", 4, 2, "29/02/2005", "Data");
    aceito("29 February of a leap year", 4, 2, "29/02/2000");
    campo("year 1899", 4, 2, "31/12/1899", "Data");
    campo("year 2100", 4, 2, "01/01/2100", "Data");
    aceito("year 1900", 4, 2, "01/01/1900");
    campo("date without leading zeros", 4, 2, "1/2/2006", "Data");
    campo("date with dashes", 4, 2, "01-02-2006", "Data");
    campo("day zero", 4, 2, "00/01/2006", "Data");
    campo("month 13 in a date", 4, 2, "01/13/2006", "Data");
    campo("date with a time", 4, 2, "10/04/2006 10:00:00", "Data");
    // Date and time.
    campo("hour 24", 3, 18, "10/04/2006 24:00:00", "DataTransmissão");
    campo("minute 60", 3, 18, "10/04/2006 14:60:00", "DataTransmissão");
    campo("second 60", 3, 18, "10/04/2006 14:03:60", "DataTransmissão");
    campo("time without seconds", 3, 18, "10/04/2006 14:03", "DataTransmissão");
    campo("ISO separator", 3, 18, "10/04/2006T14:03:00", "DataTransmissão");
    campo("impossible date with a time", 3, 18, "31/04/2006 14:03:00", "DataTransmissão");
    aceito("last second of a day", 3, 18, "31/12/2099 23:59:59");
    aceito("date only", 3, 18, "10/04/2006");
    // Reference months.
    campo("month 13", 3, 4, "13/2006", "Ref1");
    campo("month 00", 3, 4, "00/2006", "Ref1");
    campo("month without leading zero", 3, 4, "3/2006", "Ref1");
    campo("month of 1899", 3, 4, "12/1899", "Ref1");
    campo("month of 2100", 3, 4, "01/2100", "Ref1");
    campo("full date as a month", 3, 4, "01/03/2006", "Ref1");
    // Numbers.
    campo("decimal comma", 4, 3, "1,5", "Valor");
    campo("trailing point", 4, 3, "1.", "Valor");
    campo("leading point", 4, 3, ".5", "Valor");
    campo("16 digits", 4, 3, "1234567890123456", "Valor");
    campo("5 decimals", 4, 3, "1.12345", "Valor");
    campo("plus sign", 4, 3, "+1", "Valor");
    campo("exponent", 4, 3, "1e5", "Valor");
    campo("two minus signs", 4, 3, "--1", "Valor");
    campo("minus alone", 4, 3, "-", "Valor");
    campo("leading space", 4, 3, " 1", "Valor");
    campo("thousands separator", 4, 3, "1.234,56", "Valor");
    aceito("negative fraction", 4, 3, "-0.5");
    // At most 15 significant digits, so that a REAL holds the amount exactly.
    aceito("15 digits", 4, 3, "-999999999999999");
    aceito("15 digits with decimals", 4, 3, "12345678901.2345");
    aceito("smallest fraction", 4, 3, "0.0001");
    aceito("zeros that are not significant", 4, 3, "000000000001234.5000");
    longo("16 digits with decimals", "999999999999999.9");
    longo("16 digits in a small number", "-100000000000.0001");
    longo("widest form", "-123456789012345.1234");
    // Booleans.
    campo("boolean 2", 4, 1, "2", "OpPróprias");
    campo("boolean word", 4, 1, "true", "OpPróprias");
    campo("boolean 01", 4, 1, "01", "OpPróprias");
    // Required fields.
    campo("empty RegTrib", 3, 3, "", "RegTrib");
    campo("empty Ref1", 3, 4, "", "Ref1");
    campo("empty IE of a return", 3, 1, "", "IE");
    campo("empty CFOP", 5, 1, "", "CFOP");
    campo("empty taxpayer IE", 2, 1, "", "IE");
    campo("empty occurrence sub-item", 6, 1, "", "CódSubItem");
    aceito("empty optional fields", 4, 2, "");
    // Structure.
    campo("return of an unknown taxpayer", 3, 1, "999", "IE");
    caso("return above its taxpayer", Edição::kInserir, 2, kBase[2], 2, "IE");
    campo("regime 02 without Ref2", 3, 3, "02", "Ref2");
    caso("regime 02 with Ref2", Edição::kTrocar, 3,
         "QUR|110042490114|01|02|01/2006|06/2006|1|0|0|1|0|0|0|0|0|0|01|1|||||", 0);
    aceito("regime 01 with Ref2", 3, 5, "06/2006");
    caso("detail before any return", Edição::kInserir, 3, "CFOP|5102|||||||||", 3);
    caso("register before any occurrence", Edição::kInserir, 4, "IEREMETENTE|110042490115|1", 4);
    caso("register of an earlier return's occurrence", Edição::kInserir, 8,
         kBase[2] + "\nIEREMETENTE|110042490115|1", 9);
    caso("register after other details", Edição::kInserir, 8, "CFOP|5102|||||||||\nIEREMETENTE|1|", 0);
    caso("detail after a later taxpayer", Edição::kInserir, 8,
         "CONTRIBUINTE|2|||||||||||||||||\nCFOP|5102|||||||||", 0);
  }

  void rule() {
    QFETCH(int, edicao);
    QFETCH(int, linha);
    QFETCH(QByteArray, texto);
    QFETCH(int, linhaFalha);
    QFETCH(QString, campo);
    QFETCH(QString, trecho);

    QList<QByteArray> linhas = kBase;
    switch (static_cast<Edição>(edicao)) {
      case Edição::kTrocar:
        linhas[linha - 1] = texto;
        break;
      case Edição::kInserir:
        linhas.insert(linha - 1, texto);
        break;
      case Edição::kRemover:
        linhas.removeAt(linha - 1);
        break;
      case Edição::kAcrescentarSemAjuste:
        linhas.append(texto);
        break;
    }
    QByteArray bytes = linhas.join('\n') + '\n';
    // Keeps FIM's count right unless the FIM line is what is tested.
    const bool ajustar = linhas.last().startsWith("FIM|8") && static_cast<Edição>(edicao) == Edição::kInserir;
    if (ajustar) bytes.replace("\nFIM|8\n", "\nFIM|" + QByteArray::number(bytes.count('\n')) + '\n');

    const QString entrada = dir_.filePath("entrada.prf");
    const QString alvo = dir_.filePath("BDTempPrf.fix");
    QFile::remove(alvo);
    test::WriteFile(entrada, bytes);
    ConsPre c(nullptr, alvo);
    c.SetInputFile(entrada);
    const std::int16_t r = c.RunCheck();
    if (linhaFalha == 0) {
      QVERIFY2(r == kVerificaçãoAceita, qPrintable(c.report()));
      QVERIFY(QFile::exists(alvo));
      return;
    }
    QCOMPARE(r, kConteúdoInválido);
    QVERIFY(!c.faults().empty());
    QCOMPARE(int(c.faults()[0].linha), linhaFalha);
    QCOMPARE(QString::fromStdString(c.faults()[0].campo), campo);
    QVERIFY(!c.faults()[0].mensagem.empty());
    QVERIFY2(QString::fromStdString(c.faults()[0].mensagem).contains(trecho), c.faults()[0].mensagem.c_str());
    QVERIFY(!QFile::exists(alvo));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files).size(), 1);
  }

  void aFaultyLineDoesNotDragItsDependentsDown() {
    // A taxpayer and a return whose field counts are wrong still introduce
    // the taxpayer and open the return, occurrence and registers under them.
    QList<QByteArray> linhas = kBase;
    linhas[1].chop(1);
    linhas[2].append('|');
    const QString entrada = dir_.filePath("entrada.prf");
    test::WriteFile(entrada, linhas.join('\n'));
    ConsPre c(nullptr, dir_.filePath("BDTempPrf.fix"));
    c.SetInputFile(entrada);
    QCOMPARE(c.RunCheck(), kConteúdoInválido);
    QCOMPARE(c.faults().size(), size_t(2));
    QCOMPARE(int(c.faults()[0].linha), 2);
    QCOMPARE(int(c.faults()[1].linha), 3);
  }

  void lastLineEndingInCarriageReturnIsAFault() {
    const QString entrada = dir_.filePath("entrada.prf");
    test::WriteFile(entrada, kBase.join('\n') + '\r');
    ConsPre c(nullptr, dir_.filePath("BDTempPrf.fix"));
    c.SetInputFile(entrada);
    QCOMPARE(c.RunCheck(), kConteúdoInválido);
    QCOMPARE(int(c.faults()[0].linha), 8);
    QCOMPARE(QString::fromStdString(c.faults()[0].campo), QString("linhas"));
  }

  void byteOrderMarkOnAFileThatIsNotUtf8() {
    // Not UTF-8 as a whole (the \xE9 of line 2), so read as Windows-1252,
    // where the mark is three stray characters before PRF.
    QList<QByteArray> linhas = kBase;
    linhas[0] = "\xEF\xBB\xBF" + linhas[0];
    linhas[1].replace("Nome", "Jos\xE9");
    const QString entrada = dir_.filePath("entrada.prf");
    test::WriteFile(entrada, linhas.join('\n'));
    ConsPre c(nullptr, dir_.filePath("BDTempPrf.fix"));
    c.SetInputFile(entrada);
    QCOMPARE(c.RunCheck(), kConteúdoInválido);
    QCOMPARE(int(c.faults()[0].linha), 1);
    QVERIFY2(QString::fromStdString(c.faults()[0].mensagem).contains("linha 2"), qPrintable(c.report()));
    // Without the mark the same bytes are a valid Windows-1252 file.
    linhas[0] = kBase[0];
    test::WriteFile(entrada, linhas.join('\n'));
    ConsPre d(nullptr, dir_.filePath("BDTempPrf.fix"));
    d.SetInputFile(entrada);
    QCOMPARE(d.RunCheck(), kVerificaçãoAceita);
    auto db = test::OpenExisting(dir_.filePath("BDTempPrf.fix"));
    QCOMPARE(db->scalar("SELECT RazãoSocial FROM tblContribuinte").toString(), QString("José"));
  }
};

QTEST_GUILESS_MAIN(TestCheckerRules)
#include "test_checker_rules.moc"
