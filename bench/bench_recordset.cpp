// Adds 10,000 rows through whole-table recordsets (one recordset per row, as
// the table copies do) into an empty table and into one that already holds
// 1,000,000 rows, and prints the ratio of the two times. Opening a recordset
// over a whole table fetches nothing, so the ratio stays near 1.
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

#include "database/recordset.h"
#include "database/schema.h"

using namespace orlan;

namespace {

constexpr int kRows = 10000;
constexpr int kFill = 1000000;

std::shared_ptr<Database> Make(const QString& path) {
  Status s = schema::CreateCurrentDatabase(path.toStdString(), QStringLiteral("2099"));
  std::shared_ptr<Database> db;
  if (s.ok()) s = Database::Open(path.toStdString(), Database::OpenMode::kExisting, &db);
  if (!s.ok()) {
    std::fprintf(stderr, "%s\n", s.ToString().c_str());
    std::exit(1);
  }
  db->execute("INSERT INTO tblQUR (IE, RegTrib, Ref1) VALUES ('1', '01', '2006-03-20')");
  return db;
}

double AddRows(Database& db) {
  QElapsedTimer t;
  t.start();
  Transaction tx(db);
  for (int i = 0; i < kRows; ++i) {
    Recordset rs = db.openRecordset("tblDetalhesCFOPs");
    rs.addNew();
    rs.setValue("NroQUR", 1);
    rs.setValue("CFOP", QStringLiteral("5102"));
    rs.setValue("ValorContábil", 1000.0 + i);
    rs.setValue("Imposto", 180.0);
    rs.update();
  }
  tx.commit();
  return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  auto empty = Make(dir.filePath("empty.db"));
  auto full = Make(dir.filePath("full.db"));
  full->execute(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
      "INSERT INTO tblDetalhesCFOPs (NroQUR, CFOP, \"ValorContábil\", Imposto) SELECT 1, '5102', i, 18 FROM n",
      {kFill});
  // Warm both files once, then measure each twice and keep the better time.
  AddRows(*empty);
  AddRows(*full);
  const double te = std::min(AddRows(*empty), AddRows(*empty));
  const double tf = std::min(AddRows(*full), AddRows(*full));
  std::printf("rows added per run:           %d\n", kRows);
  std::printf("empty table:                  %.3f s (%.0f rows/s)\n", te, kRows / te);
  std::printf("table of %d rows:        %.3f s (%.0f rows/s)\n", kFill, tf, kRows / tf);
  std::printf("ratio full/empty:             %.2f\n", tf / te);
  return 0;
}
