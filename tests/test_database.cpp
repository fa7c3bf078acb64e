// The database layer on real SQLite files: recordsets, names, values,
// errors, closing and locking.
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "control/database_opener.h"
#include "database/schema.h"
#include "database/sqlite/recordset.h"
#include "support/scripted_dialogs.h"
#include "support/test_support.h"

using namespace orlan;

class TestDatabase : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::shared_ptr<Database> db_;
  int n_ = 0;

  std::int64_t AddHeader(const QString& ie, const QDate& ref1) {
    db_->execute("INSERT INTO tblQUR (IE, RegTrib, Ref1) VALUES (?, '01', ?)", {ie, ref1});
    return db_->scalar("SELECT last_insert_rowid()").toLongLong();
  }

 private slots:
  void init() {
    db_ = test::CreateCurrentDatabase(dir_.filePath(QStringLiteral("atual%1.db").arg(++n_)));
  }

  void cursorOperations() {
    for (int i = 1; i <= 3; ++i) AddHeader(QStringLiteral("IE%1").arg(i), QDate(2006, i, 20));
    Recordset rs = db_->openRecordset("tblQUR", "RegTrib = ?", {QStringLiteral("01")});
    QVERIFY(!rs.eof());
    QCOMPARE(rs.value("IE").toString(), QStringLiteral("IE1"));
    rs.moveNext();
    QCOMPARE(rs.value("IE").toString(), QStringLiteral("IE2"));
    rs.moveNext();
    QCOMPARE(rs.value("IE").toString(), QStringLiteral("IE3"));
    rs.moveNext();
    QVERIFY(rs.eof());
    try {
      rs.value("IE");
      QFAIL("reading past the end must fail");
    } catch (const DbError& e) {
      QCOMPARE(e.number(), int(kErrNoCurrentRecord));
    }
    QVERIFY_THROWS_EXCEPTION(DbError, rs.moveNext());

    Recordset none = db_->openRecordset("tblQUR", "IE = ?", {QStringLiteral("nada")});
    QVERIFY(none.eof());
  }

  void namesIgnoreCaseWithAccents() {
    const auto key = AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));
    db_->execute("INSERT INTO \"tblOcorrências\" (NroQUR, \"CódSubItem\", \"opPróprias\") VALUES (?, ?, 1)",
                 {qlonglong(key), QStringLiteral("002.01")});
    Recordset back = db_->openRecordset("tblOcorrências");
    QCOMPARE(back.value("códsubitem").toString(), QStringLiteral("002.01"));
    QCOMPARE(back.value("opPróprias").toInt(), 1);
    QVERIFY(back.hasField("OpPróprias"));
    try {
      back.value("Inexistente");
      QFAIL("a missing field must fail");
    } catch (const DbError& e) {
      QCOMPARE(e.number(), int(kErrFieldNotFound));
    }
  }

  void valuesPassUnchanged() {
    const QString odd = QStringLiteral("D'Ávila | \"Filhos\" & 100% _x_ ");
    db_->execute("INSERT INTO tblContribuinte (IE, \"RazãoSocial\", CNPJ, Complemento, DataCadastro) VALUES (?, ?, ?, ?, ?)",
                 {QStringLiteral("1'2"), odd, QVariant(), QString(""), QDate(2006, 4, 5)});
    Recordset back = db_->openRecordset("tblContribuinte", "IE = ?", {QStringLiteral("1'2")});
    QVERIFY(!back.eof());
    QCOMPARE(back.value("RazãoSocial").toString(), odd);
    QVERIFY(back.value("CNPJ").isNull());
    QVERIFY(!back.value("Complemento").isNull());
    QCOMPARE(back.value("DataCadastro").typeId(), int(QMetaType::QDate));
    QCOMPARE(back.value("DataCadastro").toDate(), QDate(2006, 4, 5));
    QCOMPARE(db_->scalar("SELECT DataCadastro FROM tblContribuinte").toString(), QStringLiteral("2006-04-05"));

    const auto key = AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));
    db_->execute("UPDATE tblQUR SET \"DataTransmissão\" = ?, \"DataGeraçãoColigida\" = ?, SaldoCredor = ? WHERE NroQUR = ?",
                 {QDateTime(QDate(2006, 4, 10), QTime(14, 3, 0), Qt::UTC), QDate(2006, 4, 11), -1234.5, qlonglong(key)});
    QCOMPARE(db_->scalar("SELECT \"DataTransmissão\" FROM tblQUR").toString(), QStringLiteral("2006-04-10 14:03:00"));
    Recordset h = db_->openRecordset("tblQUR");
    QCOMPARE(h.value("DataTransmissão").toDateTime(), QDateTime(QDate(2006, 4, 10), QTime(14, 3, 0), Qt::UTC));
    // A date-only value in a date-time column comes back as a date, so that a copy writes the same text.
    QCOMPARE(h.value("DataGeraçãoColigida").typeId(), int(QMetaType::QDate));
    QCOMPARE(h.value("SaldoCredor").toDouble(), -1234.5);
  }

  void transactionGuards() {
    {
      Transaction tx(*db_);
      AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));
    }
    QCOMPARE(test::Count(*db_, "tblQUR"), 0);
    const auto before = db_->commitCount();
    {
      Transaction tx(*db_);
      AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));
      AddHeader(QStringLiteral("C"), QDate(2006, 3, 20));
      tx.commit();
    }
    QCOMPARE(db_->commitCount(), before + 1);
    QCOMPARE(db_->scalar("SELECT group_concat(IE, '') FROM tblQUR").toString(), QStringLiteral("AC"));
  }

  void closedHandleFailsCleanly() {
    AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));
    Recordset open_rs = db_->openRecordset("tblQUR");
    QVERIFY(!open_rs.eof());
    db_->close();
    try {
      open_rs.value("IE");
      QFAIL("a recordset of a closed database must fail");
    } catch (const DbError& e) {
      QCOMPARE(e.number(), int(kErrClosed));
    }
    QVERIFY_THROWS_EXCEPTION(DbError, db_->openRecordset("tblQUR"));
    QVERIFY_THROWS_EXCEPTION(DbError, db_->execute("DELETE FROM tblQUR"));
    open_rs.close();
    QVERIFY(QFile::remove(QString::fromStdString(db_->path())));
  }

  void missingTableHasItsNumber() {
    try {
      db_->openRecordset("tblNada");
      QFAIL("a missing table must fail");
    } catch (const DbError& e) {
      QCOMPARE(e.number(), int(kErrTableNotFound));
    }
  }

  void lockedDatabaseFailsAfterTheWait() {
    // Another process takes the write lock and holds it.
    QProcess holder;
    holder.start(QStringLiteral("sqlite3"), {QString::fromStdString(db_->path())});
    QVERIFY(holder.waitForStarted());
    holder.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n");
    QTRY_VERIFY_WITH_TIMEOUT(holder.waitForReadyRead(100) || holder.bytesAvailable() > 0, 5000);
    QElapsedTimer timer;
    timer.start();
    try {
      AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));
      QFAIL("a write under another process's lock must fail");
    } catch (const DbError& e) {
      QCOMPARE(e.number(), int(kErrLocked));
      QVERIFY(QString::fromStdString(e.status().ToString()).contains(QStringLiteral("database is locked")));
    }
    QVERIFY(timer.elapsed() >= 4500);
    holder.write("ROLLBACK;\n.quit\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished());
    AddHeader(QStringLiteral("A"), QDate(2006, 3, 20));  // usable again
  }

  void openerAnswers() {
    ScriptedDialogs dialogs;
    DatabaseOpener opener(&dialogs);
    const QString missing = dir_.filePath(QStringLiteral("nao-existe.db"));
    QVERIFY(!opener.OpenDatabase(missing));
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(!opener.OpenDatabase(QString()));
    const QString text = dir_.filePath(QStringLiteral("texto.db"));
    test::WriteFile(text, QByteArray("isto não é um banco de dados, mas é longo o bastante para ter um cabeçalho"));
    QVERIFY(!opener.OpenDatabase(text));
    QCOMPARE(opener.lastError().number(), int(kErrNotADatabase));
    QCOMPARE(int(dialogs.messages().size()), 3);
    for (const MessageRequest& m : dialogs.messages()) {
      QCOMPARE(m.title, QStringLiteral("Atenção!"));
      QCOMPARE(m.style, 16);
    }
    QVERIFY(dialogs.messages()[0].text.contains(missing));
    QVERIFY(dialogs.messages()[2].text.contains(text));

    const QString path = QString::fromStdString(db_->path());
    auto a = opener.OpenDatabase(path);
    QVERIFY(a);
    QCOMPARE(opener.OpenDatabase(path).get(), a.get());
    QVERIFY(opener.IsDatabaseOpen(path));
    opener.CloseDatabase(path);
    QVERIFY(!opener.IsDatabaseOpen(path));
    QVERIFY_THROWS_EXCEPTION(DbError, a->openRecordset("tblQUR"));
    auto b = opener.OpenDatabase(path);
    QVERIFY(b && b.get() != a.get());
  }

  void newDatabaseTool() {
    const QString path = dir_.filePath(QStringLiteral("novo.db"));
    auto r = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {path, QStringLiteral("--ref-limit"), QStringLiteral("2007")});
    QCOMPARE(r.exit_code, 0);
    auto db = test::OpenExisting(path);
    QCOMPARE(db->scalar("SELECT RefLimite FROM tblPerola").toString(), QStringLiteral("2007"));
    QCOMPARE(QFileInfo(path).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    r = test::Run(test::ProgramPath(QStringLiteral("orlan-newdb")), {path});
    QCOMPARE(r.exit_code, 1);
    QVERIFY(r.err.contains(QStringLiteral("exist")));
    // Any database this system makes is its owner's alone, a restored
    // return's temporary one included, whatever the umask.
    const QString vazio = dir_.filePath(QStringLiteral("vazio.db"));
    std::shared_ptr<Database> novo;
    const mode_t umask_antes = ::umask(022);
    const Status aberto = Database::Open(vazio.toStdString(), Database::OpenMode::kCreate, &novo);
    ::umask(umask_antes);
    QVERIFY(aberto.ok());
    QCOMPARE(QFileInfo(vazio).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
  }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
