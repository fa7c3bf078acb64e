#include "import/copia_tabela.h"

#include <sqlite3.h>

#include <limits>

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

// The schema name of the attached temporary database. Ours alone: a host
// never attaches anything under it.
const QString kAnexo = QStringLiteral("orlan_prf");
constexpr std::string_view kAnexoSql = "orlan_prf";

// The file attached as kAnexo, or Null.
QVariant ArquivoAnexado(Database& db) {
  return db.scalar("SELECT file FROM pragma_database_list WHERE name = ?", {kAnexo});
}

// The exact name of `campo` among `colunas`, matched without regard to
// letter case as the host's engine does.
const std::string& NomeReal(const std::vector<ColumnInfo>& colunas, std::string_view campo, std::string_view tabela,
                            const char* banco) {
  for (const ColumnInfo& c : colunas) {
    if (c.name == campo) return c.name;
  }
  const QString dobrado = QString::fromUtf8(campo.data(), static_cast<int>(campo.size())).toCaseFolded();
  for (const ColumnInfo& c : colunas) {
    if (c.folded == dobrado) return c.name;
  }
  throw DbError(Status(kErrFieldNotFound, "field " + std::string(campo) + " not found in " + std::string(tabela) +
                                              " of the " + banco + " database"));
}

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

BancoAnexado::BancoAnexado(Database& atual, Database& temp, Uso uso) : atual_(atual), temp_(temp) {
  const QString arquivo = QString::fromUtf8(sqlite3_db_filename(temp.handle(), "main"));
  const QVariant anexado = ArquivoAnexado(atual);
  if (anexado.isValid()) {
    // The run under way attached it, and detaches it when it ends.
    if (uso == Uso::kAproveitar && anexado.toString() == arquivo) return;
    atual.execute("DETACH DATABASE orlan_prf");
  }
  atual.execute("ATTACH DATABASE ? AS orlan_prf", {arquivo});
  anexou_ = true;
}

BancoAnexado::~BancoAnexado() {
  if (anexou_ && atual_.isOpen()) sqlite3_exec(atual_.handle(), "DETACH DATABASE orlan_prf", nullptr, nullptr, nullptr);
}

void BancoAnexado::exigirTabela(std::string_view tabela) {
  for (const std::string& vista : tabelas_vistas_) {
    if (vista == tabela) return;
  }
  if (!atual_.hasTable(tabela)) {
    throw DbError(Status(kErrTableNotFound, "table " + std::string(tabela) + " not found in the current database"));
  }
  tabelas_vistas_.emplace_back(tabela);
}

Recordset BancoAnexado::abrirAtual(std::string_view tabela, std::string_view onde, Params parâmetros) {
  exigirTabela(tabela);
  return atual_.openRecordset(tabela, onde, std::move(parâmetros));
}

TransaçãoAtual::TransaçãoAtual(Database& atual) : atual_(atual) {
  atual_.execute("BEGIN DEFERRED");
  ativa_ = true;
  // Takes the write lock of the current database now, waiting for other
  // writers as BEGIN IMMEDIATE would, without touching any row.
  atual_.execute("DELETE FROM main.tblQUR WHERE 0");
}

TransaçãoAtual::~TransaçãoAtual() {
  if (ativa_ && atual_.isOpen()) sqlite3_exec(atual_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TransaçãoAtual::commit() {
  atual_.execute("COMMIT");
  ativa_ = false;
}

const Copiador::Textos& Copiador::textos(const CópiaTabela& c) {
  auto pronto = textos_.find(c.tabela);
  if (pronto != textos_.end()) return pronto->second;
  const std::vector<ColumnInfo>& origem = bancos_.temp().tableColumns(c.tabela);
  bancos_.exigirTabela(c.tabela);
  const std::vector<ColumnInfo>& destino = bancos_.atual().tableColumns(c.tabela);
  std::string nomes = QuoteIdentifier(NomeReal(destino, c.vínculo, c.tabela, "current"));
  std::string valores = "?";
  for (const Campo& campo : c.campos) {
    nomes += ", " + QuoteIdentifier(NomeReal(destino, campo.destino, c.tabela, "current"));
    valores += ", " + QuoteIdentifier(NomeReal(origem, campo.origem, c.tabela, "temporary"));
  }
  const std::string tabela = QuoteIdentifier(c.tabela);
  const std::string fonte = std::string(kAnexoSql) + "." + tabela;
  const std::string vínculo = QuoteIdentifier(NomeReal(origem, c.vínculo, c.tabela, "temporary"));
  const std::string inserir = "INSERT INTO main." + tabela + " (" + nomes + ") SELECT " + valores + " FROM " + fonte;
  Textos t;
  // In the file's order, which the index on the link field gives as it is.
  t.todas = inserir + " WHERE " + vínculo + " = ? ORDER BY _rowid_";
  // The registers of every occurrence noted for the document.
  std::string valores_x = "m.novo";
  for (const Campo& campo : c.campos) valores_x += ", x." + QuoteIdentifier(NomeReal(origem, campo.origem, c.tabela, "temporary"));
  // CROSS JOIN keeps the few noted occurrences as the outer loop, in the
  // order they were stored; each one's rows follow through the file's index
  // on Código: no sort is needed.
  t.pelo_mapa = "INSERT INTO main." + tabela + " (" + nomes + ") SELECT " + valores_x +
                " FROM temp.orlan_ocorrencias m CROSS JOIN " + fonte + " x ON x." + vínculo + " = m.velho";
  return textos_.emplace(c.tabela, std::move(t)).first->second;
}

const Copiador::Textos* Copiador::textosSeNecessários(const CópiaTabela& c,
                                                      const std::function<std::string()>& existe,
                                                      const Params& parâmetros) {
  try {
    return &textos(c);
  } catch (const DbError& erro) {
    if (erro.number() != kErrTableNotFound && erro.number() != kErrFieldNotFound) throw;
    // A return without rows in the table never needs it.
    if (bancos_.atual().scalar("SELECT EXISTS (" + existe() + ")", parâmetros).toInt() == 0) return nullptr;
    throw;
  }
}

int Copiador::copiar(const CópiaTabela& c, std::int32_t chave_origem, std::int32_t chave_nova) {
  const QVariant origem_v(chave_origem);
  const Textos* t = textosSeNecessários(
      c,
      [&c] {
        return "SELECT 1 FROM " + std::string(kAnexoSql) + "." + QuoteIdentifier(c.tabela) + " WHERE " +
               QuoteIdentifier(c.vínculo) + " = ?";
      },
      {origem_v});
  return t == nullptr ? 0 : bancos_.atual().execute(t->todas, {QVariant(chave_nova), origem_v});
}

void Copiador::prepararOcorrências() {
  bancos_.atual().execute("CREATE TEMP TABLE IF NOT EXISTS orlan_ocorrencias (novo INTEGER PRIMARY KEY, velho INTEGER NOT NULL)");
}

void Copiador::limparOcorrências() { bancos_.atual().execute("DELETE FROM temp.orlan_ocorrencias"); }

Copiador::Anotação Copiador::anotarOcorrências(const CópiaTabela& c, std::string_view chave,
                                              std::int32_t chave_origem, std::int32_t chave_nova) {
  bancos_.exigirTabela(c.tabela);
  Database& atual = bancos_.atual();
  const std::string tabela = QuoteIdentifier(c.tabela);
  const std::string código = QuoteIdentifier(chave);
  const std::string vínculo = QuoteIdentifier(c.vínculo);
  // The database numbers rows in the order they are added, so the n-th key
  // read back under the new key is the copy of the file's n-th row.
  Recordset novos = atual.openQuery("SELECT " + código + " FROM main." + tabela + " WHERE " + vínculo + " = ? ORDER BY " + código,
                                    {QVariant(chave_nova)});
  Recordset velhos = atual.openQuery("SELECT " + código + " FROM " + std::string(kAnexoSql) + "." + tabela + " WHERE " +
                                         vínculo + " = ? ORDER BY _rowid_",
                                     {QVariant(chave_origem)});
  Anotação a;
  for (; !novos.eof() && !velhos.eof(); novos.moveNext(), velhos.moveNext()) {
    a.último_novo = novos.value(chave);
    a.último_velho = velhos.value(chave);
    atual.execute("INSERT INTO temp.orlan_ocorrencias (novo, velho) VALUES (?, ?)", {a.último_novo, a.último_velho});
    ++a.linhas;
  }
  return a;
}

void Copiador::descartarOcorrências() { bancos_.atual().execute("DROP TABLE IF EXISTS temp.orlan_ocorrencias"); }

int Copiador::copiarRegistros(const CópiaTabela& c) {
  const Textos* t = textosSeNecessários(
      c,
      [&c] {
        return "SELECT 1 FROM temp.orlan_ocorrencias m CROSS JOIN " + std::string(kAnexoSql) + "." +
               QuoteIdentifier(c.tabela) + " x ON x." + QuoteIdentifier(c.vínculo) + " = m.velho";
      },
      {});
  return t == nullptr ? 0 : bancos_.atual().execute(t->pelo_mapa);
}

QVariant Copiador::valorGravado(std::string_view tabela, std::string_view campo, std::int64_t gravada) {
  bancos_.exigirTabela(tabela);
  const std::string sql = "SELECT " + QuoteIdentifier(campo) + " FROM main." + QuoteIdentifier(tabela) + " WHERE _rowid_ = ?";
  return bancos_.atual().scalar(sql, {QVariant(static_cast<qlonglong>(gravada))});
}

int CopiarRegistro(EstadoImportação& estado, Copiador& copiador, const CópiaTabela& c) {
  return copiador.copiar(c, estado.CódigoOcorrênciaTemp, estado.CódigoOcorrênciaNovo);
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
