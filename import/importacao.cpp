#include "import/importacao.h"

#include <sqlite3.h>

#include <QDate>
#include <QDateTime>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "database/recordset.h"
#include "import/copia_tabela.h"

namespace orlan {

namespace {

const QString kTítuloAtenção = QStringLiteral("Atenção!");

// The fields of tblContribuinte that the taxpayer copy writes, in order.
// DataCadastro is the day of the import, not the file's.
constexpr std::array<std::string_view, 18> kCamposContribuinte = {
    "IE",     "RazãoSocial", "CNPJ",     "CNAE",     "Localização",  "Número",
    "Complemento", "Bairro", "CEP",      "Município", "UF",          "Telefone",
    "HomePage", "FAX",       "Contato",  "Email",    "DataCadastro", "Observação",
};
constexpr std::string_view kDataCadastro = "DataCadastro";

// The fields of tblQUR that the header copy writes, in order. The last two
// are newer than some host databases: a table without them still takes the
// header with the others.
constexpr std::array<std::string_view, 22> kCamposCabeçalho = {
    "IE",          "Tipo",         "RegTrib",          "Ref1",           "Ref2",
    "Movimento",   "SaldoCredor",  "SaldoCredAntDig",  "Transmitida",    "DeduçõesRPA",
    "IcmsFixPerRES", "OutrasRES",  "SaldoCredorST",    "SaldoCredAntDigST", "DeduçõesST",
    "Origem",      "Consistente",  "DataTransmissão",  "DataGeraçãoSubstitutiva", "OrigemPrefDig",
    "DataGeraçãoColigida", "Autenticação",
};
constexpr size_t kCamposCabeçalhoObrigatórios = 20;

// The seven detail copies of a return, in the order the run makes them.
enum class Detalhe { kTabela, kOcorrências };
struct PassoDetalhe {
  const CópiaTabela* cópia;
  Detalhe tipo;
};
const std::array<PassoDetalhe, 7> kDetalhes = {{
    {&kCópiaPagamento, Detalhe::kTabela},
    {&kCópiaDetalhesCFOPs, Detalhe::kTabela},
    {&kCópiaDetalhesInterUFs, Detalhe::kTabela},
    {&kCópiaZFM_ALC, Detalhe::kTabela},
    {&kCópiaOcorrências, Detalhe::kOcorrências},
    {&kCópiaDIPAM, Detalhe::kTabela},
    {&kCópiaRegistroExportação, Detalhe::kTabela},
}};

// The four registers of an occurrence, in the order they are copied.
const std::array<const CópiaTabela*, 4> kRegistros = {
    &kCópiaIEsRemetente, &kCópiaIESubstituido, &kCópiaIESubstituto, &kCópiaRecibosCredito};

bool BancosAbertos(const EstadoImportação& e) {
  return e.BancoTemp && e.BancoTemp->isOpen() && e.BancoAtual && e.BancoAtual->isOpen();
}

bool EmTransação(Database& db) { return sqlite3_get_autocommit(db.handle()) == 0; }

// "dd/MM/yyyy" of a date value; other values as their text.
QString TextoData(const QVariant& v) {
  if (v.typeId() == QMetaType::QDate) return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date().toString(QStringLiteral("dd/MM/yyyy"));
  return v.toString();
}

void Somar(ResumoImportação& total, const ResumoImportação& parte) {
  total.importados += parte.importados;
  total.substituídos += parte.substituídos;
  total.ignorados += parte.ignorados;
  for (const auto& [tabela, n] : parte.linhasPorTabela) total.linhasPorTabela[tabela] += n;
}

// A read transaction: holds a shared lock on the file until it ends.
class LeituraTemp {
 public:
  explicit LeituraTemp(Database& db) : db_(db) { db_.execute("BEGIN DEFERRED"); }
  ~LeituraTemp() {
    if (ativa_ && db_.isOpen()) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  LeituraTemp(const LeituraTemp&) = delete;
  LeituraTemp& operator=(const LeituraTemp&) = delete;
  void commit() {
    ativa_ = false;
    db_.execute("COMMIT");
  }

 private:
  Database& db_;
  bool ativa_ = true;
};

// While a run lasts, the current database's connection keeps its temporary
// files in memory: each document's savepoint and each statement journal copy
// the pages they change there, and on disk that copy would be a write per
// statement. Put back when the run ends. (Changing it drops the connection's
// temporary tables; the control's connection keeps none.)
class TemporáriosEmMemória {
 public:
  explicit TemporáriosEmMemória(Database& db) : db_(db), anterior_(db.scalar("PRAGMA temp_store").toInt()) {
    if (anterior_ != kMemória) db_.execute("PRAGMA temp_store = MEMORY");
  }
  ~TemporáriosEmMemória() {
    if (anterior_ == kMemória || !db_.isOpen()) return;
    sqlite3_exec(db_.handle(), anterior_ == kArquivo ? "PRAGMA temp_store = FILE" : "PRAGMA temp_store = DEFAULT",
                 nullptr, nullptr, nullptr);
  }
  TemporáriosEmMemória(const TemporáriosEmMemória&) = delete;
  TemporáriosEmMemória& operator=(const TemporáriosEmMemória&) = delete;

 private:
  static constexpr int kArquivo = 1;
  static constexpr int kMemória = 2;
  Database& db_;
  int anterior_;
};

enum class Seguimento { kContinuar, kParar };

// One press of Importar.
//
// Atomicity: the run keeps one transaction open on the current database
// across documents and commits it only before it shows anything to the user,
// after a failure and at the end, so the number of commits does not grow
// with the number of documents. Inside it each document (deletion of the
// replaced header, new header, every detail and register row) is one
// savepoint: a failure or a kill leaves the document whole or absent. The
// taxpayer record is written before the document's savepoint, so it stays
// when the user then declines the document.
class Importação {
 public:
  Importação(EstadoImportação& estado, AnfitriãoImportação& host)
      : e_(estado),
        host_(host),
        temp_(*estado.BancoTemp),
        atual_(*estado.BancoAtual),
        hoje_(QDate::currentDate()) {}

  Status executar(const std::vector<ItemLista>& items);

 private:
  Seguimento documento(const ItemLista& item);
  int cópiaContribuinte();
  std::optional<std::int64_t> testeDuplicata();
  int perguntaSobrepor();
  void cópiaCabeçalho(std::optional<std::int64_t> substituído);
  void cópiaOcorrências(const CópiaTabela& c);

  void iniciarLote();
  void gravarLote();
  void mensagem(const QString& texto, const QString& título, int estilo);

  EstadoImportação& e_;
  AnfitriãoImportação& host_;
  Database& temp_;
  Database& atual_;
  std::optional<TemporáriosEmMemória> temporários_;
  // Attached before the first transaction of the run, detached after the last.
  std::optional<BancoAnexado> anexo_;
  std::optional<Copiador> copiador_;
  const QDate hoje_;  // DataCadastro of the taxpayers this run adds
  std::optional<TransaçãoAtual> lote_;
  std::optional<LeituraTemp> leitura_;
  // What the open transaction holds, folded into the run's summary when it
  // is committed.
  ResumoImportação pendente_;
  ResumoImportação documento_;  // the document in progress
  std::optional<int> resposta_para_todos_;
};

Status Importação::executar(const std::vector<ItemLista>& items) {
  Status falha;
  try {
    temporários_.emplace(atual_);
    anexo_.emplace(atual_, temp_, BancoAnexado::Uso::kRenovar);
    copiador_.emplace(*anexo_);
    for (const ItemLista& item : items) {
      if (!item.selecionado) continue;
      if (documento(item) == Seguimento::kParar) {
        gravarLote();
        return Status::OK();
      }
    }
    gravarLote();
  } catch (const DbError& erro) {
    falha = erro.status();
  } catch (const std::exception& erro) {
    falha = Status(kErrOther, std::string("the import stopped: ") + erro.what());
  }
  if (!falha.ok()) {
    // The document in progress was rolled back as its savepoint unwound;
    // the documents finished before it are kept.
    try {
      gravarLote();
    } catch (const DbError& erro) {
      return Status(falha.number(), falha.message() + "; then " + erro.status().message(),
                    falha.sqlite_message());
    }
    return falha;
  }
  mensagem(QStringLiteral("A Importação foi concluída com sucesso."), QStringLiteral("Sucesso!"), kEstiloOk);
  host_.raise(Evento::FinalizouImportação);
  return Status::OK();
}

Seguimento Importação::documento(const ItemLista& item) {
  bool ok = false;
  const int chave = item.colunas[3].toInt(&ok);
  if (!ok) {
    throw DbError(Status(kErrOther, "the list item holds no document key: \"" + item.colunas[3].toStdString() + "\""));
  }
  e_.NroQURTemp = chave;
  host_.raise(Evento::NoMeio);
  {
    Recordset cabeçalho = temp_.openRecordset("tblQUR", "NroQUR = ?", {QVariant(e_.NroQURTemp)});
    e_.IEDocumento = cabeçalho.value("IE");
    e_.Ref1Documento = cabeçalho.value("Ref1");
  }

  host_.raise(Evento::NoMeio);
  iniciarLote();
  if (cópiaContribuinte() == kRespostaCancelar) return Seguimento::kParar;

  host_.raise(Evento::NoMeio);
  const std::optional<std::int64_t> existente = testeDuplicata();
  if (existente) {
    const int resposta = perguntaSobrepor();
    if (resposta == kRespostaNao) {
      ++pendente_.ignorados;
      return Seguimento::kContinuar;
    }
    if (resposta != kRespostaSim) return Seguimento::kParar;
  }

  iniciarLote();
  documento_ = ResumoImportação{};
  Savepoint unidade(atual_, "documento");
  cópiaCabeçalho(existente);
  for (const PassoDetalhe& passo : kDetalhes) {
    host_.raise(Evento::NoMeio);
    if (passo.tipo == Detalhe::kOcorrências) {
      cópiaOcorrências(*passo.cópia);
    } else {
      const int n = copiador_->copiar(*passo.cópia, e_.NroQURTemp, e_.NroQURNovo);
      if (n > 0) documento_.linhasPorTabela[std::string(passo.cópia->tabela)] += n;
    }
  }
  unidade.release();
  if (existente) {
    ++documento_.substituídos;
  } else {
    ++documento_.importados;
  }
  Somar(pendente_, documento_);
  return Seguimento::kContinuar;
}

// Gives back 6 (stored, or the same taxpayer as the previous call), 7 (already
// in the current database) or 2 (failed; the user was told).
int Importação::cópiaContribuinte() {
  const bool nulo = !e_.IEDocumento.isValid() || e_.IEDocumento.isNull();
  if (!nulo && e_.IEDocumento.toString() == e_.IEAnterior) return kRespostaSim;
  try {
    if (nulo) throw DbError(Status(kErrRequiredNull, "the document has no IE"));
    const QString ie = e_.IEDocumento.toString();
    e_.IEAnterior = ie;
    // Already there: the same answer as the unique key's refusal, without
    // building the record.
    if (!anexo_->abrirAtual("tblContribuinte", "IE = ?", {ie}).eof()) return kRespostaNao;
    Recordset origem = temp_.openRecordset("tblContribuinte", "IE = ?", {ie});
    Recordset destino = anexo_->abrirAtual("tblContribuinte");
    destino.addNew();
    for (std::string_view campo : kCamposContribuinte) {
      if (campo == kDataCadastro) {
        destino.setValue(campo, hoje_);
      } else {
        destino.setValueFrom(campo, origem, campo);
      }
    }
    destino.update();
    ++pendente_.linhasPorTabela["tblContribuinte"];
    return kRespostaSim;
  } catch (const DbError& erro) {
    if (erro.number() == kErrDuplicateKey) return kRespostaNao;
    // Forgotten, so that the next run tries this taxpayer again instead of
    // taking it for copied.
    e_.IEAnterior.clear();
  }
  mensagem(QStringLiteral("Erro na atualização do Cadastro (Arquivo Corrompido)!"), kTítuloAtenção,
           kEstiloCritico);
  return kRespostaCancelar;
}

// The key of the current database's first header of the document's IE and
// Ref1, if there is one.
std::optional<std::int64_t> Importação::testeDuplicata() {
  QVariant ref1 = e_.Ref1Documento;
  if (ref1.typeId() == QMetaType::QDateTime) ref1 = ref1.toDateTime().date();
  Recordset r = anexo_->abrirAtual("tblQUR", "IE = ? AND date(Ref1) = date(?)", {e_.IEDocumento, ref1});
  if (r.eof()) return std::nullopt;
  return r.value("NroQUR").toLongLong();
}

int Importação::perguntaSobrepor() {
  if (resposta_para_todos_) return *resposta_para_todos_;
  MessageRequest pergunta;
  pergunta.text = QStringLiteral("A Referência: ") + TextoData(e_.Ref1Documento).right(7) +
                  QStringLiteral(" do Contribuinte com IE: ") + e_.IEDocumento.toString() +
                  QStringLiteral(" já existe!\r\n\r\n") +
                  QStringLiteral("Deseja sobrepor todas as informações associadas a esta referência?");
  pergunta.title = kTítuloAtenção;
  pergunta.style = kEstiloCriticoSimNaoCancelar;
  pergunta.check_box = QStringLiteral("Aplicar esta resposta aos próximos documentos");
  gravarLote();
  const MessageReply resposta = host_.dialogs().showMessage(pergunta);
  // Anything but Yes or No leaves the document untouched and stops the run.
  if (resposta.answer != kRespostaSim && resposta.answer != kRespostaNao) return kRespostaCancelar;
  if (resposta.checked) resposta_para_todos_ = resposta.answer;
  return resposta.answer;
}

// Inside the document's savepoint: removes the replaced header (its details
// go with it by the schema's cascade), stores the new one and publishes its
// key in NroQURNovo.
void Importação::cópiaCabeçalho(std::optional<std::int64_t> substituído) {
  if (substituído) {
    Recordset antigo = anexo_->abrirAtual("tblQUR", "NroQUR = ?", {QVariant(static_cast<qlonglong>(*substituído))});
    if (!antigo.eof()) antigo.deleteCurrent();
  }
  Recordset origem = temp_.openRecordset("tblQUR", "NroQUR = ?", {QVariant(e_.NroQURTemp)});
  Recordset destino = anexo_->abrirAtual("tblQUR");
  destino.addNew();
  for (size_t i = 0; i < kCamposCabeçalho.size(); ++i) {
    const std::string_view campo = kCamposCabeçalho[i];
    if (i >= kCamposCabeçalhoObrigatórios && !(destino.hasField(campo) && origem.hasField(campo))) continue;
    destino.setValueFrom(campo, origem, campo);
  }
  destino.update();
  e_.NroQURNovo = ChaveInt32(copiador_->valorGravado("tblQUR", "NroQUR", destino.lastModified()), "the new NroQUR");
  ++documento_.linhasPorTabela["tblQUR"];
}

// The occurrences of the document; the Código the current database gave
// each is read back and noted beside the file's, and their four registers
// follow, one statement per register for the whole document, each row under
// its own occurrence's new Código.
void Importação::cópiaOcorrências(const CópiaTabela& c) {
  copiador_->limparOcorrências();
  const int n = copiador_->copiar(c, e_.NroQURTemp, e_.NroQURNovo);
  if (n == 0) return;
  const Copiador::Anotação anotadas = copiador_->anotarOcorrências(c, "Código", e_.NroQURTemp, e_.NroQURNovo);
  if (anotadas.linhas != n) throw DbError(Status(kErrOther, "the new occurrences' Códigos could not be read back"));
  e_.CódigoOcorrênciaNovo = ChaveInt32(anotadas.último_novo, "the new occurrence's Código");
  e_.CódigoOcorrênciaTemp = ChaveInt32(anotadas.último_velho, "the Código of the file's occurrence");
  documento_.linhasPorTabela[std::string(c.tabela)] += n;
  for (const CópiaTabela* registro : kRegistros) {
    const int linhas = copiador_->copiarRegistros(*registro);
    if (linhas > 0) documento_.linhasPorTabela[std::string(registro->tabela)] += linhas;
  }
}

void Importação::iniciarLote() {
  if (lote_) return;
  lote_.emplace(atual_);
  copiador_->prepararOcorrências();
  // One read transaction on the file for the whole batch: otherwise each of
  // the many small reads locks and unlocks the temporary database and looks
  // for a hot journal beside it.
  if (!EmTransação(temp_)) leitura_.emplace(temp_);
}

void Importação::gravarLote() {
  if (!lote_) return;
  if (!EmTransação(atual_)) {
    // SQLite ends a transaction by itself after some I/O failures: whatever
    // it held is gone, and saying otherwise would report lost documents as
    // stored.
    lote_.reset();
    leitura_.reset();
    pendente_ = ResumoImportação{};
    throw DbError(Status(kErrIo, "the current database abandoned the transaction; the documents imported "
                                 "since the last question were not stored"));
  }
  copiador_->descartarOcorrências();
  lote_->commit();
  lote_.reset();
  if (leitura_) {
    leitura_->commit();
    leitura_.reset();
  }
  Somar(e_.resumo, pendente_);
  pendente_ = ResumoImportação{};
}

void Importação::mensagem(const QString& texto, const QString& título, int estilo) {
  gravarLote();
  host_.dialogs().message(texto, título, estilo);
}

// A register copy asked for by a host: one transaction of its own, or a
// savepoint when it is called from an event handler while a run holds one.
Status GravaRegistroPúblico(EstadoImportação& estado, const CópiaTabela& c) {
  if (!BancosAbertos(estado)) {
    return Status(kErrInvalidOperation, "the temporary and the current database are not open yet: run a check first");
  }
  try {
    Database& atual = *estado.BancoAtual;
    BancoAnexado anexo(atual, *estado.BancoTemp, BancoAnexado::Uso::kAproveitar);
    Copiador copiador(anexo);
    if (EmTransação(atual)) {
      Savepoint unidade(atual, "registro");
      CopiarRegistro(estado, copiador, c);
      unidade.release();
    } else {
      TransaçãoAtual tx(atual);
      CopiarRegistro(estado, copiador, c);
      tx.commit();
    }
  } catch (const DbError& erro) {
    return erro.status();
  } catch (const std::exception& erro) {
    return Status(kErrOther, std::string("copying ") + std::string(c.tabela) + ": " + erro.what());
  }
  return Status::OK();
}

}  // namespace

Status ExecutarImportação(EstadoImportação& estado, const std::vector<ItemLista>& items,
                          AnfitriãoImportação& host) {
  estado.resumo = ResumoImportação{};
  estado.QtdeSelecionados = 0;
  for (const ItemLista& item : items) {
    if (item.selecionado) ++estado.QtdeSelecionados;
  }
  if (estado.QtdeSelecionados == 0) {
    host.dialogs().message(QStringLiteral("Não foi selecionado nenhum documento para ser importado!"),
                           kTítuloAtenção, kEstiloCritico);
    return Status::OK();
  }
  if (!BancosAbertos(estado)) {
    return Status(kErrInvalidOperation, "the temporary and the current database are not open yet: run a check first");
  }
  host.raise(Evento::IniciouImportação);
  Importação importação(estado, host);
  return importação.executar(items);
}

Status GravaIERemetentes(EstadoImportação& estado) { return GravaRegistroPúblico(estado, kCópiaIEsRemetente); }

Status GravaCredAcum(EstadoImportação& estado) { return GravaRegistroPúblico(estado, kCópiaRecibosCredito); }

}  // namespace orlan
