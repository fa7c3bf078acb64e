#include "import/importacao.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSysInfo>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/schema.h"
#include "database/sqlite/recordset.h"

namespace orlan {

namespace {

using Resposta = DecisãoSobrepor::Resposta;

bool BancosAbertos(const EstadoImportação& e) {
  return e.BancoTemp && e.BancoTemp->isOpen() && e.BancoAtual && e.BancoAtual->aberto();
}

Status BancosFechados() {
  return Status(kErrInvalidOperation,
                "Os bancos de dados ainda não foram abertos: verifique um arquivo pré-formatado primeiro.");
}

QDate DataDe(const QVariant& v) {
  if (v.typeId() == QMetaType::QDate) return v.toDate();
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date();
  return QDate();
}

void Somar(ResumoImportação& total, const ResumoImportação& parte) {
  total.importados += parte.importados;
  total.substituídos += parte.substituídos;
  total.ignorados += parte.ignorados;
  for (const auto& [tabela, n] : parte.linhasPorTabela) total.linhasPorTabela[tabela] += n;
}

enum class Seguimento { kContinuar, kParar };

// Documents copied together at most: enough that the fixed cost of a batch
// (its locks, its savepoint, on a server its round trips) is spread thin,
// few enough that progress events and an interruption are not held back
// for long.
constexpr size_t kDocumentosPorLote = 1000;

// Lock waits (5 s each) in a row during which the holder made no progress
// before a run gives up with 3218: 15 s, longer than a batch statement takes
// on a busy server (one batch shows no progress until it commits).
constexpr int kEsperasSemProgresso = 3;

// A return's identity for the duplicate test: IE without regard to letter
// case, and the day of Ref1.
QString ChaveDocumento(const QString& ie, const QDate& ref1) {
  return ie.toCaseFolded() + QLatin1Char('|') + ref1.toString(Qt::ISODate);
}

// The operating-system user running this process, as the log names it.
QString UsuárioDoSistema() {
  std::vector<char> área(16384);
  passwd pw{};
  passwd* achado = nullptr;
  if (getpwuid_r(geteuid(), &pw, área.data(), área.size(), &achado) == 0 && achado != nullptr) {
    return QString::fromLocal8Bit(achado->pw_name);
  }
  return QString::number(geteuid());
}

// The temporary database's header of a selected document.
struct Cabeçalho {
  bool achado = false;
  QVariant ie;
  QVariant ref1;
};

// A document the planner put in a batch.
struct ItemPlano {
  std::int32_t chave = 0;
  QVariant ie;
  QVariant ref1;
  SessãoCópia::DocumentoLote doc;
};

// One press of Importar.
//
// Atomicity: the run keeps one transaction open on the current database
// across documents and commits it only before it shows anything to the user,
// before it waits for a lock another run holds, after a failure and at the
// end, so the number of commits does not grow with the number of documents.
// Inside it each document (deletion of the replaced return, new header,
// every detail and register row) is one savepoint: a failure or a kill
// leaves the document whole or absent. The taxpayer record is written before
// the document's savepoint, so it stays when the user then declines the
// document.
//
// Concurrency: the test for an existing return, the deletion on Yes and the
// store of the new one happen under one lock on the taxpayer and month,
// held to the commit. The question is asked with no transaction open; after
// the answer the test runs again under the lock, and a return another run
// stored in the meantime counts as existing.
class Importação {
 public:
  Importação(EstadoImportação& estado, AnfitriãoImportação& host)
      : e_(estado), host_(host), temp_(*estado.BancoTemp), hoje_(QDate::currentDate()) {}

  Status executar(std::span<const std::int32_t> chaves);

 private:
  // Reads the headers of the selected documents and, in one query, which of
  // them the current database has already: the planner's guesses, checked
  // again under the locks.
  void preparar(std::span<const std::int32_t> chaves);
  // The documents from `início` on that can go in one batch: no question
  // expected, none repeating another's IE and day. Empty when document
  // `início` must go alone (a question, a header the engine cannot read).
  std::vector<ItemPlano> planejar(std::span<const std::int32_t> chaves, size_t início);
  // Copies a batch, or as much of it as still needs no question under the
  // locks (the rest goes back to the planner) and as the host lets start.
  // Copied in a savepoint; its events follow; it is kept after them.
  // Returns how many documents it took, or nullopt when the run ends. A
  // batch that fails is undone and redone document by document, which finds
  // and reports the document at fault as a run without batches would.
  std::optional<size_t> lote(const std::vector<ItemPlano>& itens);
  // The first `quantos` of `itens` one by one.
  std::optional<size_t> umPorUm(const std::vector<ItemPlano>& itens, size_t quantos);
  // Copies `lote` again, its documents under the keys `antes` gave them.
  SessãoCópia::LoteCopiado copiarDeNovo(std::vector<SessãoCópia::ItemLote>& lote, const SessãoCópia::LoteCopiado& antes);
  // The batch's items for `itens` under the state `estado` read under the
  // locks: as many as still need no question.
  std::vector<SessãoCópia::ItemLote> itensDoLote(const std::vector<ItemPlano>& itens,
                                                 const SessãoCópia::EstadoLote& estado);
  // Raises each document's events with the state a document copied alone
  // shows at each; stops before a document the host stops the run at.
  // Returns how many documents had all their events; `erro` holds what a
  // listener threw, if anything.
  size_t anunciarLote(const std::vector<ItemPlano>& itens, std::span<const SessãoCópia::ItemLote> lote,
                      const SessãoCópia::LoteCopiado& copiado, std::exception_ptr* erro);
  void anunciar(const ItemPlano& item, const SessãoCópia::ItemLote& lote, const SessãoCópia::LoteCopiado& copiado,
                size_t n);
  // The state and counts of a batch that was copied.
  void concluirLote(std::span<const SessãoCópia::ItemLote> lote, const SessãoCópia::LoteCopiado& copiado);
  // The answer an existing return gets without a question, if any.
  std::optional<Resposta> respostaSemPergunta() const {
    return resposta_para_todos_ ? resposta_para_todos_ : resposta_conhecida_;
  }
  void passo() { host_.passo(); }

  Seguimento documento(std::int32_t chave);
  Resposta cópiaContribuinte();
  // The return to replace (nullopt: none), or the end of the document.
  struct Destino {
    Seguimento seguimento = Seguimento::kContinuar;
    bool armazenar = false;
    std::optional<std::int64_t> substituído;
  };
  Destino decidirSobreposição(const QString& ie, const QDate& ref1);
  DecisãoSobrepor perguntar(const QString& ie);
  void armazenar(std::optional<std::int64_t> substituído);
  void cópiaOcorrências();
  // A log line for the document in progress.
  void registrar(ResultadoDocumento resultado, std::optional<std::int64_t> anterior = std::nullopt,
                 std::optional<std::int64_t> novo = std::nullopt);
  // The same for a document that failed: written only if the transaction
  // still takes it, never hiding the failure being reported.
  void registrarFalha() noexcept;

  void iniciarLote();
  void gravarLote();
  // Commits what the run holds when the lock is not free at once, then waits
  // for it with nothing else held, so that two runs never wait on each other.
  template <typename Tentar, typename Esperar>
  void bloquear(Tentar tentar, Esperar esperar);
  // Runs `esperar`, a step that may wait for a lock another user holds, again
  // after each lock wait that ran out: it fails with kErrLocked only after
  // kEsperasSemProgresso waits in a row without progress. The host
  // hears of the wait from the first one that ran out, or at once when
  // `esperando` (the lock is known to be held).
  template <typename Esperar>
  void comEspera(Esperar esperar, bool esperando);
  void avisar(AvisoImportação aviso);

  EstadoImportação& e_;
  AnfitriãoImportação& host_;
  Database& temp_;
  std::unique_ptr<SessãoCópia> sessão_;
  bool lote_aberto_ = false;
  const QDate hoje_;  // DataCadastro of the taxpayers this run adds
  // What the open transaction holds, folded into the run's summary when it
  // is committed.
  ResumoImportação pendente_;
  ResumoImportação documento_;  // the document in progress
  std::optional<DecisãoSobrepor::Resposta> resposta_para_todos_;
  std::optional<DecisãoSobrepor::Resposta> resposta_conhecida_;  // the host's answer given in advance

  OrigemHistórico origem_;
  std::vector<Cabeçalho> cabeçalhos_;  // per selected document
  // Per ChaveDocumento: the current database's return of that IE and day,
  // as last seen; absent when none was seen.
  QHash<QString, std::int64_t> existentes_;
  bool interrompido_ = false;           // the host asked to stop
  bool em_documento_ = false;           // a document was started and has no log line yet
};

Status Importação::executar(std::span<const std::int32_t> chaves) {
  Status falha;
  try {
    sessão_ = e_.BancoAtual->abrirSessão(e_.BancoTemp);
    preparar(chaves);
    size_t i = 0;
    while (i < chaves.size() && !interrompido_) {
      const std::vector<ItemPlano> itens = planejar(chaves, i);
      if (itens.empty()) {
        if (host_.interromper()) break;
        ++e_.DocumentoEmCurso;
        if (documento(chaves[i]) == Seguimento::kParar) break;
        ++i;
        continue;
      }
      const std::optional<size_t> feitos = lote(itens);
      if (!feitos) break;
      i += *feitos;
    }
    gravarLote();
    if (i < chaves.size()) return Status::OK();
  } catch (...) {
    falha = StatusFromCurrentException("A importação parou por uma falha inesperada.");
  }
  if (!falha.ok()) {
    // The document in progress was rolled back as its savepoint unwound;
    // the documents finished before it are kept.
    try {
      if (sessão_) {
        registrarFalha();
        gravarLote();
      }
    } catch (const DbError& erro) {
      return Status(falha.code(), falha.message() + " Depois disso: " + erro.status().message(), falha.detail());
    }
    return falha;
  }
  avisar(AvisoImportação::kConcluída);
  host_.finalizou();
  return Status::OK();
}

void Importação::preparar(std::span<const std::int32_t> chaves) {
  const std::optional<Resposta> conhecida = host_.respostaConhecida();
  if (conhecida == Resposta::kSim || conhecida == Resposta::kNão) resposta_conhecida_ = conhecida;
  origem_.execução = QUuid::createUuid().toString(QUuid::WithoutBraces);
  origem_.usuário = UsuárioDoSistema();
  origem_.máquina = QSysInfo::machineHostName();
  origem_.arquivo = e_.ArquivoOrigem;
  origem_.sha256 = e_.Sha256Origem;
  origem_.restauração = e_.RestauraçãoOrigem;

  QHash<std::int32_t, size_t> posição;
  for (size_t i = 0; i < chaves.size(); ++i) posição.insert(chaves[i], i);
  cabeçalhos_.assign(chaves.size(), Cabeçalho{});
  {
    Recordset r = temp_.openQuery("SELECT NroQUR, IE, Ref1 FROM tblQUR");
    for (; !r.eof(); r.moveNext()) {
      const auto onde = posição.constFind(static_cast<std::int32_t>(r.value("NroQUR").toLongLong()));
      if (onde == posição.constEnd()) continue;
      cabeçalhos_[*onde] = Cabeçalho{true, r.value("IE"), r.value("Ref1")};
    }
  }
  // Keys selected twice share one header.
  for (size_t i = 0; i < chaves.size(); ++i) {
    if (!cabeçalhos_[i].achado) cabeçalhos_[i] = cabeçalhos_[posição.value(chaves[i])];
  }
  std::vector<SessãoCópia::DocumentoLote> docs;
  for (const Cabeçalho& c : cabeçalhos_) {
    if (c.achado && !c.ie.isNull() && DataDe(c.ref1).isValid()) {
      docs.push_back(SessãoCópia::DocumentoLote{0, c.ie.toString(), DataDe(c.ref1)});
    }
  }
  std::vector<std::optional<std::int64_t>> existentes;
  try {
    comEspera([&] { existentes = sessão_->retornosExistentes(docs); }, false);
  } catch (const DbError& erro) {
    // A lock held without progress ends the run now; any other fault only
    // spoils a guess: the documents meet it where a run without batches
    // meets it, and report it the same way.
    if (erro.status().IsLocked()) throw;
  }
  for (size_t i = 0; i < docs.size() && i < existentes.size(); ++i) {
    if (existentes[i]) existentes_.insert(ChaveDocumento(docs[i].ie, docs[i].ref1), *existentes[i]);
  }
}

std::vector<ItemPlano> Importação::planejar(std::span<const std::int32_t> chaves, size_t início) {
  std::vector<ItemPlano> itens;
  QSet<QString> no_lote;
  for (size_t j = início; j < chaves.size() && itens.size() < kDocumentosPorLote; ++j) {
    const Cabeçalho& c = cabeçalhos_[j];
    const QDate ref1 = DataDe(c.ref1);
    if (!c.achado || c.ie.isNull() || c.ie.toString().isEmpty() || !ref1.isValid()) break;
    const QString ie = c.ie.toString();
    const QString chave = ChaveDocumento(ie, ref1);
    // A second return of the same IE and day finds the first one stored:
    // it waits for the next batch, or its question.
    if (no_lote.contains(chave)) break;
    if (existentes_.contains(chave) && !respostaSemPergunta()) break;
    no_lote.insert(chave);
    itens.push_back(ItemPlano{chaves[j], c.ie, c.ref1, SessãoCópia::DocumentoLote{chaves[j], ie, ref1}});
  }
  return itens;
}

std::optional<size_t> Importação::lote(const std::vector<ItemPlano>& itens) {
  iniciarLote();
  std::vector<SessãoCópia::DocumentoLote> docs;
  for (const ItemPlano& it : itens) docs.push_back(it.doc);
  std::optional<SessãoCópia::EstadoLote> estado;
  try {
    comEspera([&] { estado = sessão_->bloquearLote(docs, false); }, false);
    if (!estado) {
      // Another clerk holds some of the locks: wait for them with nothing
      // else held, for as long as that clerk makes progress.
      gravarLote();
      iniciarLote();
      comEspera([&] { estado = sessão_->bloquearLote(docs, true); }, true);
    }
  } catch (const DbError& erro) {
    // The documents one by one meet the same fault where a run without
    // batches meets it, and report it the same way; a lock held without
    // progress ends the run now.
    if (erro.status().IsLocked() || !sessão_->emTransação()) throw;
    return umPorUm(itens, itens.size());
  }
  std::vector<SessãoCópia::ItemLote> lote = itensDoLote(itens, *estado);
  if (lote.empty()) return 0;

  std::optional<PontoSalvamento> ponto;
  ponto.emplace(*sessão_, "lote");
  SessãoCópia::LoteCopiado copiado;
  try {
    copiado = sessão_->copiarLote(lote, origem_, hoje_);
  } catch (const DbError&) {
    ponto.reset();
    // With the transaction gone there is nothing to redo in.
    if (!sessão_->emTransação()) throw;
    return umPorUm(itens, lote.size());
  }

  std::exception_ptr erro;
  const size_t anunciados = anunciarLote(itens, lote, copiado, &erro);
  if (anunciados < lote.size()) {
    // Only the documents whose events were all raised stay, under the keys
    // those events showed.
    ponto.reset();
    lote.resize(anunciados);
    if (!lote.empty()) {
      ponto.emplace(*sessão_, "lote");
      copiado = copiarDeNovo(lote, copiado);
    }
  }
  if (ponto) {
    const int contribuintes = sessão_->copiarContribuintes(lote, hoje_);
    if (contribuintes > 0) copiado.linhas[std::string(schema::kTaxpayerTable)] += contribuintes;
    ponto->liberar();
  }
  concluirLote(lote, copiado);
  // The run's end for a failure logs the document cut and commits.
  if (erro) std::rethrow_exception(erro);
  // Each batch is committed: another clerk waits for its locks one batch
  // long, never a whole run.
  gravarLote();
  return lote.size();
}

SessãoCópia::LoteCopiado Importação::copiarDeNovo(std::vector<SessãoCópia::ItemLote>& lote,
                                                  const SessãoCópia::LoteCopiado& antes) {
  for (size_t n = 0; n < lote.size(); ++n) {
    lote[n].novo = antes.novos[n];
    lote[n].códigosOcorrências.clear();
    for (const auto& [temp, novo] : antes.ocorrências[n]) lote[n].códigosOcorrências.push_back(novo);
  }
  SessãoCópia::LoteCopiado copiado = sessão_->copiarLote(lote, origem_, hoje_);
  for (size_t n = 0; n < lote.size(); ++n) {
    if (copiado.novos[n] != antes.novos[n] || copiado.ocorrências[n] != antes.ocorrências[n]) {
      throw DbError(kErrOther, "As chaves dos documentos mudaram ao copiar o lote de novo.");
    }
  }
  return copiado;
}

std::vector<SessãoCópia::ItemLote> Importação::itensDoLote(const std::vector<ItemPlano>& itens,
                                                          const SessãoCópia::EstadoLote& estado) {
  std::vector<SessãoCópia::ItemLote> lote;
  QSet<QString> contribuintes;
  QString anterior = e_.IEAnterior.toCaseFolded();
  for (size_t n = 0; n < itens.size(); ++n) {
    const SessãoCópia::DocumentoLote& d = itens[n].doc;
    const QString chave = ChaveDocumento(d.ie, d.ref1);
    const std::optional<std::int64_t> existente = estado.existentes[n];
    if (existente) {
      existentes_.insert(chave, *existente);
    } else {
      existentes_.remove(chave);
    }
    SessãoCópia::ItemLote item;
    item.doc = d;
    if (existente) {
      // Stored by someone else since the run began: asked about as usual.
      const std::optional<Resposta> resposta = respostaSemPergunta();
      if (!resposta) break;
      item.armazenar = *resposta == Resposta::kSim;
      if (item.armazenar) item.substituir = existente;
    }
    // As a document alone: the taxpayer of the same IE as the previous
    // document counts as copied; any other is stored unless it is there.
    const QString dobrado = d.ie.toCaseFolded();
    item.copiarContribuinte = dobrado != anterior && !contribuintes.contains(dobrado);
    contribuintes.insert(dobrado);
    anterior = dobrado;
    lote.push_back(item);
  }
  return lote;
}

size_t Importação::anunciarLote(const std::vector<ItemPlano>& itens, std::span<const SessãoCópia::ItemLote> lote,
                                const SessãoCópia::LoteCopiado& copiado, std::exception_ptr* erro) {
  size_t n = 0;
  try {
    for (; n < lote.size(); ++n) {
      if (host_.interromper()) {
        interrompido_ = true;
        break;
      }
      anunciar(itens[n], lote[n], copiado, n);
    }
  } catch (...) {
    // The document whose events were cut goes, as its savepoint would take
    // it alone; the ones before it stay.
    *erro = std::current_exception();
  }
  return n;
}

std::optional<size_t> Importação::umPorUm(const std::vector<ItemPlano>& itens, size_t quantos) {
  for (size_t n = 0; n < quantos; ++n) {
    if (host_.interromper()) {
      interrompido_ = true;
      return n;
    }
    ++e_.DocumentoEmCurso;
    if (documento(itens[n].chave) == Seguimento::kParar) return std::nullopt;
  }
  return quantos;
}

void Importação::anunciar(const ItemPlano& item, const SessãoCópia::ItemLote& lote,
                          const SessãoCópia::LoteCopiado& copiado, size_t n) {
  ++e_.DocumentoEmCurso;
  e_.NroQURTemp = item.chave;
  host_.passo();
  e_.IEDocumento = item.ie;
  e_.Ref1Documento = item.ref1;
  // Until its events end, a failure is logged against it, as against a
  // document copied alone.
  em_documento_ = true;
  host_.passo();
  if (e_.IEAnterior.isEmpty() || item.doc.ie.compare(e_.IEAnterior, Qt::CaseInsensitive) != 0) {
    e_.IEAnterior = item.doc.ie;
  }
  host_.passo();
  const bool existia = lote.substituir || !lote.armazenar;
  // The host answers as it said it would; only "apply to the next" skips
  // the question.
  if (existia && !resposta_para_todos_) perguntar(item.doc.ie);
  if (!lote.armazenar) {
    em_documento_ = false;
    return;
  }
  e_.NroQURNovo = copiado.novos[n];
  const auto& ocorrências = copiado.ocorrências[n];
  for (const schema::TableCopy& cópia : schema::ReturnDetailCopies()) {
    host_.passo();
    if (cópia.table == schema::kOccurrenceTable && !ocorrências.empty()) {
      e_.CódigoOcorrênciaTemp = ocorrências.back().first;
      e_.CódigoOcorrênciaNovo = ocorrências.back().second;
    }
  }
  em_documento_ = false;
}

void Importação::concluirLote(std::span<const SessãoCópia::ItemLote> lote, const SessãoCópia::LoteCopiado& copiado) {
  for (size_t n = 0; n < lote.size(); ++n) {
    const SessãoCópia::ItemLote& item = lote[n];
    if (!item.armazenar) {
      ++e_.resumo.ignorados;
      continue;
    }
    existentes_.insert(ChaveDocumento(item.doc.ie, item.doc.ref1), copiado.novos[n]);
    if (item.substituir) {
      ++pendente_.substituídos;
    } else {
      ++pendente_.importados;
    }
  }
  for (const auto& [tabela, n] : copiado.linhas) pendente_.linhasPorTabela[tabela] += n;
}

Seguimento Importação::documento(std::int32_t chave) {
  e_.NroQURTemp = chave;
  passo();
  {
    Recordset cabeçalho = temp_.openRecordset(schema::kReturnTable, "NroQUR = ?", {QVariant(e_.NroQURTemp)});
    if (cabeçalho.eof()) throw DocumentoFaltaNoTemporário(chave);
    e_.IEDocumento = cabeçalho.value("IE");
    e_.Ref1Documento = cabeçalho.value("Ref1");
  }
  em_documento_ = true;

  passo();
  iniciarLote();
  if (cópiaContribuinte() == Resposta::kCancelar) return Seguimento::kParar;

  passo();
  const QString ie = e_.IEDocumento.toString();
  const Destino destino = decidirSobreposição(ie, DataDe(e_.Ref1Documento));
  if (!destino.armazenar) return destino.seguimento;
  armazenar(destino.substituído);
  return Seguimento::kContinuar;
}

Importação::Destino Importação::decidirSobreposição(const QString& ie, const QDate& ref1) {
  std::optional<std::int64_t> respondido;  // the return a Yes was given about, with the lock let go
  for (;;) {
    iniciarLote();
    bloquear([&] { return sessão_->tentarBloquearDocumento(ie, ref1); },
             [&] { sessão_->bloquearDocumento(ie, ref1); });
    const std::optional<std::int64_t> existente = sessão_->retornoExistente(ie, ref1);
    if (!existente) return Destino{Seguimento::kContinuar, true, std::nullopt};
    existentes_.insert(ChaveDocumento(ie, ref1), *existente);
    if (respondido && existente == respondido) return Destino{Seguimento::kContinuar, true, existente};
    if (resposta_para_todos_) {
      if (*resposta_para_todos_ == Resposta::kSim) return Destino{Seguimento::kContinuar, true, existente};
      ++e_.resumo.ignorados;
      registrar(ResultadoDocumento::kIgnorado);
      return Destino{Seguimento::kContinuar, false, std::nullopt};
    }
    gravarLote();
    const DecisãoSobrepor decisão = perguntar(ie);
    if (decisão.resposta == Resposta::kCancelar) {
      iniciarLote();
      registrar(ResultadoDocumento::kIgnorado);
      return Destino{Seguimento::kParar, false, std::nullopt};
    }
    if (decisão.aplicarAosPróximos) resposta_para_todos_ = decisão.resposta;
    if (decisão.resposta == Resposta::kNão) {
      ++e_.resumo.ignorados;
      iniciarLote();
      registrar(ResultadoDocumento::kIgnorado);
      return Destino{Seguimento::kContinuar, false, std::nullopt};
    }
    // Yes: the test runs again under the lock; a return another run stored
    // in the meantime is asked about anew.
    respondido = existente;
  }
}

DecisãoSobrepor Importação::perguntar(const QString& ie) {
  const DecisãoSobrepor d = host_.perguntarSobrepor(ie, e_.Ref1Documento);
  // Anything but Yes or No leaves the document untouched and stops the run.
  if (d.resposta != Resposta::kSim && d.resposta != Resposta::kNão) return DecisãoSobrepor{};
  return d;
}

// Gives back Sim (stored, or the same taxpayer as the previous call), Não
// (already in the current database) or Cancelar (failed; the user was told).
Resposta Importação::cópiaContribuinte() {
  const bool nulo = !e_.IEDocumento.isValid() || e_.IEDocumento.isNull();
  if (!nulo && e_.IEDocumento.toString().compare(e_.IEAnterior, Qt::CaseInsensitive) == 0 &&
      !e_.IEAnterior.isEmpty()) {
    return Resposta::kSim;
  }
  try {
    if (nulo) throw DbError(kErrRequiredNull, "O documento não tem IE.");
    const QString ie = e_.IEDocumento.toString();
    e_.IEAnterior = ie;
    bloquear([&] { return sessão_->tentarBloquearContribuinte(ie); },
             [&] { sessão_->bloquearContribuinte(ie); });
    // Already there: the same answer as the unique key's refusal, without
    // building the record.
    if (sessão_->temContribuinte(ie)) return Resposta::kNão;
    sessão_->copiarContribuinte(ie, hoje_);
    ++pendente_.linhasPorTabela[std::string(schema::kTaxpayerTable)];
    return Resposta::kSim;
  } catch (const DbError& erro) {
    if (erro.status().IsDuplicateKey()) return Resposta::kNão;
    // A lost connection, a lock past the wait or a transaction the engine
    // gave up (a full disk) is no fault of the file: the run ends with that
    // error, which says what happened.
    if (erro.status().IsConnection() || erro.status().IsLocked() || erro.status().IsRetryable() ||
        !sessão_->emTransação()) {
      throw;
    }
    // Forgotten, so that the next run tries this taxpayer again instead of
    // taking it for copied.
    e_.IEAnterior.clear();
    e_.FalhaCadastro = erro.status();
  }
  registrarFalha();
  avisar(AvisoImportação::kFalhaCadastro);
  return Resposta::kCancelar;
}

// Inside the document's savepoint: removes the replaced return (its details
// go with it), stores the new header, publishes its key in NroQURNovo,
// copies the seven detail tables, and writes the log line.
void Importação::armazenar(std::optional<std::int64_t> substituído) {
  documento_ = ResumoImportação{};
  PontoSalvamento unidade(*sessão_, "documento");
  if (substituído) sessão_->apagarRetorno(*substituído);
  e_.NroQURNovo = sessão_->copiarCabeçalho(e_.NroQURTemp);
  ++documento_.linhasPorTabela[std::string(schema::kReturnTable)];
  for (const schema::TableCopy& cópia : schema::ReturnDetailCopies()) {
    passo();
    if (cópia.table == schema::kOccurrenceTable) {
      cópiaOcorrências();
    } else {
      const int n = sessão_->copiarTabela(cópia, e_.NroQURTemp, e_.NroQURNovo);
      if (n > 0) documento_.linhasPorTabela[std::string(cópia.table)] += n;
    }
  }
  registrar(ResultadoDoItem(origem_, true, substituído.has_value()), substituído, e_.NroQURNovo);
  unidade.liberar();
  existentes_.insert(ChaveDocumento(e_.IEDocumento.toString(), DataDe(e_.Ref1Documento)), e_.NroQURNovo);
  if (substituído) {
    ++documento_.substituídos;
  } else {
    ++documento_.importados;
  }
  Somar(pendente_, documento_);
}

// The occurrences of the document, each one's four registers under its own
// new Código. The occurrence keys end holding the last occurrence's.
void Importação::cópiaOcorrências() {
  const SessãoCópia::Ocorrências o = sessão_->copiarOcorrências(e_.NroQURTemp, e_.NroQURNovo);
  if (o.linhas == 0) return;
  e_.CódigoOcorrênciaNovo = o.últimoCódigoNovo;
  e_.CódigoOcorrênciaTemp = o.últimoCódigoTemp;
  documento_.linhasPorTabela[std::string(schema::kOccurrenceTable)] += o.linhas;
  for (const auto& [tabela, n] : o.registros) documento_.linhasPorTabela[tabela] += n;
}

void Importação::registrar(ResultadoDocumento resultado, std::optional<std::int64_t> anterior,
                           std::optional<std::int64_t> novo) {
  LinhaHistórico linha;
  linha.ie = e_.IEDocumento.toString();
  linha.ref1 = DataDe(e_.Ref1Documento);
  linha.resultado = resultado;
  linha.anterior = anterior;
  linha.novo = novo;
  sessão_->registrarHistórico(origem_, linha);
  em_documento_ = false;
}

void Importação::registrarFalha() noexcept {
  if (!em_documento_) return;
  em_documento_ = false;
  try {
    if (!lote_aberto_ || !sessão_->emTransação()) return;
    PontoSalvamento ponto(*sessão_, "registro");
    registrar(ResultadoDocumento::kFalhou);
    ponto.liberar();
  } catch (...) {
    // The failure being reported says more than the log could.
  }
}

void Importação::iniciarLote() {
  if (lote_aberto_) return;
  // A file is written by one connection at a time: another clerk's batch
  // holds it until that batch commits.
  comEspera([this] { sessão_->iniciar(); }, false);
  lote_aberto_ = true;
}

void Importação::gravarLote() {
  if (!lote_aberto_) return;
  lote_aberto_ = false;
  try {
    // The session refuses a transaction its engine abandoned (after some
    // I/O failures, a lost connection): what it held is not counted.
    sessão_->confirmar();
  } catch (...) {
    pendente_ = ResumoImportação{};
    throw;
  }
  Somar(e_.resumo, pendente_);
  pendente_ = ResumoImportação{};
}

template <typename Tentar, typename Esperar>
void Importação::bloquear(Tentar tentar, Esperar esperar) {
  if (tentar()) return;
  gravarLote();
  iniciarLote();
  comEspera(esperar, true);
}

template <typename Esperar>
void Importação::comEspera(Esperar esperar, bool esperando) {
  // Tells the host when the wait ends, however it ends.
  struct Aviso {
    explicit Aviso(AnfitriãoImportação& h) : host(h) { host.aguardando(true); }
    ~Aviso() {
      try {
        host.aguardando(false);
      } catch (...) {
        // The run's own outcome is what the host hears next.
      }
    }
    AnfitriãoImportação& host;
  };
  std::optional<Aviso> aviso;
  if (esperando) aviso.emplace(host_);
  std::vector<std::string> marco = sessão_->marcoAlheio();
  int sem_progresso = 0;
  for (;;) {
    try {
      esperar();
      return;
    } catch (const DbError& e) {
      if (!e.status().IsLocked()) throw;
      std::vector<std::string> agora = sessão_->marcoAlheio();
      const bool avançou = std::any_of(marco.begin(), marco.end(), [&](const std::string& m) {
        return std::find(agora.begin(), agora.end(), m) == agora.end();
      });
      sem_progresso = avançou ? 0 : sem_progresso + 1;
      if (sem_progresso >= kEsperasSemProgresso) throw;
      marco = std::move(agora);
      if (!aviso) aviso.emplace(host_);
    }
  }
}

void Importação::avisar(AvisoImportação aviso) {
  gravarLote();
  host_.avisar(aviso);
}

// A register copy asked for by a host: one transaction of its own.
Status GravaRegistroPúblico(EstadoImportação& estado, std::string_view tabela) {
  if (estado.EmExecução) {
    return Status(kErrBusy, "Uma importação está em andamento; a cópia de " + std::string(tabela) +
                                " pode ser pedida quando ela terminar.");
  }
  if (!BancosAbertos(estado)) return BancosFechados();
  try {
    std::unique_ptr<SessãoCópia> sessão = estado.BancoAtual->abrirSessão(estado.BancoTemp);
    sessão->iniciar();
    sessão->copiarTabela(schema::CopyOf(tabela), estado.CódigoOcorrênciaTemp, estado.CódigoOcorrênciaNovo);
    sessão->confirmar();
  } catch (...) {
    return StatusFromCurrentException("A cópia de " + std::string(tabela) + " parou por uma falha inesperada.");
  }
  return Status::OK();
}

}  // namespace

Status ExecutarImportação(EstadoImportação& estado, std::span<const std::int32_t> chaves, AnfitriãoImportação& host) {
  estado.resumo = ResumoImportação{};
  estado.QtdeSelecionados = static_cast<std::int32_t>(chaves.size());
  estado.DocumentoEmCurso = 0;
  if (chaves.empty()) {
    host.avisar(AvisoImportação::kNadaSelecionado);
    return Status::OK();
  }
  if (!BancosAbertos(estado)) return BancosFechados();
  if (estado.EmExecução) return Status(kErrBusy, "Uma importação já está em andamento.");
  estado.EmExecução = true;
  Status s;
  try {
    host.iniciou();
    Importação importação(estado, host);
    s = importação.executar(chaves);
  } catch (...) {
    s = StatusFromCurrentException("A importação parou por uma falha inesperada.");
  }
  estado.EmExecução = false;
  estado.DocumentoEmCurso = 0;
  return s;
}

Status GravaIERemetentes(EstadoImportação& estado) { return GravaRegistroPúblico(estado, "tblIEsRemetente"); }

Status GravaCredAcum(EstadoImportação& estado) { return GravaRegistroPúblico(estado, "tblRecibosCredito"); }

}  // namespace orlan
