#include "import/importacao.h"

#include <QDate>
#include <QDateTime>

#include <memory>
#include <optional>
#include <string>

#include "database/recordset.h"
#include "database/schema.h"

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

  void iniciarLote();
  void gravarLote();
  // Commits what the run holds when the lock is not free at once, then waits
  // for it with nothing else held, so that two runs never wait on each other.
  template <typename Tentar, typename Esperar>
  void bloquear(Tentar tentar, Esperar esperar);
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
};

Status Importação::executar(std::span<const std::int32_t> chaves) {
  Status falha;
  try {
    sessão_ = e_.BancoAtual->abrirSessão(e_.BancoTemp);
    for (const std::int32_t chave : chaves) {
      if (host_.interromper()) {
        gravarLote();
        return Status::OK();
      }
      ++e_.DocumentoEmCurso;
      if (documento(chave) == Seguimento::kParar) {
        gravarLote();
        return Status::OK();
      }
    }
    gravarLote();
  } catch (...) {
    falha = StatusFromCurrentException("A importação parou por uma falha inesperada.");
  }
  if (!falha.ok()) {
    // The document in progress was rolled back as its savepoint unwound;
    // the documents finished before it are kept.
    try {
      if (sessão_) gravarLote();
    } catch (const DbError& erro) {
      return Status(falha.code(), falha.message() + " Depois disso: " + erro.status().message(), falha.detail());
    }
    return falha;
  }
  avisar(AvisoImportação::kConcluída);
  host_.finalizou();
  return Status::OK();
}

Seguimento Importação::documento(std::int32_t chave) {
  e_.NroQURTemp = chave;
  host_.passo();
  {
    Recordset cabeçalho = temp_.openRecordset(schema::kReturnTable, "NroQUR = ?", {QVariant(e_.NroQURTemp)});
    if (cabeçalho.eof()) {
      throw DbError(kErrNoCurrentRecord,
                    "O banco temporário não tem o documento NroQUR " + std::to_string(chave) + ".");
    }
    e_.IEDocumento = cabeçalho.value("IE");
    e_.Ref1Documento = cabeçalho.value("Ref1");
  }

  host_.passo();
  iniciarLote();
  if (cópiaContribuinte() == Resposta::kCancelar) return Seguimento::kParar;

  host_.passo();
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
    if (respondido && existente == respondido) return Destino{Seguimento::kContinuar, true, existente};
    if (resposta_para_todos_) {
      if (*resposta_para_todos_ == Resposta::kSim) return Destino{Seguimento::kContinuar, true, existente};
      ++e_.resumo.ignorados;
      return Destino{Seguimento::kContinuar, false, std::nullopt};
    }
    gravarLote();
    const DecisãoSobrepor decisão = perguntar(ie);
    if (decisão.resposta == Resposta::kCancelar) return Destino{Seguimento::kParar, false, std::nullopt};
    if (decisão.aplicarAosPróximos) resposta_para_todos_ = decisão.resposta;
    if (decisão.resposta == Resposta::kNão) {
      ++e_.resumo.ignorados;
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
    // A lost connection or a lock past the wait is no fault of the file:
    // the run ends with that error, which says what happened.
    if (erro.status().IsConnection() || erro.status().IsLocked() || erro.status().IsRetryable()) throw;
    // Forgotten, so that the next run tries this taxpayer again instead of
    // taking it for copied.
    e_.IEAnterior.clear();
  }
  avisar(AvisoImportação::kFalhaCadastro);
  return Resposta::kCancelar;
}

// Inside the document's savepoint: removes the replaced return (its details
// go with it), stores the new header, publishes its key in NroQURNovo, and
// copies the seven detail tables.
void Importação::armazenar(std::optional<std::int64_t> substituído) {
  documento_ = ResumoImportação{};
  PontoSalvamento unidade(*sessão_, "documento");
  if (substituído) sessão_->apagarRetorno(*substituído);
  e_.NroQURNovo = sessão_->copiarCabeçalho(e_.NroQURTemp);
  ++documento_.linhasPorTabela[std::string(schema::kReturnTable)];
  for (const schema::TableCopy& cópia : schema::ReturnDetailCopies()) {
    host_.passo();
    if (cópia.table == schema::kOccurrenceTable) {
      cópiaOcorrências();
    } else {
      const int n = sessão_->copiarTabela(cópia, e_.NroQURTemp, e_.NroQURNovo);
      if (n > 0) documento_.linhasPorTabela[std::string(cópia.table)] += n;
    }
  }
  unidade.liberar();
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

void Importação::iniciarLote() {
  if (lote_aberto_) return;
  sessão_->iniciar();
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
  esperar();
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
