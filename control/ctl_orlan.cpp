#include "control/ctl_orlan.h"

#include <dlfcn.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include "database/recordset.h"
#include "database/schema.h"

namespace orlan {

namespace {

const QString kTítuloAtenção = QStringLiteral("Atenção!");
const QString kFiltroTodos = QStringLiteral("'*'");

// Month abbreviations in Portuguese capitals, for the semester label.
const char* const kMeses[] = {"JAN", "FEV", "MAR", "ABR", "MAI", "JUN",
                              "JUL", "AGO", "SET", "OUT", "NOV", "DEZ"};

QString RótuloSemestre(const QDate& ref2) {
  const int m = ref2.month();
  if (m < 1 || m > 12) return QString();
  return QString::fromLatin1(kMeses[m - 1]) + (m <= 6 ? QStringLiteral("/JUN") : QStringLiteral("/DEZ"));
}

QDate DataDe(const QVariant& v) {
  if (v.typeId() == QMetaType::QDate) return v.toDate();
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date();
  return QDate();
}

// The Ref1 that a filter text selects: "'*'" selects every Ref1 (invalid
// date); "#20/MM/YYYY#" selects that day; a date selects itself.
QDate DataDoFiltro(const QVariant& filtro) {
  if (filtro.typeId() == QMetaType::QDate) return filtro.toDate();
  static const QRegularExpression literal(QStringLiteral("^#(\\d{2})/(\\d{2})/(\\d{4})#$"));
  const QRegularExpressionMatch m = literal.match(filtro.toString());
  if (!m.hasMatch()) return QDate();
  return QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
}

[[noreturn]] void ErroDeArquivo(const QString& doing) {
  throw DbError(Status(kErrIo, doing.toStdString()));
}

}  // namespace

QString PastaComponentePadrão() {
  Dl_info info{};
  QString folder;
  if (dladdr(reinterpret_cast<void*>(&PastaComponentePadrão), &info) != 0 && info.dli_fname != nullptr) {
    folder = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
  }
  if (!folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0) return folder;
  // A system-wide install is not writable: each user gets a folder of their own.
  folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/VmbOrlan");
  QDir().mkpath(folder);
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return folder;
}

const char* NomeEvento(Evento e) {
  switch (e) {
    case Evento::Fechar:
      return "Fechar";
    case Evento::IniciouLeitura:
      return "IniciouLeitura";
    case Evento::NoMeio:
      return "NoMeio";
    case Evento::FinalizouLeitura:
      return "FinalizouLeitura";
    case Evento::IniciouImportação:
      return "IniciouImportação";
    case Evento::FinalizouImportação:
      return "FinalizouImportação";
  }
  return "?";
}

ctlOrlan::ctlOrlan(Dialogs* dialogs) : dialogs_(dialogs), pasta_(PastaComponentePadrão()) {}

ctlOrlan::~ctlOrlan() = default;

QString ctlOrlan::caminhoBancoTemp() const { return pasta_ + QStringLiteral("/BDTempPrf.fix"); }

QString ctlOrlan::caminhoCópiaRede() const { return pasta_ + QStringLiteral("/Prefor_Qur.trm"); }

void ctlOrlan::raise(Evento evento) {
  if (ouvinte_ != nullptr) ouvinte_->onEvento(evento);
}

DatabaseOpener& ctlOrlan::abridor() {
  if (!abridor_) abridor_ = std::make_unique<DatabaseOpener>(dialogs_);
  return *abridor_;
}

Status ctlOrlan::guarded(const std::function<void()>& work) {
  Status status;
  try {
    work();
    return Status::OK();
  } catch (const DbError& e) {
    status = e.status();
  } catch (const std::exception& e) {
    status = Status(kErrOther, e.what());
  }
  dialogs_->message(QString::fromStdString(status.ToString()), kTítuloAtenção, kEstiloCritico);
  return status;
}

// --- handlers -------------------------------------------------------------

Status ctlOrlan::cmdFim_Click() {
  raise(Evento::Fechar);
  return Status::OK();
}

Status ctlOrlan::butSelecionarArquivo_Click() {
  return guarded([this] {
    CaminhoBancoAtual = LerCaminhoBancoAtual();
    if (!estado_.BancoAtual) estado_.BancoAtual = abridor().OpenDatabase(CaminhoBancoAtual);
    itens_.clear();
    for (;;) {
      ArquivoPre = passoDiálogoArquivo();
      if (ArquivoPre.isEmpty()) return;
      const QFileInfo escolhido(ArquivoPre);
      if (escolhido.exists() && !escolhido.isDir()) break;
      dialogs_->message(QStringLiteral("O nome do arquivo não existe!\r\n\r\n"
                                       "Selecione um arquivo existente para a importação do arquivo Pré-formatado!"),
                        kTítuloAtenção, kEstiloCritico);
    }
    execuçãoVerificação();
  });
}

QString ctlOrlan::passoDiálogoArquivo() {
  // Any failure here (the user's Cancel included) ends the step with no name
  // and no message.
  const QString cópia = caminhoCópiaRede();
  if (QFileInfo::exists(cópia) && !QFile::remove(cópia)) return QString();

  FileDialogRequest pedido;
  pedido.filters = {{QStringLiteral("Todos os arquivos (*.*)"), QStringLiteral("*.*")},
                    {QStringLiteral("(*.prf)"), QStringLiteral("*.prf")},
                    {QStringLiteral(" (*.prf)"), QStringLiteral("*.prf")}};
  pedido.filter_index = 3;
  pedido.hide_read_only = true;
  pedido.file_name = nome_diálogo_;
  const FileDialogReply resposta = dialogs_->openFile(pedido);
  if (resposta.cancelled) return QString();

  nome_diálogo_ = resposta.path;
  txt_arq_pre_ = resposta.path;
  const bool rede = resposta.path.startsWith(QStringLiteral("\\\\")) || resposta.path.startsWith(QStringLiteral("//"));
  if (!rede) return resposta.path;
  QDir().mkpath(pasta_);
  if (!QFile::copy(resposta.path, cópia)) return QString();
  // The copy holds taxpayers' data: its owner alone may read it.
  QFile::setPermissions(cópia, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  return cópia;
}

void ctlOrlan::execuçãoVerificação() {
  raise(Evento::IniciouLeitura);
  const QString temp = caminhoBancoTemp();
  if (QFileInfo::exists(temp)) {
    estado_.BancoTemp = abridor().OpenDatabase(temp);
    if (estado_.BancoTemp) abridor().CloseDatabase(temp);
    if (!QFile::remove(temp)) ErroDeArquivo(QStringLiteral("não foi possível apagar o banco temporário ") + temp);
  }
  raise(Evento::NoMeio);

  QDir().mkpath(pasta_);
  cons_pre_ = std::make_unique<ConsPre>(static_cast<OuvinteConsPre*>(this), dialogs_, temp);
  cons_pre_->SetInputFile(ArquivoPre);
  resultado_verificação_ = cons_pre_->RunCheck();
  if (resultado_verificação_ == kVerificaçãoAceita) {
    raise(Evento::NoMeio);
    if (!abridor().IsDatabaseOpen(temp)) estado_.BancoTemp = abridor().OpenDatabase(temp);
    importar_habilitado_ = true;
    raise(Evento::NoMeio);
    criarColunas();
    raise(Evento::NoMeio);
    // The reference handler stores the box's filter; one fill follows in any case.
    Ref1Filtro();
    preencherLista();
    if (foco_ref_) foco_ref_();
    raise(Evento::NoMeio);
  }
  raise(Evento::FinalizouLeitura);
}

void ctlOrlan::ConsPre_Progresso() { raise(Evento::NoMeio); }

void ctlOrlan::ConsPre_Fechar() { abridor().CloseDatabase(caminhoBancoTemp()); }

// --- the list -------------------------------------------------------------

void ctlOrlan::criarColunas() {
  if (ColunasCriadas) return;
  ColunasCriadas = true;
  colunas_ = {{QStringLiteral("Inscrição Estadual"), 1600},
              {QStringLiteral("Razão Social"), 6800},
              {QStringLiteral("Referência"), 1700},
              {QStringLiteral("NroQUR"), 0}};
  largura_lista_ = colunas_[0].larguraTwips + colunas_[1].larguraTwips + colunas_[2].larguraTwips + 90;
}

void ctlOrlan::preencherLista() {
  if (!estado_.BancoTemp || !estado_.BancoAtual) return;
  itens_.clear();

  // One row per document with a Ref1. A file may repeat a taxpayer's record;
  // the first one names the document, so that no document is listed twice.
  std::string sql =
      "SELECT q.IE AS IE, "
      "(SELECT c.\"RazãoSocial\" FROM tblContribuinte c WHERE c.IE = q.IE ORDER BY c.Id LIMIT 1) AS \"RazãoSocial\", "
      "q.RegTrib AS RegTrib, q.NroQUR AS NroQUR, q.Ref1 AS Ref1, q.Ref2 AS Ref2 "
      "FROM tblQUR q "
      "WHERE q.Ref1 IS NOT NULL AND EXISTS (SELECT 1 FROM tblContribuinte c WHERE c.IE = q.IE)";
  Params params;
  const QDate filtro = DataDoFiltro(estado_.Ref1Documento);
  if (filtro.isValid()) {
    sql += " AND q.Ref1 = ?";
    params.push_back(filtro);
  }
  sql += " ORDER BY substr(q.IE, -1), q.IE, q.NroQUR";

  Recordset documentos = estado_.BancoTemp->openQuery(sql, params);
  Recordset perola = estado_.BancoAtual->openRecordset(schema::kLimitTable);
  bool limite_lido = false;
  QVariant limite;
  for (; !documentos.eof(); documentos.moveNext()) {
    if (!limite_lido) {
      if (perola.eof()) {
        dialogs_->message(QStringLiteral("O banco de dados atual não tem o ano limite de referência "
                                         "(a tabela tblPerola não tem registro).\r\n\r\n"
                                         "Nenhum documento pode ser listado."),
                          kTítuloAtenção, kEstiloCritico);
        break;
      }
      limite = perola.value("RefLimite");
      limite_lido = true;
    }
    const QDate ref1 = DataDe(documentos.value("Ref1"));
    if (!ref1.isValid()) {
      throw DbError(Status(kErrOther, "o documento NroQUR " + documentos.value("NroQUR").toString().toStdString() +
                                          " do banco temporário tem uma Ref1 que não é data"));
    }
    const QString ano = ref1.toString(QStringLiteral("yyyy"));
    if (!limite.isNull() && ano > limite.toString()) continue;

    ItemLista item;
    item.colunas[0] = documentos.value("IE").toString();
    item.colunas[1] = documentos.value("RazãoSocial").toString();
    QString referência = ref1.toString(QStringLiteral("MM/yyyy"));
    if (documentos.value("RegTrib").toString() == QLatin1String("02")) {
      const QDate ref2 = DataDe(documentos.value("Ref2"));
      if (ref2.isValid()) referência += QStringLiteral(" (") + RótuloSemestre(ref2) + QStringLiteral(")");
    }
    item.colunas[2] = referência;
    item.colunas[3] = QString::number(documentos.value("NroQUR").toLongLong());
    itens_.push_back(std::move(item));
  }
  limparSeleção();
}

void ctlOrlan::limparSeleção() {
  if (!estado_.BancoAtual) return;
  for (ItemLista& item : itens_) item.selecionado = false;
}

void ctlOrlan::selecionarItem(int index, bool selected) {
  if (index >= 0 && index < static_cast<int>(itens_.size())) itens_[index].selecionado = selected;
}

// --- the reference box ----------------------------------------------------

QString ctlOrlan::txtRefEntrada() const {
  QString digits;
  for (QChar c : txt_ref_) {
    if (c.isDigit()) digits += c;
  }
  return digits;
}

bool ctlOrlan::Ref1Filtro() {
  const QVariant antigo = estado_.Ref1Documento;
  const QString entrada = txtRefEntrada();
  const QVariant novo = entrada.isEmpty() ? QVariant(kFiltroTodos)
                                          : QVariant(QStringLiteral("#20/") + txt_ref_ + QStringLiteral("#"));
  estado_.Ref1Documento = novo;
  return novo != antigo;
}

void ctlOrlan::tratarReferência() {
  if (Ref1Filtro()) preencherLista();
}

Status ctlOrlan::txtRef_Alterar(const QString& shown) {
  txt_ref_ = shown.isEmpty() ? QStringLiteral("__/____") : shown;
  Status s = txtRef_PrimeiraNotificação();
  if (!s.ok()) return s;
  return txtRef_SegundaNotificação();
}

Status ctlOrlan::txtRef_PrimeiraNotificação() {
  return guarded([this] { limparSeleção(); });
}

Status ctlOrlan::txtRef_SegundaNotificação() {
  // Only an empty box or a whole, valid month makes a filter; anything in
  // between is a reference still being typed.
  const QString entrada = txtRefEntrada();
  if (!entrada.isEmpty()) {
    static const QRegularExpression completo(QStringLiteral("^(\\d{2})/(\\d{4})$"));
    const QRegularExpressionMatch m = completo.match(txt_ref_);
    if (!m.hasMatch()) return Status::OK();
    const int mês = m.captured(1).toInt();
    if (mês < 1 || mês > 12) return Status::OK();
  }
  return guarded([this] { tratarReferência(); });
}

// --- import -----------------------------------------------------------------

Status ctlOrlan::butImportar_Click() {
  Status s;
  try {
    s = ExecutarImportação(estado_, itens_, static_cast<AnfitriãoImportação&>(*this));
  } catch (const DbError& e) {
    s = e.status();
  } catch (const std::exception& e) {
    s = Status(kErrOther, e.what());
  }
  if (!s.ok()) dialogs_->message(QString::fromStdString(s.ToString()), kTítuloAtenção, kEstiloCritico);
  return s;
}

Status ctlOrlan::GravaIERemetentes() { return orlan::GravaIERemetentes(estado_); }

Status ctlOrlan::GravaCredAcum() { return orlan::GravaCredAcum(estado_); }

}  // namespace orlan
