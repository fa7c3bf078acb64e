#include "control/importacao_dialogos.h"

#include <QDate>
#include <QDateTime>

namespace orlan {

namespace {

const QString kTítuloAtenção = QStringLiteral("Atenção!");

// "dd/MM/yyyy" of a date value; other values as their text.
QString TextoData(const QVariant& v) {
  if (v.typeId() == QMetaType::QDate) return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date().toString(QStringLiteral("dd/MM/yyyy"));
  return v.toString();
}

}  // namespace

void ImportaçãoPorDiálogos::avisar(AvisoImportação aviso) {
  switch (aviso) {
    case AvisoImportação::kNadaSelecionado:
      dialogs_.message(QStringLiteral("Não foi selecionado nenhum documento para ser importado!"), kTítuloAtenção,
                        kEstiloCritico);
      break;
    case AvisoImportação::kFalhaCadastro: {
      MessageRequest falha;
      falha.text = QStringLiteral("Erro na atualização do Cadastro (Arquivo Corrompido)!");
      falha.title = kTítuloAtenção;
      falha.style = kEstiloCritico;
      if (estado_ != nullptr && !estado_->FalhaCadastro.ok()) {
        falha.detail = QString::fromStdString(estado_->FalhaCadastro.ToString());
      }
      dialogs_.showMessage(falha);
      break;
    }
    case AvisoImportação::kConcluída:
      dialogs_.message(QStringLiteral("A Importação foi concluída com sucesso."), QStringLiteral("Sucesso!"),
                        kEstiloOk);
      break;
  }
}

DecisãoSobrepor ImportaçãoPorDiálogos::perguntarSobrepor(const QString& ie, const QVariant& ref1) {
  MessageRequest pergunta;
  pergunta.text = QStringLiteral("A Referência: ") + TextoData(ref1).right(7) +
                  QStringLiteral(" do Contribuinte com IE: ") + ie + QStringLiteral(" já existe!\r\n\r\n") +
                  QStringLiteral("Deseja sobrepor todas as informações associadas a esta referência?");
  pergunta.title = kTítuloAtenção;
  pergunta.style = kEstiloCriticoSimNaoCancelar;
  pergunta.check_box = QStringLiteral("Aplicar esta resposta aos próximos documentos");
  const MessageReply resposta = dialogs_.showMessage(pergunta);
  DecisãoSobrepor d;
  d.aplicarAosPróximos = resposta.checked;
  switch (resposta.answer) {
    case kRespostaSim:
      d.resposta = DecisãoSobrepor::Resposta::kSim;
      break;
    case kRespostaNao:
      d.resposta = DecisãoSobrepor::Resposta::kNão;
      break;
    default:
      d.resposta = DecisãoSobrepor::Resposta::kCancelar;
      break;
  }
  return d;
}

std::optional<DecisãoSobrepor::Resposta> ImportaçãoPorDiálogos::respostaConhecida() {
  switch (dialogs_.respostaPrevista()) {
    case kRespostaSim:
      return DecisãoSobrepor::Resposta::kSim;
    case kRespostaNao:
      return DecisãoSobrepor::Resposta::kNão;
    default:
      return std::nullopt;
  }
}

}  // namespace orlan
