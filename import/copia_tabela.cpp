#include "import/copia_tabela.h"

#include <limits>
#include <string>

namespace orlan {

namespace {

constexpr Campo C(std::string_view nome) { return Campo{nome, nome}; }

constexpr Campo kPagamento[] = {{"OpPróprias", "opPróprias"}, C("Data"), C("Valor")};

constexpr Campo kDetalhesCFOPs[] = {
    C("CFOP"),           C("ValorContábil"),   C("BaseCálculo"),        C("Imposto"),
    C("IsentasNãoTrib"), C("Outras"),          C("ImpostoRetidoST"),    C("ImpRetSubstitutoST"),
    C("ImpRetSubstituido"), C("OutrosImpostos"),
};

constexpr Campo kDetalhesInterUFs[] = {
    C("CFOP"),    C("UF"),     C("ValorContábil_1"), C("BaseCálculo_1"),   C("ValorContábil_2"),
    C("BaseCálculo_2"), C("Imposto"), C("Outras"), C("ICMSCobradoST"), C("PetróleoEnergia"),
    C("OutrosProdutos"),
};

constexpr Campo kZFM_ALC[] = {C("CFOP"), C("UF"),       C("NF"), C("Data"),
                              C("Valor"), C("CNPJDest"), C("MunicípioDest")};

constexpr Campo kOcorrências[] = {C("CódSubItem"), C("Valor"), C("FLegal"), C("Ocorrência"), C("opPróprias")};

constexpr Campo kDIPAM[] = {C("CódDIPAM"), C("Município"), C("Valor")};

constexpr Campo kRegistroExportação[] = {C("RE")};

constexpr Campo kIEsRemetente[] = {C("IERemetente"), C("Valor")};

constexpr Campo kIESubstituido[] = {C("IESubstituido"), C("NF"), C("Valor")};

constexpr Campo kIESubstituto[] = {C("IESubstituto"), C("NF"), C("DataInicio"), C("DataFim"), C("Valor")};

constexpr Campo kRecibosCredito[] = {C("CodAutorização"), C("Valor")};

}  // namespace

const CópiaTabela kCópiaPagamento{"tblPagamento", "NroQUR", kPagamento};
const CópiaTabela kCópiaDetalhesCFOPs{"tblDetalhesCFOPs", "NroQUR", kDetalhesCFOPs};
const CópiaTabela kCópiaDetalhesInterUFs{"tblDetalhesInterUFs", "NroQUR", kDetalhesInterUFs};
const CópiaTabela kCópiaZFM_ALC{"tblZFM_ALC", "NroQUR", kZFM_ALC};
const CópiaTabela kCópiaOcorrências{"tblOcorrências", "NroQUR", kOcorrências};
const CópiaTabela kCópiaDIPAM{"tblDIPAM", "NroQUR", kDIPAM};
const CópiaTabela kCópiaRegistroExportação{"tblRegistroExportação", "NroQUR", kRegistroExportação};
const CópiaTabela kCópiaIEsRemetente{"tblIEsRemetente", "Código", kIEsRemetente};
const CópiaTabela kCópiaIESubstituido{"tblIESubstituido", "Código", kIESubstituido};
const CópiaTabela kCópiaIESubstituto{"tblIESubstituto", "Código", kIESubstituto};
const CópiaTabela kCópiaRecibosCredito{"tblRecibosCredito", "Código", kRecibosCredito};

Recordset& Destinos::tabela(std::string_view nome) {
  for (auto& [aberta, recordset] : abertos_) {
    if (aberta == nome) return recordset;
  }
  abertos_.emplace_back(nome, atual_.openRecordset(nome));
  return abertos_.back().second;
}

int CopiarTabela(Database& temp, Destinos& destinos, const CópiaTabela& c, std::int32_t chave_origem,
                 std::int32_t chave_nova, const ApósGravar& após_gravar) {
  const std::string filtro = QuoteIdentifier(c.vínculo) + " = ?";
  Recordset origem = temp.openRecordset(c.tabela, filtro, {QVariant(chave_origem)});
  const QVariant nova(chave_nova);
  int linhas = 0;
  while (!origem.eof()) {
    // Reached only with a source row: a return without rows here leaves the
    // target table unopened.
    Recordset& destino = destinos.tabela(c.tabela);
    destino.addNew();
    destino.setValue(c.vínculo, nova);
    for (const Campo& campo : c.campos) destino.setValueFrom(campo.destino, origem, campo.origem);
    destino.update();
    ++linhas;
    if (após_gravar) após_gravar(origem, destino);
    origem.moveNext();
  }
  return linhas;
}

int CopiarRegistro(EstadoImportação& estado, Destinos& destinos, const CópiaTabela& c) {
  return CopiarTabela(*estado.BancoTemp, destinos, c, estado.CódigoOcorrênciaTemp, estado.CódigoOcorrênciaNovo);
}

std::int32_t ChaveInt32(const QVariant& valor, std::string_view qual) {
  bool ok = false;
  const qlonglong n = valor.isValid() ? valor.toLongLong(&ok) : 0;
  if (!ok || n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
    throw DbError(Status(kErrOther, std::string(qual) + " is not a 32-bit whole number: \"" +
                                        valor.toString().toStdString() + "\""));
  }
  return static_cast<std::int32_t>(n);
}

}  // namespace orlan
