// Exit statuses shared by orlan, orlan-import, orlan-newdb and orlan-prf-gen,
// so that a script reads every program's result the same way.
#ifndef ORLAN_APPS_SAIDA_H_
#define ORLAN_APPS_SAIDA_H_

namespace orlan::cli {

enum Saída : int {
  kSaídaConcluída = 0,     // the work reached its normal end
  kSaídaInterrompida = 1,  // the run ended early (Cancel), or an existing file was kept
  kSaídaArquivo = 2,       // the file does not exist or was rejected
  kSaídaNadaListado = 3,   // nothing was listed, or nothing selected
  kSaídaErro = 4,          // an error ended the run (a refused taxpayer, unwritable output included)
  kSaídaUso = 64,          // bad usage
  // A signal ended the run, as Cancel would: 128 + the signal's number.
  kSaídaSIGHUP = 129,
  kSaídaSIGINT = 130,
  kSaídaSIGTERM = 143,
};

}  // namespace orlan::cli

#endif  // ORLAN_APPS_SAIDA_H_
