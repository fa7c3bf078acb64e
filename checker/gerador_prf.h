// A generator of valid synthetic ".prf" files, for the demo, the tests and
// the benchmarks.
//
// For each taxpayer it writes a CONTRIBUINTE line and then one return (QUR)
// per month, each followed by `linhas` detail lines that cycle over every
// detail and register table (an OCORRENCIA comes before its four registers).
// Optional fields are sometimes left empty (Null); names carry accents,
// apostrophes, quotes, '&', '%' and '_'; every third taxpayer files under
// regime 02 with a second reference. Fields are written from the record
// descriptions of database/schema.h, so the output follows any change there.
//
// The output depends only on the options: the same seed gives the same bytes.
#ifndef ORLAN_CHECKER_GERADOR_PRF_H_
#define ORLAN_CHECKER_GERADOR_PRF_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "database/status.h"

namespace orlan::prf {

struct OpçõesGerador {
  int contribuintes = 3;
  int meses = 3;
  int mês_inicial = 1;  // 1 to 12
  int ano_inicial = 2006;
  int linhas = 20;  // detail lines per return
  std::uint64_t semente = 1;
};

struct ResumoGerador {
  std::int64_t linhas = 0;  // of the file, PRF and FIM included
  std::int64_t bytes = 0;
  std::int64_t declarações = 0;
};

// Checks the options: counts not negative, the start month valid and every
// month of the run within 1900 to 2099. Empty when valid, else why not.
std::string ValidarOpções(const OpçõesGerador& opções);

// Writes the file through `saída`, in pieces of any size. The options must be
// valid (ValidarOpções).
ResumoGerador GerarPrf(const OpçõesGerador& opções, const std::function<void(std::string_view)>& saída);

// Writes the file at `caminho` (replaced when it exists).
Status GerarArquivoPrf(const std::string& caminho, const OpçõesGerador& opções, ResumoGerador* resumo = nullptr);

}  // namespace orlan::prf

#endif  // ORLAN_CHECKER_GERADOR_PRF_H_
