#include "database/schema.h"

#include <array>
#include <stdexcept>
#include <vector>

namespace orlan::schema {

namespace {

using T = FieldType;

constexpr FieldDef kContribuinte[] = {
    {"IE", T::kIE, 14, true},           {"RazãoSocial", T::kText, 100, false},
    {"CNPJ", T::kText, 14, false},      {"CNAE", T::kText, 10, false},
    {"Localização", T::kText, 100, false}, {"Número", T::kText, 10, false},
    {"Complemento", T::kText, 60, false}, {"Bairro", T::kText, 60, false},
    {"CEP", T::kText, 8, false},        {"Município", T::kText, 60, false},
    {"UF", T::kText, 2, false},         {"Telefone", T::kText, 20, false},
    {"HomePage", T::kText, 100, false}, {"FAX", T::kText, 20, false},
    {"Contato", T::kText, 60, false},   {"Email", T::kText, 100, false},
    {"DataCadastro", T::kDate, 0, false}, {"Observação", T::kText, 255, false},
};

constexpr FieldDef kQur[] = {
    {"IE", T::kIE, 14, true},
    {"Tipo", T::kText, 2, false},
    {"RegTrib", T::kText, 2, true},
    {"Ref1", T::kMonth, 0, true},
    {"Ref2", T::kMonth, 0, false},
    {"Movimento", T::kBoolean, 0, false},
    {"SaldoCredor", T::kNumber, 0, false},
    {"SaldoCredAntDig", T::kNumber, 0, false},
    {"Transmitida", T::kBoolean, 0, false},
    {"DeduçõesRPA", T::kNumber, 0, false},
    {"IcmsFixPerRES", T::kNumber, 0, false},
    {"OutrasRES", T::kNumber, 0, false},
    {"SaldoCredorST", T::kNumber, 0, false},
    {"SaldoCredAntDigST", T::kNumber, 0, false},
    {"DeduçõesST", T::kNumber, 0, false},
    {"Origem", T::kText, 2, false},
    {"Consistente", T::kBoolean, 0, false},
    {"DataTransmissão", T::kDateTime, 0, false},
    {"DataGeraçãoSubstitutiva", T::kDateTime, 0, false},
    {"OrigemPrefDig", T::kText, 2, false},
    {"DataGeraçãoColigida", T::kDateTime, 0, false, true},
    {"Autenticação", T::kText, 40, false, true},
};

constexpr FieldDef kPagamento[] = {
    {"OpPróprias", T::kBoolean, 0, false},
    {"Data", T::kDate, 0, false},
    {"Valor", T::kNumber, 0, false},
};

constexpr FieldDef kCfop[] = {
    {"CFOP", T::kText, 4, true},           {"ValorContábil", T::kNumber, 0, false},
    {"BaseCálculo", T::kNumber, 0, false}, {"Imposto", T::kNumber, 0, false},
    {"IsentasNãoTrib", T::kNumber, 0, false}, {"Outras", T::kNumber, 0, false},
    {"ImpostoRetidoST", T::kNumber, 0, false}, {"ImpRetSubstitutoST", T::kNumber, 0, false},
    {"ImpRetSubstituido", T::kNumber, 0, false}, {"OutrosImpostos", T::kNumber, 0, false},
};

constexpr FieldDef kInterUf[] = {
    {"CFOP", T::kText, 4, true},             {"UF", T::kText, 2, true},
    {"ValorContábil_1", T::kNumber, 0, false}, {"BaseCálculo_1", T::kNumber, 0, false},
    {"ValorContábil_2", T::kNumber, 0, false}, {"BaseCálculo_2", T::kNumber, 0, false},
    {"Imposto", T::kNumber, 0, false},       {"Outras", T::kNumber, 0, false},
    {"ICMSCobradoST", T::kNumber, 0, false}, {"PetróleoEnergia", T::kNumber, 0, false},
    {"OutrosProdutos", T::kNumber, 0, false},
};

constexpr FieldDef kZfmAlc[] = {
    {"CFOP", T::kText, 4, false},     {"UF", T::kText, 2, false},
    {"NF", T::kText, 10, false},      {"Data", T::kDate, 0, false},
    {"Valor", T::kNumber, 0, false},  {"CNPJDest", T::kText, 14, false},
    {"MunicípioDest", T::kText, 60, false},
};

constexpr FieldDef kOcorrencia[] = {
    {"CódSubItem", T::kText, 10, true}, {"Valor", T::kNumber, 0, false},
    {"FLegal", T::kText, 100, false},   {"Ocorrência", T::kText, 255, false},
    {"opPróprias", T::kBoolean, 0, false},
};

constexpr FieldDef kIeRemetente[] = {
    {"IERemetente", T::kIE, 14, true},
    {"Valor", T::kNumber, 0, false},
};

constexpr FieldDef kIeSubstituido[] = {
    {"IESubstituido", T::kIE, 14, true},
    {"NF", T::kText, 10, false},
    {"Valor", T::kNumber, 0, false},
};

constexpr FieldDef kIeSubstituto[] = {
    {"IESubstituto", T::kIE, 14, true}, {"NF", T::kText, 10, false},
    {"DataInicio", T::kDate, 0, false}, {"DataFim", T::kDate, 0, false},
    {"Valor", T::kNumber, 0, false},
};

constexpr FieldDef kReciboCredito[] = {
    {"CodAutorização", T::kText, 20, true},
    {"Valor", T::kNumber, 0, false},
};

constexpr FieldDef kDipam[] = {
    {"CódDIPAM", T::kText, 4, true},
    {"Município", T::kText, 60, false},
    {"Valor", T::kNumber, 0, false},
};

constexpr FieldDef kRegExportacao[] = {
    {"RE", T::kText, 20, true},
};

constexpr std::array<RecordDef, 13> kRecords = {{
    {"CONTRIBUINTE", "tblContribuinte", Parent::kFile, kContribuinte},
    {"QUR", "tblQUR", Parent::kTaxpayer, kQur},
    {"PAGAMENTO", "tblPagamento", Parent::kReturn, kPagamento},
    {"CFOP", "tblDetalhesCFOPs", Parent::kReturn, kCfop},
    {"INTERUF", "tblDetalhesInterUFs", Parent::kReturn, kInterUf},
    {"ZFMALC", "tblZFM_ALC", Parent::kReturn, kZfmAlc},
    {"OCORRENCIA", "tblOcorrências", Parent::kReturn, kOcorrencia},
    {"IEREMETENTE", "tblIEsRemetente", Parent::kOccurrence, kIeRemetente},
    {"IESUBSTITUIDO", "tblIESubstituido", Parent::kOccurrence, kIeSubstituido},
    {"IESUBSTITUTO", "tblIESubstituto", Parent::kOccurrence, kIeSubstituto},
    {"RECIBOCREDITO", "tblRecibosCredito", Parent::kOccurrence, kReciboCredito},
    {"DIPAM", "tblDIPAM", Parent::kReturn, kDipam},
    {"REGEXPORTACAO", "tblRegistroExportação", Parent::kReturn, kRegExportacao},
}};

// Built from the records, in their order, which is the order an import
// copies them.
template <Parent kParent>
std::vector<TableCopy> CopiesOf(std::string_view link) {
  std::vector<TableCopy> copies;
  for (const RecordDef& r : kRecords) {
    if (r.parent == kParent) copies.push_back(TableCopy{r.table, link, r.fields});
  }
  return copies;
}

const std::vector<TableCopy>& ReturnCopies() {
  static const std::vector<TableCopy> copies = CopiesOf<Parent::kReturn>(kReturnKey);
  return copies;
}

const std::vector<TableCopy>& RegisterCopies() {
  static const std::vector<TableCopy> copies = CopiesOf<Parent::kOccurrence>(kOccurrenceKey);
  return copies;
}

}  // namespace

std::span<const RecordDef> Records() { return kRecords; }

const RecordDef* FindRecord(std::string_view code) {
  for (const RecordDef& r : kRecords) {
    if (r.code == code) return &r;
  }
  return nullptr;
}

const RecordDef* FindTable(std::string_view table) {
  for (const RecordDef& r : kRecords) {
    if (r.table == table) return &r;
  }
  return nullptr;
}

std::span<const TableCopy> ReturnDetailCopies() { return ReturnCopies(); }

std::span<const TableCopy> OccurrenceRegisterCopies() { return RegisterCopies(); }

const TableCopy& CopyOf(std::string_view table) {
  for (const auto* list : {&ReturnCopies(), &RegisterCopies()}) {
    for (const TableCopy& c : *list) {
      if (c.table == table) return c;
    }
  }
  throw std::out_of_range("não é uma tabela de detalhe: " + std::string(table));
}

std::string ArchivedTable(std::string_view table) { return std::string(table) + "_Arquivado"; }

std::vector<std::string_view> KeyColumns(const RecordDef& r) {
  switch (r.parent) {
    case Parent::kFile:
      return {"Id"};
    case Parent::kTaxpayer:
      return {kReturnKey};
    case Parent::kReturn:
      if (r.table == kOccurrenceTable) return {kOccurrenceKey, kReturnKey};
      return {kReturnKey};
    case Parent::kOccurrence:
      return {kOccurrenceKey};
  }
  return {};
}

Status NotCurrentDatabase(const std::string& where, const std::vector<std::string>& missing) {
  std::string names;
  for (const std::string& m : missing) names += (names.empty() ? "" : ", ") + m;
  return Status(kErrNotCurrentDatabase,
                where + " não é um banco de dados atual: faltam as tabelas " + names + "; nada foi mudado.");
}

}  // namespace orlan::schema
