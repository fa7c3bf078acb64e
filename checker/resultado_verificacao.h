// What a check run of a ".prf" file gave.
#ifndef ORLAN_CHECKER_RESULTADO_VERIFICACAO_H_
#define ORLAN_CHECKER_RESULTADO_VERIFICACAO_H_

#include <cstdint>

// Qt's moc cannot read identifiers with accents and needs none of these.
#ifndef Q_MOC_RUN

namespace orlan {

enum ResultadoVerificação : std::int16_t {
  kVerificaçãoNãoFeita = -1,  // no check has run yet
  kVerificaçãoAceita = 0,     // accepted; the temporary database is written and complete
  kArquivoIlegível = 1,       // missing, unreadable or empty file
  kConteúdoInválido = 2,      // the file breaks the format
  kFalhaAoGravarBanco = 3,    // the temporary database could not be written
};

}  // namespace orlan

#endif  // Q_MOC_RUN

#endif  // ORLAN_CHECKER_RESULTADO_VERIFICACAO_H_
