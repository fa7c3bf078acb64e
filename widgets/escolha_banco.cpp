#include "widgets/escolha_banco.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "control/configuracao.h"
#include "database/banco_atual.h"

namespace orlan {

QString NomeParaGuardar(const QString& nome) {
  return ÉEndereçoServidor(nome) ? NomeSemSenha(nome) : QFileInfo(nome).absoluteFilePath();
}

Status VerificarBancoAtual(const QString& nome) {
  std::shared_ptr<BancoAtual> banco;
  return AbrirBancoAtual(nome, &banco);
}

QString TextoBancoNãoTrocado(const QString& nome, const Status& motivo) {
  return QStringLiteral("O banco de dados atual não foi trocado: \"%1\" não pôde ser aberto.\n\n%2")
      .arg(NomeParaGuardar(nome), QString::fromStdString(motivo.ToString()));
}

void GravarBancoAtual(const QString& nome) { GravarCaminhoBancoAtual(NomeParaGuardar(nome)); }

DiálogoBancoAtual::DiálogoBancoAtual(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Banco de dados atual"));
  const QString atual = LerCaminhoBancoAtual();
  por_arquivo_ = new QRadioButton(QStringLiteral("&Arquivo:"), this);
  arquivo_ = new QLineEdit(ÉEndereçoServidor(atual) ? QString() : atual, this);
  arquivo_->setObjectName(QStringLiteral("arquivo"));
  auto* procurar = new QPushButton(QStringLiteral("..."), this);
  por_servidor_ = new QRadioButton(QStringLiteral("&Servidor PostgreSQL:"), this);
  endereço_ = new QLineEdit(ÉEndereçoServidor(atual) ? atual : QString(), this);
  endereço_->setObjectName(QStringLiteral("endereco"));
  endereço_->setPlaceholderText(QStringLiteral("postgresql://usuário@servidor:5432/banco"));
  (ÉEndereçoServidor(atual) ? por_servidor_ : por_arquivo_)->setChecked(true);
  auto* botões = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  auto* grade = new QGridLayout(this);
  grade->addWidget(por_arquivo_, 0, 0);
  grade->addWidget(arquivo_, 0, 1);
  grade->addWidget(procurar, 0, 2);
  grade->addWidget(por_servidor_, 1, 0);
  grade->addWidget(endereço_, 1, 1, 1, 2);
  grade->addWidget(botões, 2, 0, 1, 3);
  grade->setColumnMinimumWidth(1, fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);

  connect(procurar, &QPushButton::clicked, this, [this] { procurarArquivo(); });
  connect(arquivo_, &QLineEdit::textEdited, this, [this] { por_arquivo_->setChecked(true); });
  connect(endereço_, &QLineEdit::textEdited, this, [this] { por_servidor_->setChecked(true); });
  connect(botões, &QDialogButtonBox::accepted, this, [this] { verificar(); });
  connect(botões, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString DiálogoBancoAtual::nome() const {
  return (por_servidor_->isChecked() ? endereço_ : arquivo_)->text().trimmed();
}

void DiálogoBancoAtual::procurarArquivo() {
  const QString atual = arquivo_->text();
  const QString path = QFileDialog::getOpenFileName(
      this, QStringLiteral("Banco de dados atual"), atual.isEmpty() ? QDir::homePath() : QFileInfo(atual).path(),
      QStringLiteral("Bancos de dados (*.db *.mdb *.sqlite);;Todos os arquivos (*)"));
  if (path.isEmpty()) return;
  arquivo_->setText(QDir::toNativeSeparators(path));
  por_arquivo_->setChecked(true);
}

void DiálogoBancoAtual::verificar() {
  const Status s = VerificarBancoAtual(nome());
  if (s.ok()) {
    accept();
    return;
  }
  QMessageBox::warning(this, QStringLiteral("Atenção!"), TextoBancoNãoTrocado(nome(), s));
}

}  // namespace orlan
