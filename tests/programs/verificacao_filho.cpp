// Child of the hostile-file tests: one check run of a ".prf" file, in a
// process of its own, so that the test can bound its memory and its time.
//
//   verificacao_filho <file> <temporary db>
//
// Prints, one per line: "resultado N" (RunCheck's result), "falhas N" (faults
// listed plus omitted), "listadas N", "primeira <the first fault>" and
// "pico_kb N", the process's peak resident memory in KiB (VmHWM).
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "checker/cons_pre.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: verificacao_filho <file> <temporary db>\n");
    return 2;
  }
  orlan::ConsPre verificador(nullptr, QString::fromLocal8Bit(argv[2]));
  verificador.SetInputFile(QString::fromLocal8Bit(argv[1]));
  const int resultado = verificador.RunCheck();
  // VmHWM is this program's own peak: getrusage's ru_maxrss would count the
  // parent's memory at the fork too.
  long pico_kb = -1;
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray& linha : status.readAll().split('\n')) {
      if (linha.startsWith("VmHWM:")) pico_kb = linha.mid(6).trimmed().split(' ').value(0).toLong();
    }
  }
  const auto& falhas = verificador.faults();
  const QString primeira = falhas.empty()
                               ? QString()
                               : QStringLiteral("%1|%2|%3").arg(falhas[0].linha).arg(QString::fromStdString(falhas[0].campo), QString::fromStdString(falhas[0].mensagem));
  std::printf("resultado %d\nfalhas %lld\nlistadas %zu\nprimeira %s\npico_kb %ld\n", resultado,
              static_cast<long long>(falhas.size()) + verificador.omittedFaults(), falhas.size(),
              primeira.toUtf8().constData(), pico_kb);
  return 0;
}
