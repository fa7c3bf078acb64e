// bench_checker: the checker on a generated file of about 100 MB, against the
// raw cost of loading the same rows with the sqlite3 shell's ".import --csv"
// (no checking at all), both measured in this run.
//
//   bench_checker [--mb N] [--repeat N] [--dir FOLDER]
//
// Prints the machine's load at the start and at the end, the file's size, the
// checker's time, throughput and peak memory (VmHWM, reset just before each
// check), the import's time and the ratios, of elapsed time and of CPU time.
// Each leg runs --repeat times (default 3), alternating; the best time of
// each is compared. Needs the sqlite3 command-line shell on the PATH.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checker/cons_pre.h"
#include "checker/gerador_prf.h"
#include "database/schema.h"
#include "database/sqlite/database.h"
#include "database/sqlite/sqlite_schema.h"

using namespace orlan;

namespace {

long MemóriaKb(const char* campo) {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& linha : f.readAll().split('\n')) {
    if (linha.startsWith(campo)) return linha.mid(static_cast<int>(std::strlen(campo))).trimmed().split(' ')[0].toLong();
  }
  return -1;
}

// The machine's load as /proc/loadavg gives it: other work on the same cores
// slows both legs, and says how far to trust one run.
QByteArray Carga() {
  QFile f("/proc/loadavg");
  return f.open(QIODevice::ReadOnly) ? f.readLine().trimmed() : QByteArray("unknown");
}

// CPU seconds, user and system, of this process (RUSAGE_SELF) or of the
// children it has waited for (RUSAGE_CHILDREN). Unlike elapsed time, they
// hardly move when other work shares the cores.
double SegundosCpu(int quem) {
  rusage r{};
  ::getrusage(quem, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Makes VmHWM start again from the current resident size.
void ZerarPico() {
  QFile f("/proc/self/clear_refs");
  if (f.open(QIODevice::WriteOnly)) f.write("5");
}

[[noreturn]] void Falhar(const QString& texto) {
  std::fprintf(stderr, "bench_checker: %s\n", qPrintable(texto));
  std::exit(1);
}

class Contador : public OuvinteConsPre {
 public:
  void ConsPre_Progresso() override { ++progressos; }
  void ConsPre_Fechar() override { ++fechar; }
  int progressos = 0;
  int fechar = 0;
};

QByteArray Executar(const QString& programa, const QStringList& args, const QByteArray& entrada = {},
                    const QString& saída = {}) {
  QProcess p;
  if (!saída.isEmpty()) p.setStandardOutputFile(saída);
  p.start(programa, args);
  if (!p.waitForStarted()) Falhar("cannot start " + programa);
  p.write(entrada);
  p.closeWriteChannel();
  p.waitForFinished(-1);
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    Falhar(programa + " failed: " + QString::fromUtf8(p.readAllStandardError()));
  }
  return p.readAllStandardOutput();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  double mb = 100;
  int repetições = 3;
  QString pasta;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--mb") {
      mb = args[i + 1].toDouble();
    } else if (args[i] == "--repeat") {
      repetições = std::max(1, args[i + 1].toInt());
    } else if (args[i] == "--dir") {
      pasta = args[i + 1];
    } else {
      Falhar("unknown option " + args[i]);
    }
  }
  std::printf("load at the start (/proc/loadavg): %s\n", Carga().constData());
  const QString sqlite3 = QStandardPaths::findExecutable("sqlite3");
  if (sqlite3.isEmpty()) Falhar("the sqlite3 shell is not on the PATH");
  QTemporaryDir temporária(pasta.isEmpty() ? QDir::tempPath() + "/bench_checker-XXXXXX" : pasta + "/bench_checker-XXXXXX");
  if (!temporária.isValid()) Falhar("cannot create a temporary folder");
  const QDir dir(temporária.path());

  // About `mb` megabytes: 20 detail rows per return, 120 months per taxpayer.
  prf::OpçõesGerador o;
  o.meses = 120;
  o.linhas = 20;
  o.contribuintes = 3;
  std::int64_t amostra = 0;
  prf::GerarPrf(o, [&](std::string_view s) { amostra += static_cast<std::int64_t>(s.size()); });
  o.contribuintes = std::max(1, static_cast<int>(mb * 1e6 * 3 / static_cast<double>(amostra) + 0.5));
  const QString arquivo = dir.filePath("bench.prf");
  QElapsedTimer relógio;
  relógio.start();
  prf::ResumoGerador resumo;
  const Status gerado = prf::GerarArquivoPrf(arquivo.toStdString(), o, &resumo);
  if (!gerado.ok()) Falhar(QString::fromStdString(gerado.ToString()));
  const double megabytes = static_cast<double>(resumo.bytes) / 1e6;
  std::printf("file: %.1f MB, %lld lines, %lld returns (%d taxpayers x %d months, %d rows each), generated in %.2f s\n",
              megabytes, static_cast<long long>(resumo.linhas), static_cast<long long>(resumo.declarações),
              o.contribuintes, o.meses, o.linhas, relógio.elapsed() / 1000.0);
  {
    // Both legs read from the page cache.
    QFile f(arquivo);
    if (f.open(QIODevice::ReadOnly)) {
      while (!f.read(1 << 20).isEmpty()) {
      }
    }
  }

  const QString alvo = dir.filePath("BDTempPrf.fix");
  const QString importado = dir.filePath("import.sqlite");
  std::vector<QString> csvs;
  QByteArray roteiro =
      "PRAGMA journal_mode = OFF;\nPRAGMA synchronous = OFF;\nPRAGMA locking_mode = EXCLUSIVE;\n"
      "PRAGMA cache_size = -8192;\n";

  std::vector<double> tempos_verificação, tempos_importação, tempos_índices, cpu_verificação, cpu_importação;
  long pico_kb = 0, antes_kb = 0;
  for (int rodada = 0; rodada < repetições; ++rodada) {
    QFile::remove(alvo);
    Contador contador;
    ConsPre c(&contador, alvo);
    c.SetInputFile(arquivo);
    antes_kb = MemóriaKb("VmRSS:");
    ZerarPico();
    double cpu = SegundosCpu(RUSAGE_SELF);
    relógio.restart();
    const std::int16_t r = c.RunCheck();
    tempos_verificação.push_back(relógio.nsecsElapsed() / 1e9);
    cpu_verificação.push_back(SegundosCpu(RUSAGE_SELF) - cpu);
    pico_kb = std::max(pico_kb, MemóriaKb("VmHWM:"));
    if (r != kVerificaçãoAceita) Falhar("the generated file was rejected: " + c.report());
    std::printf("check %d: %.3f s, CPU %.3f s (%d progress events)\n", rodada + 1, tempos_verificação.back(),
                cpu_verificação.back(), contador.progressos);

    if (csvs.empty()) {
      // The same rows, in their stored forms, as one CSV file per table.
      for (const schema::RecordDef& rec : schema::Records()) {
        const QString tabela = QString::fromUtf8(rec.table.data(), static_cast<int>(rec.table.size()));
        const QString csv = dir.filePath(QString("t%1.csv").arg(csvs.size()));
        Executar(sqlite3, {"-csv", alvo, "SELECT * FROM \"" + tabela + "\""}, {}, csv);
        csvs.push_back(csv);
        roteiro += ".import --csv " + csv.toUtf8() + " " + tabela.toUtf8() + "\n";
      }
    }

    QFile::remove(importado);
    {
      std::shared_ptr<Database> db;
      const Status s = Database::Open(importado.toStdString(), Database::OpenMode::kCreate, &db);
      if (!s.ok()) Falhar(QString::fromStdString(s.ToString()));
      schema::CreateTemporaryTables(*db);
    }
    cpu = SegundosCpu(RUSAGE_CHILDREN);
    relógio.restart();
    Executar(sqlite3, {importado}, roteiro);
    tempos_importação.push_back(relógio.nsecsElapsed() / 1e9);
    cpu_importação.push_back(SegundosCpu(RUSAGE_CHILDREN) - cpu);
    {
      std::shared_ptr<Database> db;
      const Status s = Database::Open(importado.toStdString(), Database::OpenMode::kExisting, &db);
      if (!s.ok()) Falhar(QString::fromStdString(s.ToString()));
      relógio.restart();
      schema::CreateTemporaryIndexes(*db);
      tempos_índices.push_back(relógio.nsecsElapsed() / 1e9);
    }
    std::printf("sqlite3 .import --csv %d: %.3f s, CPU %.3f s (indexes afterwards: %.3f s)\n", rodada + 1,
                tempos_importação.back(), cpu_importação.back(), tempos_índices.back());
  }

  const auto melhor = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
  const double verificação = melhor(tempos_verificação);
  const double importação = melhor(tempos_importação);
  const double índices = melhor(tempos_índices);
  std::printf("\nchecker (best of %d): %.3f s, %.1f MB/s\n", repetições, verificação, megabytes / verificação);
  std::printf("checker peak memory: %.1f MB (VmHWM; resident before the check: %.1f MB)\n", pico_kb / 1024.0,
              antes_kb / 1024.0);
  std::printf("sqlite3 .import --csv (best of %d): %.3f s\n", repetições, importação);
  std::printf("ratio checker / import: %.2f\n", verificação / importação);
  std::printf("ratio checker / (import + the same indexes): %.2f\n", verificação / (importação + índices));
  std::printf("ratio of CPU time checker / import (best of %d each): %.3f s / %.3f s = %.2f\n", repetições,
              melhor(cpu_verificação), melhor(cpu_importação), melhor(cpu_verificação) / melhor(cpu_importação));
  std::printf("load at the end (/proc/loadavg): %s\n", Carga().constData());
  return 0;
}
