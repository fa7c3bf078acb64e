#include "database/pg/pg_banco_atual.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

#include "database/historico.h"
#include "database/identificador.h"
#include "database/pg/pg_endereco.h"
#include "database/pg/pg_schema.h"

namespace orlan {

namespace {

// The lock wait is the connection's own (five seconds).
constexpr const char* kIniciar = "BEGIN ISOLATION LEVEL READ COMMITTED";

constexpr const char* kPasso = "orlan_passo";

std::string Str(std::string_view s) { return std::string(s); }
std::string Str(const QString& s) { return s.toStdString(); }

std::string Q(std::string_view nome) { return QuoteIdentifier(nome); }

// The month's key of a document lock: yyyymm. The taxpayer's own lock uses 0.
int ChaveMês(const QDate& ref1) { return ref1.year() * 100 + ref1.month(); }

// The rows of a register of the temporary database, led by their
// occurrence's Código: each led instead by that occurrence's value in
// `chave_de` (its new Código, or its position in a batch).
std::vector<std::vector<QVariant>> LinhasDeRegistro(std::vector<BancoTemporário::Linha> linhas,
                                                    const std::map<std::int32_t, qlonglong>& chave_de) {
  for (BancoTemporário::Linha& linha : linhas) {
    linha.front() = QVariant(chave_de.at(static_cast<std::int32_t>(linha.front().toLongLong())));
  }
  return linhas;
}

std::vector<std::string_view> NomesDe(std::span<const schema::FieldDef> campos) {
  std::vector<std::string_view> nomes;
  for (const schema::FieldDef& f : campos) nomes.push_back(f.name);
  return nomes;
}

// An array literal of `valores` for a "$n::type[]" parameter; an invalid
// QVariant is a Null element.
QString ArrayTexto(const std::vector<QVariant>& valores) {
  QByteArray s("{");
  for (size_t i = 0; i < valores.size(); ++i) {
    if (i > 0) s += ',';
    const std::optional<QByteArray> texto = PgTexto(valores[i]);
    if (!texto) {
      s += "NULL";
      continue;
    }
    s += '"';
    for (const char c : *texto) {
      if (c == '"' || c == '\\') s += '\\';
      s += c;
    }
    s += '"';
  }
  s += '}';
  return QString::fromUtf8(s);
}

// The first of the stored `itens` whose header the temporary database
// lacks.
std::int64_t PrimeiroAusente(BancoTemporário& temp, std::span<const SessãoCópia::ItemLote> itens) {
  for (const SessãoCópia::ItemLote& it : itens) {
    if (it.armazenar && !temp.temDocumento(it.doc.nroQURTemp)) {
      return it.doc.nroQURTemp;
    }
  }
  return 0;
}

bool TemTabela(PgConexão& conexão, std::string_view tabela) {
  return conexão
      .executar("SELECT to_regclass($1::text) IS NOT NULL", {QString::fromStdString(Q(tabela))},
                "procurar a tabela " + Str(tabela))
      .valor(0, 0)
      .toBool();
}

class PgBancoAtual : public BancoAtual {
 public:
  PgBancoAtual(QString uri, std::shared_ptr<PgConexão> conexão)
      : uri_(std::move(uri)), conexão_(std::move(conexão)) {}

  QString nome() const override { return PgNomeSemSenha(uri_); }
  bool aberto() const override { return conexão_->aberta(); }
  void fechar() override { conexão_->fechar(); }

  std::optional<QVariant> refLimite() override {
    const PgResultado r = conexão_->executar("SELECT \"RefLimite\" FROM \"tblPerola\" LIMIT 1", {},
                                             "ler o limite de referência");
    if (r.linhas() == 0) return std::nullopt;
    return r.valor(0, 0);
  }

  std::unique_ptr<SessãoCópia> abrirSessão(std::shared_ptr<Database> temp) override {
    if (!conexão_->aberta()) {
      throw DbError(kErrClosed, "O banco de dados atual " + Str(nome()) + " foi fechado.");
    }
    return std::make_unique<PgSessãoCópia>(conexão_, std::move(temp));
  }

  bool temHistórico() override { return TemTabela(*conexão_, kTabelaHistórico); }

  std::vector<LinhaHistórico> histórico(int execuções) override {
    if (!temHistórico()) return {};
    const PgResultado r = conexão_->executar(
        "SELECT EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass($1::text) AND attname = 'Login' "
        "AND NOT attisdropped), to_regclass($2::text) IS NOT NULL",
        {QString::fromStdString(Q(kTabelaHistórico)), QString::fromStdString(Q(schema::kArchiveTable))},
        "ler a forma do histórico de importações");
    const FormaHistórico forma{r.valor(0, 0).toBool(), r.valor(0, 1).toBool()};
    const PgResultado linhas = conexão_->executar(
        ConsultaHistórico("to_char(h.\"Momento\" AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')", "$1", forma),
        {QVariant(execuções)}, "ler o histórico de importações");
    std::vector<LinhaHistórico> lidas;
    for (int i = 0; i < linhas.linhas(); ++i) {
      lidas.push_back(LinhaDoHistórico([&](int c) { return linhas.valor(i, c); }));
    }
    return lidas;
  }

  bool temArquivo() override { return TemTabela(*conexão_, schema::kArchiveTable); }

  void extrairArquivado(std::int64_t arquivamento, const std::string& caminho_temp) override;

  int podarArquivo(const QDate& dia) override {
    if (!temArquivo()) return 0;
    // One statement: the archive rows and, with them, their copies' rows.
    std::string sql = "WITH a AS (DELETE FROM " + Q(schema::kArchiveTable) +
                      " WHERE \"Momento\" < ($1::date)::timestamp AT TIME ZONE 'UTC' RETURNING \"Código\")";
    int parte = 0;
    for (const schema::RecordDef& r : schema::Records()) {
      sql += ", p" + std::to_string(++parte) + " AS (DELETE FROM " + Q(schema::ArchivedTable(r.table)) + " WHERE " +
             Q(schema::kArchiveLink) + " IN (SELECT \"Código\" FROM a))";
    }
    return static_cast<int>(conexão_->executar(sql + " SELECT count(*) FROM a", {QVariant(dia)}, "remover declarações arquivadas")
                                .valor(0, 0)
                                .toLongLong());
  }

  ContagemBanco contagem() const override {
    return ContagemBanco{conexão_->comandos(), conexão_->idasEVoltas(), conexão_->commits()};
  }

 private:
  // One statement, so that it is whole without a transaction of its own.
  void gravarRefLimite(const QString& ano) override {
    conexão_->executar("WITH alterada AS (UPDATE \"tblPerola\" SET \"RefLimite\" = $1 RETURNING 1) "
                       "INSERT INTO \"tblPerola\" (\"RefLimite\") SELECT $1 WHERE NOT EXISTS (SELECT 1 FROM alterada)",
                       {ano}, "gravar o limite de referência");
  }

  QString uri_;
  std::shared_ptr<PgConexão> conexão_;
};

void PgBancoAtual::extrairArquivado(std::int64_t arquivamento, const std::string& caminho_temp) {
  const QVariant id(static_cast<qlonglong>(arquivamento));
  if (!temArquivo() || conexão_
                           ->executar("SELECT 1 FROM " + Q(schema::kArchiveTable) + " WHERE \"Código\" = $1", {id},
                                      "procurar a declaração arquivada")
                           .linhas() == 0) {
    throw ArquivamentoInexistente(arquivamento);
  }
  BancoTemporário temp = BancoTemporário::ParaGravar(caminho_temp);
  for (const schema::RecordDef& r : schema::Records()) {
    const std::string cópia = schema::ArchivedTable(r.table);
    const PgResultado tem = conexão_->executar(
        "SELECT attname FROM pg_attribute WHERE attrelid = to_regclass($1::text) AND attnum > 0 AND NOT attisdropped",
        {QString::fromStdString(Q(cópia))}, "ler as colunas de " + cópia);
    std::vector<std::string> arquivadas;
    for (int i = 0; i < tem.linhas(); ++i) arquivadas.push_back(tem.valor(i, 0).toString().toStdString());
    std::vector<std::string_view> colunas = schema::KeyColumns(r);
    for (const schema::FieldDef& f : r.fields) colunas.push_back(f.name);
    std::vector<std::string_view> copiadas;
    std::string nomes;
    for (std::string_view c : colunas) {
      if (std::find(arquivadas.begin(), arquivadas.end(), c) == arquivadas.end()) continue;
      copiadas.push_back(c);
      nomes += (nomes.empty() ? "" : ", ") + Q(c);
    }
    if (nomes.empty()) continue;
    const PgResultado linhas = conexão_->executar("SELECT " + nomes + " FROM " + Q(cópia) + " WHERE " +
                                                      Q(schema::kArchiveLink) + " = $1 ORDER BY " + Q(schema::kArchiveOrder),
                                                  {id}, "ler a declaração arquivada");
    std::vector<BancoTemporário::Linha> valores(static_cast<size_t>(linhas.linhas()));
    for (int i = 0; i < linhas.linhas(); ++i) {
      for (int c = 0; c < linhas.colunas(); ++c) valores[i].push_back(linhas.valor(i, c));
    }
    temp.acrescentar(r.table, copiadas, valores);
  }
  temp.confirmar();
}

}  // namespace

Status AbrirBancoAtualPostgres(const QString& uri, std::shared_ptr<BancoAtual>* out) {
  std::unique_ptr<PgConexão> conexão;
  Status s = PgConexão::Abrir(uri, &conexão);
  if (!s.ok()) return s;
  try {
    constexpr std::string_view kTabelas[] = {schema::kReturnTable, schema::kTaxpayerTable, schema::kLimitTable};
    std::vector<QVariant> nomes;
    for (std::string_view tabela : kTabelas) nomes.push_back(QString::fromStdString(Q(tabela)));
    const PgResultado r = conexão->executar(
        "SELECT to_regclass($1::text) IS NOT NULL, to_regclass($2::text) IS NOT NULL, to_regclass($3::text) IS NOT NULL",
        nomes, "procurar as tabelas do banco de dados atual");
    QStringList faltam;
    for (int i = 0; i < 3; ++i) {
      if (!r.valor(0, i).toBool()) faltam << QString::fromUtf8(kTabelas[i].data(), static_cast<int>(kTabelas[i].size()));
    }
    if (!faltam.isEmpty()) {
      return Status(kErrNotCurrentDatabase,
                    "No servidor PostgreSQL " + Str(conexão->servidor()) + ", o banco não é um banco de dados atual: "
                    "faltam as tabelas " + Str(faltam.join(QStringLiteral(", "))) + ".");
    }
  } catch (const DbError& e) {
    return e.status();
  }
  *out = std::make_shared<PgBancoAtual>(uri, std::shared_ptr<PgConexão>(std::move(conexão)));
  return Status::OK();
}

PgSessãoCópia::PgSessãoCópia(std::shared_ptr<PgConexão> conexão, std::shared_ptr<Database> temp)
    : conexão_(std::move(conexão)), temp_(std::move(temp)) {}

PgSessãoCópia::~PgSessãoCópia() { desfazer(); }

void PgSessãoCópia::iniciar() {
  if (conexão_->emTransação()) {
    throw DbError(kErrInvalidOperation, "Já há uma transação aberta no banco de dados atual.");
  }
  conexão_->executarScript(kIniciar, "iniciar uma transação");
  pontos_.clear();
}

void PgSessãoCópia::confirmar() {
  exigirTransação("confirmar a transação");
  if (conexão_->transaçãoFalhou()) {
    desfazer();
    throw DbError(kErrInvalidOperation, "A transação no servidor PostgreSQL " + Str(conexão_->servidor()) +
                                            " falhou antes de ser confirmada e foi desfeita.");
  }
  pontos_.clear();
  conexão_->executarScript("COMMIT", "confirmar a transação");
  conexão_->commitFeito();
  ++commits_;
}

void PgSessãoCópia::desfazer() noexcept {
  pontos_.clear();
  try {
    if (conexão_->aberta() && conexão_->emTransação()) conexão_->executarScript("ROLLBACK", "desfazer a transação");
  } catch (...) {
    // What is left undone the server rolls back when the connection ends.
  }
}

bool PgSessãoCópia::emTransação() { return conexão_->aberta() && conexão_->emTransação(); }

void PgSessãoCópia::pontoSalvamento(std::string_view nome) {
  exigirTransação("criar um ponto de salvamento");
  conexão_->executarScript("SAVEPOINT " + Q(nome), "criar um ponto de salvamento");
  pontos_.emplace_back(nome);
}

void PgSessãoCópia::liberarPonto(std::string_view nome) {
  exigirTransação("liberar um ponto de salvamento");
  conexão_->executarScript("RELEASE SAVEPOINT " + Q(nome), "liberar um ponto de salvamento");
  // Releasing a savepoint releases the ones made after it too.
  const auto ponto = std::find(pontos_.rbegin(), pontos_.rend(), nome);
  if (ponto != pontos_.rend()) pontos_.erase(std::prev(ponto.base()), pontos_.end());
}

void PgSessãoCópia::voltarAoPonto(std::string_view nome) noexcept {
  try {
    if (conexão_->aberta() && conexão_->emTransação()) {
      conexão_->executarScript("ROLLBACK TO SAVEPOINT " + Q(nome) + "; RELEASE SAVEPOINT " + Q(nome),
                               "voltar a um ponto de salvamento");
      // Gone with those made after it.
      const auto ponto = std::find(pontos_.rbegin(), pontos_.rend(), nome);
      if (ponto != pontos_.rend()) pontos_.erase(std::prev(ponto.base()), pontos_.end());
    }
  } catch (...) {
    // The caller is already unwinding a failure; the transaction ends with it.
  }
}

void PgSessãoCópia::exigirTransação(const char* fazendo) const {
  conexão_->exigirAberta();
  if (!conexão_->emTransação()) {
    throw DbError(kErrInvalidOperation,
                  std::string("Não há transação aberta no banco de dados atual para ") + fazendo + ".");
  }
}

std::vector<PgResultado> PgSessãoCópia::protegido(std::vector<PgComando> comandos, const std::string& fazendo) {
  // Inside the caller's own savepoint, the caller rolls back to it on any
  // failure: a savepoint per statement would only add subtransactions, which
  // the server tracks cheaply only while a transaction has few of them.
  const bool em_transação = conexão_->aberta() && conexão_->emTransação();
  if (!em_transação || !pontos_.empty()) return conexão_->emSequência(comandos, fazendo);
  comandos.insert(comandos.begin(), PgComando{"SAVEPOINT " + Q(kPasso), {}});
  comandos.push_back(PgComando{"RELEASE SAVEPOINT " + Q(kPasso), {}});
  try {
    std::vector<PgResultado> r = conexão_->emSequência(comandos, fazendo);
    r.pop_back();
    r.erase(r.begin());
    return r;
  } catch (const DbError&) {
    if (conexão_->aberta() && conexão_->transaçãoFalhou()) {
      try {
        conexão_->executarScript("ROLLBACK TO SAVEPOINT " + Q(kPasso) + "; RELEASE SAVEPOINT " + Q(kPasso), fazendo);
      } catch (const DbError&) {
        // The first failure is the one to tell; the transaction stays failed
        // and confirmar() will say so.
      }
    }
    throw;
  }
}

const std::vector<std::string>& PgSessãoCópia::colunas(std::string_view tabela) {
  auto pronto = colunas_.find(tabela);
  if (pronto != colunas_.end()) return pronto->second;
  // Every table a copy may touch is read in the first look, in one round
  // trip; a table missing from the database gets no columns.
  std::vector<std::string> nomes{std::string(tabela)};
  if (colunas_.empty()) {
    for (const schema::RecordDef& r : schema::Records()) {
      nomes.emplace_back(r.table);
      nomes.push_back(schema::ArchivedTable(r.table));
    }
    nomes.emplace_back(kTabelaHistórico);
    nomes.emplace_back(schema::kArchiveTable);
  }
  std::vector<QVariant> citados;
  for (const std::string& nome : nomes) citados.push_back(QString::fromStdString(Q(nome)));
  const std::vector<PgResultado> r = protegido(
      {PgComando{"SELECT t.n, a.attname, format_type(a.atttypid, a.atttypmod) FROM unnest($1::text[]) WITH ORDINALITY "
                 "t(nome, n) JOIN pg_attribute a ON a.attrelid = to_regclass(t.nome) WHERE a.attnum > 0 AND NOT "
                 "a.attisdropped ORDER BY t.n, a.attnum",
                 {ArrayTexto(citados)}}},
      "ler as colunas de " + Str(tabela));
  for (const std::string& nome : nomes) colunas_.try_emplace(nome);
  for (int i = 0; i < r[0].linhas(); ++i) {
    const std::string& nome = nomes[static_cast<size_t>(r[0].valor(i, 0).toLongLong() - 1)];
    const std::string coluna = r[0].valor(i, 1).toString().toStdString();
    std::vector<std::string>& lista = colunas_[nome];
    if (std::find(lista.begin(), lista.end(), coluna) == lista.end()) lista.push_back(coluna);
    tipos_[nome][coluna] = r[0].valor(i, 2).toString().toStdString();
  }
  return colunas_.find(tabela)->second;
}

std::string PgSessãoCópia::coluna(std::string_view tabela, std::string_view campo) {
  const std::vector<std::string>& todas = colunas(tabela);
  for (const std::string& c : todas) {
    if (c == campo) return c;
  }
  const QString dobrado = QString::fromUtf8(campo.data(), static_cast<int>(campo.size())).toCaseFolded();
  for (const std::string& c : todas) {
    if (QString::fromStdString(c).toCaseFolded() == dobrado) return c;
  }
  return {};
}

void PgSessãoCópia::exigirColunas(std::string_view tabela, const std::vector<std::string_view>& campos) {
  if (colunas(tabela).empty()) throw TabelaFaltaNoAtual(tabela);
  for (std::string_view campo : campos) {
    if (coluna(tabela, campo).empty()) throw CampoFaltaNoAtual(campo, tabela);
  }
}

PgComando PgSessãoCópia::inserção(std::string_view tabela, const std::vector<std::string_view>& campos,
                                  const std::vector<std::vector<QVariant>>& linhas, const std::optional<Mapa>& mapa,
                                  const std::string& sufixo, size_t antes) {
  std::string nomes;
  std::string valores;
  std::string arrays;
  std::string apelidos;
  PgComando cmd;
  for (size_t c = 0; c < campos.size(); ++c) {
    const std::string nome = coluna(tabela, campos[c]);
    const bool mapeada = mapa && mapa->coluna == c;
    const std::string u = "u.c" + std::to_string(c);
    nomes += (c == 0 ? "" : ", ") + Q(nome);
    // The map is one array, read once for the statement: a row's position
    // indexes it.
    valores += (c == 0 ? "" : ", ") + (mapeada ? "(SELECT novos FROM " + mapa->tabela + ")[" + u + "]" : u);
    arrays += (c == 0 ? "$" : ", $") + std::to_string(antes + c + 1) + "::" +
              (mapeada ? std::string("integer") : tipos_[Str(tabela)][nome]) + "[]";
    apelidos += "c" + std::to_string(c) + ", ";
    std::vector<QVariant> coluna_valores;
    coluna_valores.reserve(linhas.size());
    for (const std::vector<QVariant>& linha : linhas) coluna_valores.push_back(linha[c]);
    cmd.parâmetros.push_back(ArrayTexto(coluna_valores));
  }
  cmd.sql = "INSERT INTO " + Q(tabela) + " (" + nomes + ") SELECT " + valores + " FROM unnest(" + arrays +
            ") WITH ORDINALITY u(" + apelidos + "n)";
  cmd.sql += " ORDER BY u.n" + sufixo;
  return cmd;
}

int PgSessãoCópia::inserir(std::string_view tabela, const std::vector<std::string_view>& campos,
                           const std::vector<std::vector<QVariant>>& linhas, const std::string& fazendo) {
  if (linhas.empty()) return 0;
  int total = 0;
  for (const PgResultado& r : protegido({inserção(tabela, campos, linhas)}, fazendo)) total += r.alteradas();
  return total;
}

bool PgSessãoCópia::bloquear(const QString& ie, int mês, bool esperar, const std::string& fazendo) {
  exigirTransação(fazendo.c_str());
  const std::string função = esperar ? "pg_advisory_xact_lock" : "pg_try_advisory_xact_lock";
  const std::vector<PgResultado> r =
      protegido({PgComando{"SELECT " + função + "(hashtext(lower($1::text)), $2::integer)", {ie, mês}}}, fazendo);
  return !esperar ? r[0].valor(0, 0).toBool() : true;
}

void PgSessãoCópia::bloquearDocumento(const QString& ie, const QDate& ref1) {
  bloquear(ie, ChaveMês(ref1), true, "bloquear a declaração de " + Str(ie));
}

bool PgSessãoCópia::tentarBloquearDocumento(const QString& ie, const QDate& ref1) {
  return bloquear(ie, ChaveMês(ref1), false, "bloquear a declaração de " + Str(ie));
}

void PgSessãoCópia::bloquearContribuinte(const QString& ie) {
  bloquear(ie, 0, true, "bloquear o contribuinte " + Str(ie));
}

bool PgSessãoCópia::tentarBloquearContribuinte(const QString& ie) {
  return bloquear(ie, 0, false, "bloquear o contribuinte " + Str(ie));
}

bool PgSessãoCópia::temContribuinte(const QString& ie) {
  const std::vector<PgResultado> r = protegido(
      {PgComando{"SELECT EXISTS (SELECT 1 FROM \"tblContribuinte\" WHERE lower(\"IE\") = lower($1::text))", {ie}}},
      "procurar o contribuinte " + Str(ie));
  return r[0].valor(0, 0).toBool();
}

// --- copies: one document is a batch of one ---------------------------------

void PgSessãoCópia::copiarContribuinte(const QString& ie, const QDate& cadastro) {
  ItemLote item;
  item.doc.ie = ie;
  item.copiarContribuinte = true;
  item.armazenar = false;
  Montagem m = montar({&item, 1});
  parteContribuintes(m, cadastro);
  // Another clerk may store the same taxpayer between the look and the
  // write: the unique key on lower(IE) then skips the row.
  if (executar(m, "copiar o contribuinte " + Str(ie)).linhas.count(Str(schema::kTaxpayerTable)) == 0) {
    throw ContribuinteJáNoAtual(ie);
  }
}

std::optional<std::int64_t> PgSessãoCópia::retornoExistente(const QString& ie, const QDate& ref1) {
  const DocumentoLote doc{0, ie, ref1};
  return retornosExistentes({&doc, 1}).front();
}

void PgSessãoCópia::apagarRetorno(std::int64_t nro_qur) {
  ItemLote item;
  item.armazenar = false;
  item.substituir = nro_qur;
  Montagem m = montar({&item, 1});
  parteApagar(m);
  executar(m, "apagar a declaração " + std::to_string(nro_qur));
}

std::int32_t PgSessãoCópia::copiarCabeçalho(std::int32_t nro_qur_temp) {
  ItemLote item;
  item.doc.nroQURTemp = nro_qur_temp;
  Montagem m = montar({&item, 1});
  parteCabeçalhos(m);
  return executar(m, "copiar o cabeçalho da declaração").novos.front();
}

int PgSessãoCópia::copiarTabela(const schema::TableCopy& c, std::int32_t chave_origem, std::int32_t chave_nova) {
  if (c.link == schema::kOccurrenceKey) return copiarRegistro(c, chave_origem, chave_nova);
  ItemLote item;
  item.doc.nroQURTemp = chave_origem;
  item.novo = chave_nova;
  Montagem m = montar({&item, 1});
  parteChavesDadas(m);
  parteDetalhe(m, c);
  const LoteCopiado r = executar(m, "copiar a tabela " + Str(c.table));
  const auto n = r.linhas.find(Str(c.table));
  return n == r.linhas.end() ? 0 : n->second;
}

SessãoCópia::Ocorrências PgSessãoCópia::copiarOcorrências(std::int32_t nro_qur_temp, std::int32_t nro_qur_novo) {
  ItemLote item;
  item.doc.nroQURTemp = nro_qur_temp;
  item.novo = nro_qur_novo;
  Montagem m = montar({&item, 1});
  parteChavesDadas(m);
  parteOcorrências(m);
  return OcorrênciasDe(executar(m, "copiar as ocorrências"));
}

int PgSessãoCópia::copiarRegistro(const schema::TableCopy& c, std::int32_t código_origem, std::int32_t código_novo) {
  exigirTransação("copiar uma tabela");
  const std::vector<std::string_view> campos = NomesDe(c.fields);
  std::vector<std::vector<QVariant>> linhas = temp_.linhas(c, código_origem, campos);
  if (linhas.empty()) return 0;
  for (std::vector<QVariant>& linha : linhas) linha.insert(linha.begin(), QVariant(código_novo));
  std::vector<std::string_view> destino{c.link};
  destino.insert(destino.end(), campos.begin(), campos.end());
  exigirColunas(c.table, destino);
  return inserir(c.table, destino, linhas, "copiar a tabela " + Str(c.table));
}

SessãoCópia::LoteCopiado PgSessãoCópia::copiarLote(std::span<const ItemLote> itens, const OrigemHistórico& origem,
                                                  const QDate& cadastro) {
  // Everything goes to the server in one round trip: the taxpayers (first,
  // so that one the database refuses fails the batch before anything else)
  // and the deletions, then one statement whose data-modifying parts add
  // the rows.
  Montagem m = montar(itens);
  parteContribuintes(m, cadastro);
  parteApagar(m);
  if (!m.guardados.empty()) {
    parteCabeçalhos(m);
    for (const schema::TableCopy& c : schema::ReturnDetailCopies()) {
      if (c.table == schema::kOccurrenceTable) {
        parteOcorrências(m);
      } else {
        parteDetalhe(m, c);
      }
    }
  }
  parteHistórico(m, origem);
  return executar(m, "copiar um lote de declarações");
}

int PgSessãoCópia::copiarContribuintes(std::span<const ItemLote> itens, const QDate& cadastro) {
  Montagem m = montar(itens);
  parteContribuintes(m, cadastro);
  const LoteCopiado r = executar(m, "copiar os contribuintes");
  const auto n = r.linhas.find(Str(schema::kTaxpayerTable));
  return n == r.linhas.end() ? 0 : n->second;
}

// --- the batch's statement ----------------------------------------------------
//
// The new keys never travel: the header part gives them back to a part
// `lote` that puts them in an array in the order the rows were added (so
// position k of the stored documents holds the k-th one's key), the
// occurrence part to `ocorr`, and the other parts index those.

PgSessãoCópia::Montagem PgSessãoCópia::montar(std::span<const ItemLote> itens) {
  exigirTransação("copiar declarações");
  Montagem m;
  m.itens = itens;
  for (size_t k = 0; k < itens.size(); ++k) {
    if (!itens[k].armazenar) continue;
    m.guardados.push_back(k);
    m.chaves.push_back(itens[k].doc.nroQURTemp);
  }
  return m;
}

void PgSessãoCópia::adicionar(Montagem& m, const std::string& nome, std::string_view tabela,
                              const std::vector<std::string_view>& campos, const std::vector<std::vector<QVariant>>& linhas,
                              const std::optional<Mapa>& mapa, const std::string& devolve, bool contar) {
  PgComando c = inserção(tabela, campos, linhas, mapa, " RETURNING " + devolve, m.parâmetros.size());
  m.parâmetros.insert(m.parâmetros.end(), c.parâmetros.begin(), c.parâmetros.end());
  m.partes.push_back(nome + " AS (" + c.sql + ")");
  if (contar) m.contadas.emplace_back(nome, Str(tabela));
}

void PgSessãoCópia::numerar(Montagem& m, const std::string& nome, const std::string& de, const std::string& chave) {
  // The server numbers the rows of one statement in the order they come,
  // so the n-th smallest key is the n-th row's.
  m.partes.push_back(nome + " AS (SELECT array_agg(" + chave + " ORDER BY " + chave + ") AS novos FROM " + de + ")");
}

void PgSessãoCópia::parteContribuintes(Montagem& m, const QDate& cadastro) {
  const schema::RecordDef& registro = *schema::FindTable(schema::kTaxpayerTable);
  const std::vector<std::string_view> campos = NomesDe(registro.fields);
  std::vector<std::vector<QVariant>> linhas;
  for (const ItemLote& it : m.itens) {
    if (!it.copiarContribuinte) continue;
    std::optional<BancoTemporário::Linha> linha = temp_.contribuinte(it.doc.ie, campos);
    if (!linha) throw ContribuinteFaltaNoTemporário(it.doc.ie);
    for (size_t i = 0; i < campos.size(); ++i) {
      if (campos[i] == "DataCadastro") (*linha)[i] = QVariant(cadastro);
    }
    linhas.push_back(std::move(*linha));
  }
  if (linhas.empty()) return;
  exigirColunas(registro.table, campos);
  // The unique key on lower(IE) skips one that is there already, whoever
  // stored it.
  m.antes.push_back(inserção(registro.table, campos, linhas, std::nullopt, " ON CONFLICT DO NOTHING"));
  m.conta_contribuintes = true;
}

void PgSessãoCópia::parteApagar(Montagem& m) {
  std::vector<QVariant> apagar;
  for (const ItemLote& it : m.itens) {
    if (it.substituir) apagar.push_back(QVariant(static_cast<qlonglong>(*it.substituir)));
  }
  if (apagar.empty()) return;
  if (temArquivo()) m.antes.push_back(arquivamento(ArrayTexto(apagar)));
  // The schema's cascade takes every detail and register row with them.
  m.antes.push_back(PgComando{"DELETE FROM \"tblQUR\" WHERE \"NroQUR\" = ANY ($1::integer[])", {ArrayTexto(apagar)}});
}

bool PgSessãoCópia::temArquivo() { return !colunas(schema::kArchiveTable).empty(); }

PgComando PgSessãoCópia::arquivamento(const QString& retornos) {
  // One statement: the archive rows, then each table's rows of those
  // returns under them, in the order they were stored.
  std::string sql = "WITH a AS (INSERT INTO " + Q(schema::kArchiveTable) +
                    " (\"NroQUR\", \"IE\", \"Ref1\") SELECT q.\"NroQUR\", q.\"IE\", q.\"Ref1\" FROM unnest($1::integer[]) "
                    "WITH ORDINALITY v(nro, n) JOIN \"tblQUR\" q ON q.\"NroQUR\" = v.nro ORDER BY v.n "
                    "RETURNING \"Código\", \"NroQUR\", \"IE\")";
  int parte = 0;
  for (const schema::RecordDef& r : schema::Records()) {
    const std::string cópia = schema::ArchivedTable(r.table);
    const std::vector<std::string>& arquivadas = colunas(cópia);
    std::string destino = Q(schema::kArchiveLink);
    std::string origem = "a.\"Código\"";
    for (const std::string& c : colunas(r.table)) {
      if (std::find(arquivadas.begin(), arquivadas.end(), c) == arquivadas.end()) continue;
      destino += ", " + Q(c);
      origem += ", x." + Q(c);
    }
    if (arquivadas.empty() || colunas(r.table).empty()) continue;
    const std::string t = Q(r.table);
    std::string de;
    switch (r.parent) {
      case schema::Parent::kFile:
        de = t + " x ON lower(x.\"IE\") = lower(a.\"IE\") ORDER BY a.\"Código\", x.\"Id\"";
        break;
      case schema::Parent::kTaxpayer:
      case schema::Parent::kReturn:
        de = t + " x ON x.\"NroQUR\" = a.\"NroQUR\" ORDER BY a.\"Código\", x.ctid";
        break;
      case schema::Parent::kOccurrence:
        de = "\"tblOcorrências\" o ON o.\"NroQUR\" = a.\"NroQUR\" JOIN " + t +
             " x ON x.\"Código\" = o.\"Código\" ORDER BY a.\"Código\", o.\"Código\", x.ctid";
        break;
    }
    sql += ", p" + std::to_string(++parte) + " AS (INSERT INTO " + Q(cópia) + " (" + destino + ") SELECT " + origem +
           " FROM a JOIN " + de + ")";
  }
  return PgComando{sql + " SELECT count(*) FROM a", {retornos}};
}

void PgSessãoCópia::parteCabeçalhos(Montagem& m) {
  if (m.guardados.empty()) return;
  const schema::RecordDef& cabeçalho = *schema::FindTable(schema::kReturnTable);
  exigirColunas(cabeçalho.table, {schema::kReturnKey});
  std::vector<std::string_view> campos;
  for (const schema::FieldDef& f : cabeçalho.fields) {
    // A field newer than the host's table is passed over, as it was never
    // there; any other one is required.
    if (f.may_lack && (coluna(cabeçalho.table, f.name).empty() || !temp_.temCampo(cabeçalho.table, f.name))) continue;
    campos.push_back(f.name);
  }
  exigirColunas(cabeçalho.table, campos);
  // Copied again: under the keys the first copy gave.
  const bool fixos = m.itens[m.guardados.front()].novo != 0;
  std::vector<std::vector<QVariant>> linhas = temp_.cabeçalhos(m.chaves, campos);
  if (linhas.size() != m.guardados.size()) throw DocumentoFaltaNoTemporário(PrimeiroAusente(temp_, m.itens));
  if (fixos) {
    for (size_t i = 0; i < linhas.size(); ++i) linhas[i].push_back(m.itens[m.guardados[i]].novo);
  }
  if (fixos) campos.push_back(schema::kReturnKey);
  const std::string k = Q(coluna(cabeçalho.table, schema::kReturnKey));
  adicionar(m, "h", cabeçalho.table, campos, linhas, std::nullopt, k);
  numerar(m, "lote", "h", k);
  m.tem_lote = true;
  m.fixos = fixos;
}

void PgSessãoCópia::parteChavesDadas(Montagem& m) {
  std::vector<QVariant> chaves;
  for (size_t k : m.guardados) chaves.push_back(m.itens[k].novo);
  m.parâmetros.push_back(ArrayTexto(chaves));
  m.partes.push_back("lote AS (SELECT $" + std::to_string(m.parâmetros.size()) + "::integer[] AS novos)");
  m.tem_lote = true;
}

void PgSessãoCópia::parteDetalhe(Montagem& m, const schema::TableCopy& c) {
  const std::vector<std::string_view> campos = NomesDe(c.fields);
  // Each row led by its document's position in the map of new keys.
  std::vector<std::vector<QVariant>> linhas = temp_.linhasDosDocumentos(c, m.chaves, campos);
  for (std::vector<QVariant>& linha : linhas) linha.front() = QVariant(linha.front().toLongLong() + 1);
  if (linhas.empty()) return;
  std::vector<std::string_view> destino{c.link};
  destino.insert(destino.end(), campos.begin(), campos.end());
  exigirColunas(c.table, destino);
  adicionar(m, "t" + std::to_string(m.partes.size()), c.table, destino, linhas, Mapa{0, "lote"}, "1");
}

void PgSessãoCópia::parteOcorrências(Montagem& m) {
  const schema::TableCopy& c = schema::CopyOf(schema::kOccurrenceTable);
  const std::vector<std::string_view> campos = NomesDe(c.fields);
  std::vector<std::vector<QVariant>> linhas;
  std::map<std::int32_t, qlonglong> ordem_da_ocorrência;  // the file's Código -> position among the batch's
  std::vector<size_t> vistas(m.itens.size());               // occurrences per item so far, when copied again
  const bool fixos = m.fixos;
  std::vector<std::string_view> lidas{schema::kOccurrenceKey};
  lidas.insert(lidas.end(), campos.begin(), campos.end());
  for (const BancoTemporário::Linha& lida : temp_.linhasDosDocumentos(c, m.chaves, lidas)) {
    const qlonglong posição = lida[0].toLongLong();
    const size_t item = m.guardados[static_cast<size_t>(posição)];
    const auto código = static_cast<std::int32_t>(lida[1].toLongLong());
    std::vector<QVariant> linha{QVariant(posição + 1)};
    linha.insert(linha.end(), lida.begin() + 2, lida.end());
    if (fixos) {
      const std::vector<std::int32_t>& dados = m.itens[item].códigosOcorrências;
      const size_t n = vistas[item]++;
      if (n >= dados.size()) throw DbError(kErrOther, "As ocorrências da declaração mudaram ao copiar o lote de novo.");
      linha.push_back(dados[n]);
    }
    linhas.push_back(std::move(linha));
    ordem_da_ocorrência[código] = static_cast<qlonglong>(linhas.size());
    m.ocorrências.emplace_back(item, código);
  }
  if (linhas.empty()) return;
  std::vector<std::string_view> destino{c.link};
  destino.insert(destino.end(), campos.begin(), campos.end());
  exigirColunas(c.table, destino);
  exigirColunas(c.table, {schema::kOccurrenceKey});
  if (fixos) destino.push_back(schema::kOccurrenceKey);
  const std::string k = Q(coluna(c.table, schema::kOccurrenceKey));
  adicionar(m, "o", c.table, destino, linhas, Mapa{0, "lote"}, k);
  numerar(m, "ocorr", "o", k);
  for (const schema::TableCopy& registro : schema::OccurrenceRegisterCopies()) {
    parteRegistros(m, registro, ordem_da_ocorrência);
  }
}

void PgSessãoCópia::parteRegistros(Montagem& m, const schema::TableCopy& registro,
                                   const std::map<std::int32_t, qlonglong>& ordem_da_ocorrência) {
  const std::vector<std::string_view> campos = NomesDe(registro.fields);
  // Occurrence by occurrence in the file's order, each one's rows as stored.
  const std::vector<std::vector<QVariant>> linhas =
      LinhasDeRegistro(temp_.registrosDosDocumentos(registro, m.chaves, campos), ordem_da_ocorrência);
  if (linhas.empty()) return;
  std::vector<std::string_view> destino{registro.link};
  destino.insert(destino.end(), campos.begin(), campos.end());
  exigirColunas(registro.table, destino);
  adicionar(m, "t" + std::to_string(m.partes.size()), registro.table, destino, linhas, Mapa{0, "ocorr"}, "1");
}

void PgSessãoCópia::parteHistórico(Montagem& m, const OrigemHistórico& origem) {
  if (!temHistórico()) return;
  std::vector<LinhaHistórico> linhas;
  size_t guardado = 0;
  for (const ItemLote& it : m.itens) {
    LinhaHistórico linha;
    linha.ie = it.doc.ie;
    linha.ref1 = it.doc.ref1;
    linha.resultado = ResultadoDoItem(origem, it.armazenar, it.substituir.has_value());
    linha.anterior = it.substituir;
    // The new key: its position in the map of the stored documents.
    if (it.armazenar) linha.novo = static_cast<std::int64_t>(++guardado);
    linhas.push_back(std::move(linha));
  }
  if (históricoNoServidor()) {
    PgComando chamada = chamadaHistórico(origem, linhas, m.parâmetros.size(), m.tem_lote ? "lote" : "");
    m.parâmetros.insert(m.parâmetros.end(), chamada.parâmetros.begin(), chamada.parâmetros.end());
    m.partes.push_back("historico AS (" + chamada.sql + ")");
    m.forçadas.push_back("historico");
    return;
  }
  const std::vector<std::string_view> colunas(std::begin(kColunasHistórico), std::end(kColunasHistórico));
  std::vector<std::vector<QVariant>> valores;
  for (const LinhaHistórico& linha : linhas) valores.push_back(ValoresHistórico(origem, linha));
  adicionar(m, "historico", kTabelaHistórico, colunas, valores,
            m.tem_lote ? std::optional<Mapa>(Mapa{colunas.size() - 1, "lote"}) : std::nullopt, "1", false);
}

bool PgSessãoCópia::históricoNoServidor() { return !coluna(kTabelaHistórico, "Login").empty(); }

PgComando PgSessãoCópia::chamadaHistórico(const OrigemHistórico& origem, const std::vector<LinhaHistórico>& linhas,
                                          size_t antes, const std::string& mapa) {
  std::vector<QVariant> ies, ref1s, resultados, anteriores, novos;
  for (const LinhaHistórico& l : linhas) {
    const std::string_view r = TextoResultado(l.resultado);
    ies.push_back(l.ie);
    ref1s.push_back(l.ref1.isValid() ? QVariant(l.ref1) : QVariant());
    resultados.push_back(QString::fromUtf8(r.data(), static_cast<int>(r.size())));
    anteriores.push_back(l.anterior ? QVariant(static_cast<qlonglong>(*l.anterior)) : QVariant());
    novos.push_back(l.novo ? QVariant(static_cast<qlonglong>(*l.novo)) : QVariant());
  }
  PgComando c;
  c.parâmetros = {origem.execução, origem.usuário, origem.máquina, origem.arquivo, origem.sha256,
                  ArrayTexto(ies), ArrayTexto(ref1s), ArrayTexto(resultados), ArrayTexto(anteriores), ArrayTexto(novos)};
  const auto p = [&](int i, const char* tipo) { return "$" + std::to_string(antes + i) + "::" + tipo; };
  // With a map, each new key is a position in it, looked up here.
  const std::string chaves =
      mapa.empty() ? p(10, "integer[]")
                   : "ARRAY(SELECT (SELECT novos FROM " + mapa + ")[u.p] FROM unnest(" + p(10, "integer[]") +
                         ") WITH ORDINALITY u(p, n) ORDER BY u.n)";
  c.sql = "SELECT " + std::string(kFunçãoHistórico) + "(" + p(1, "text") + ", " + p(2, "text") + ", " + p(3, "text") +
          ", " + p(4, "text") + ", " + p(5, "text") + ", " + p(6, "text[]") + ", " + p(7, "date[]") + ", " +
          p(8, "text[]") + ", " + p(9, "integer[]") + ", " + chaves + ") AS n";
  return c;
}

SessãoCópia::LoteCopiado PgSessãoCópia::executar(Montagem& m, const std::string& fazendo) {
  LoteCopiado resultado;
  resultado.novos.assign(m.itens.size(), 0);
  resultado.ocorrências.assign(m.itens.size(), {});
  std::vector<PgComando> comandos = std::move(m.antes);
  if (!m.partes.empty()) {
    std::string sql = "WITH ";
    for (size_t i = 0; i < m.partes.size(); ++i) sql += (i == 0 ? "" : ", ") + m.partes[i];
    sql += " SELECT ";
    for (const auto& [nome, tabela] : m.contadas) sql += "(SELECT count(*) FROM " + nome + "), ";
    sql += m.tem_lote ? "(SELECT array_to_string(novos, ',') FROM lote), " : "NULL, ";
    sql += m.ocorrências.empty() ? "NULL" : "(SELECT array_to_string(novos, ',') FROM ocorr)";
    // A part that only calls a function runs only when something reads it.
    for (const std::string& parte : m.forçadas) sql += ", (SELECT count(*) FROM " + parte + ")";
    comandos.push_back(PgComando{std::move(sql), std::move(m.parâmetros)});
  }
  if (comandos.empty()) return resultado;
  const std::vector<PgResultado> r = protegido(std::move(comandos), fazendo);
  if (m.conta_contribuintes && r.front().alteradas() > 0) {
    resultado.linhas[Str(schema::kTaxpayerTable)] += r.front().alteradas();
  }
  if (m.partes.empty()) return resultado;
  const PgResultado& feito = r.back();
  for (size_t i = 0; i < m.contadas.size(); ++i) {
    const int n = static_cast<int>(feito.valor(0, static_cast<int>(i)).toLongLong());
    if (n > 0) resultado.linhas[m.contadas[i].second] += n;
  }
  const int coluna_novos = static_cast<int>(m.contadas.size());
  if (m.tem_lote) lerChaves(m, feito.valor(0, coluna_novos).toString(), &resultado);
  if (!m.ocorrências.empty()) lerCódigos(m, feito.valor(0, coluna_novos + 1).toString(), &resultado);
  return resultado;
}

void PgSessãoCópia::lerChaves(const Montagem& m, const QString& texto, LoteCopiado* r) const {
  const QStringList novos = texto.split(QLatin1Char(','), Qt::SkipEmptyParts);
  if (novos.size() != static_cast<int>(m.guardados.size())) {
    throw DbError(kErrOther, "O servidor PostgreSQL " + Str(conexão_->servidor()) + " guardou " +
                                 std::to_string(novos.size()) + " de " + std::to_string(m.guardados.size()) +
                                 " declarações do lote.");
  }
  for (size_t p = 0; p < m.guardados.size(); ++p) {
    const qlonglong n = novos[static_cast<int>(p)].toLongLong();
    if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
      throw DbError(kErrOther, "O número " + std::to_string(n) + " que o servidor deu à declaração não cabe em 32 bits.");
    }
    r->novos[m.guardados[p]] = static_cast<std::int32_t>(n);
  }
}

void PgSessãoCópia::lerCódigos(const Montagem& m, const QString& texto, LoteCopiado* r) const {
  const QStringList códigos = texto.split(QLatin1Char(','), Qt::SkipEmptyParts);
  if (códigos.size() != static_cast<int>(m.ocorrências.size())) {
    throw DbError(kErrOther, "O servidor PostgreSQL " + Str(conexão_->servidor()) +
                                 " não devolveu os códigos de todas as ocorrências do lote.");
  }
  for (size_t p = 0; p < m.ocorrências.size(); ++p) {
    r->ocorrências[m.ocorrências[p].first].emplace_back(
        m.ocorrências[p].second, static_cast<std::int32_t>(códigos[static_cast<int>(p)].toLongLong()));
  }
}

}  // namespace orlan

namespace orlan {

PgComando PgSessãoCópia::consultaExistentes(std::span<const DocumentoLote> docs) const {
  std::vector<QVariant> ies;
  std::vector<QVariant> datas;
  for (const DocumentoLote& d : docs) {
    ies.push_back(d.ie);
    datas.push_back(d.ref1.isValid() ? QVariant(d.ref1) : QVariant());
  }
  return PgComando{"SELECT (SELECT q.\"NroQUR\" FROM \"tblQUR\" q WHERE lower(q.\"IE\") = lower(v.ie) AND q.\"Ref1\" = v.ref1 "
                   "ORDER BY q.\"NroQUR\" LIMIT 1) FROM unnest($1::text[], $2::date[]) WITH ORDINALITY v(ie, ref1, n) "
                   "ORDER BY v.n",
                   {ArrayTexto(ies), ArrayTexto(datas)}};
}

std::vector<std::optional<std::int64_t>> PgSessãoCópia::retornosExistentes(std::span<const DocumentoLote> docs) {
  std::vector<std::optional<std::int64_t>> existentes;
  if (docs.empty()) return existentes;
  const std::vector<PgResultado> r = protegido({consultaExistentes(docs)}, "procurar as declarações existentes");
  for (int i = 0; i < r[0].linhas(); ++i) {
    existentes.push_back(r[0].nulo(i, 0) ? std::nullopt : std::optional<std::int64_t>(r[0].valor(i, 0).toLongLong()));
  }
  return existentes;
}

std::optional<SessãoCópia::EstadoLote> PgSessãoCópia::bloquearLote(std::span<const DocumentoLote> docs, bool esperar) {
  exigirTransação("bloquear as declarações");
  EstadoLote estado;
  if (docs.empty()) return estado;
  std::vector<QVariant> ies;
  std::vector<QVariant> meses;
  for (const DocumentoLote& d : docs) {
    ies.push_back(d.ie);
    meses.push_back(ChaveMês(d.ref1));
    ies.push_back(d.ie);
    meses.push_back(0);
  }
  // Every lock is tried, in a fixed order, before anything is read: the
  // reads then see what the locks protect.
  const std::string tentar =
      "SELECT bool_and(pg_try_advisory_xact_lock(hashtext(lower(v.ie)), v.mes)) FROM "
      "unnest($1::text[], $2::integer[]) WITH ORDINALITY v(ie, mes, n)";
  // Waits in the order of the lock keys, the same for every session.
  const std::string aguardar =
      "SELECT count(*) >= 0 FROM (SELECT pg_advisory_xact_lock(k.chave, k.mes) FROM (SELECT DISTINCT "
      "hashtext(lower(v.ie)) AS chave, v.mes FROM unnest($1::text[], $2::integer[]) v(ie, mes) ORDER BY 1, 2) k) l";
  std::vector<PgComando> comandos{PgComando{esperar ? aguardar : tentar, {ArrayTexto(ies), ArrayTexto(meses)}},
                                  consultaExistentes(docs)};
  const std::vector<PgResultado> r = protegido(std::move(comandos), "bloquear as declarações");
  if (!r[0].valor(0, 0).toBool()) return std::nullopt;
  for (int i = 0; i < r[1].linhas(); ++i) {
    estado.existentes.push_back(r[1].nulo(i, 0) ? std::nullopt
                                                : std::optional<std::int64_t>(r[1].valor(i, 0).toLongLong()));
  }
  return estado;
}

std::vector<std::string> PgSessãoCópia::marcoAlheio() {
  // Every role may read which transactions hold locks, and in which
  // database a session works. A session that waits for a lock itself is
  // left out: its retries come and go without anyone's work moving.
  const PgResultado r = conexão_->executar(
      "SELECT DISTINCT l.virtualtransaction FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid "
      "WHERE a.datname = current_database() AND l.pid <> pg_backend_pid() AND l.granted AND NOT EXISTS "
      "(SELECT 1 FROM pg_locks w WHERE w.pid = l.pid AND NOT w.granted)",
      {}, "ler o progresso do banco");
  std::vector<std::string> transações;
  for (int i = 0; i < r.linhas(); ++i) transações.push_back(r.valor(i, 0).toString().toStdString());
  return transações;
}

bool PgSessãoCópia::temHistórico() { return !colunas(kTabelaHistórico).empty(); }

void PgSessãoCópia::registrarHistórico(const OrigemHistórico& origem, const LinhaHistórico& linha) {
  exigirTransação("registrar o histórico");
  if (!temHistórico()) return;
  if (históricoNoServidor()) {
    protegido({chamadaHistórico(origem, {linha}, 0, "")}, "registrar o histórico de importações");
    return;
  }
  const std::vector<std::string_view> colunas(std::begin(kColunasHistórico), std::end(kColunasHistórico));
  protegido({inserção(kTabelaHistórico, colunas, {ValoresHistórico(origem, linha)})},
            "registrar o histórico de importações");
}

}  // namespace orlan
