#include "orlan_cli.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <iostream>
#include <string>

namespace orlan::cli {

namespace {

bool ReferênciaVálida(const QString& ref) {
  static const QRegularExpression re(QStringLiteral("^(0[1-9]|1[0-2])/\\d{4}$"));
  return re.match(ref).hasMatch();
}

}  // namespace

QString TextoDeUso() {
  return QStringLiteral(
      "Uso: orlan-import [opções] ARQUIVO\n"
      "Importa as declarações de um arquivo pré-formatado (.prf) para o banco de dados atual.\n"
      "\n"
      "  --db CAMINHO                    banco de dados atual (padrão: a configuração \"DbAtual\")\n"
      "  --ref MM/AAAA                   referência digitada na caixa de referência (padrão: vazia)\n"
      "  --select all | IE[,IE...]       documentos a selecionar: todos, ou os das IEs dadas (padrão: all)\n"
      "  --overwrite ask|yes|no|cancel   resposta à pergunta de substituição (padrão: ask)\n"
      "  --list                          verifica o arquivo, lista os documentos e não importa nada\n"
      "  --component-dir PASTA           pasta do banco temporário e da cópia de rede\n"
      "  --help                          mostra este texto\n"
      "\n"
      "Saída: 0 importação concluída; 1 interrompida; 2 arquivo inexistente ou rejeitado;\n"
      "3 nada listado ou selecionado; 4 um erro encerrou a execução; 64 uso incorreto.\n");
}

bool LerOpções(const QStringList& args, Opções* opções, QString* erro) {
  *opções = Opções();
  QStringList posicionais;
  bool só_posicionais = false;
  for (int i = 0; i < args.size(); ++i) {
    QString arg = args[i];
    if (só_posicionais || !arg.startsWith(QStringLiteral("--")) || arg == QStringLiteral("-")) {
      posicionais << arg;
      continue;
    }
    if (arg == QStringLiteral("--")) {
      só_posicionais = true;
      continue;
    }
    QString valor;
    bool tem_valor = false;
    if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
      valor = arg.mid(eq + 1);
      arg = arg.left(eq);
      tem_valor = true;
    }
    auto valorDe = [&](QString* out) {
      if (tem_valor) {
        *out = valor;
        return true;
      }
      if (i + 1 >= args.size()) {
        *erro = QStringLiteral("a opção %1 pede um valor").arg(arg);
        return false;
      }
      *out = args[++i];
      return true;
    };
    auto semValor = [&] {
      if (tem_valor) *erro = QStringLiteral("a opção %1 não aceita valor").arg(arg);
      return !tem_valor;
    };

    if (arg == QStringLiteral("--help")) {
      if (!semValor()) return false;
      opções->ajuda = true;
      return true;
    } else if (arg == QStringLiteral("--list")) {
      if (!semValor()) return false;
      opções->listar = true;
    } else if (arg == QStringLiteral("--db")) {
      if (!valorDe(&opções->db)) return false;
      if (opções->db.isEmpty()) {
        *erro = QStringLiteral("--db pede um caminho");
        return false;
      }
    } else if (arg == QStringLiteral("--ref")) {
      if (!valorDe(&opções->ref)) return false;
      if (!opções->ref.isEmpty() && !ReferênciaVálida(opções->ref)) {
        *erro = QStringLiteral("--ref deve ser MM/AAAA, com mês de 01 a 12: \"%1\"").arg(opções->ref);
        return false;
      }
    } else if (arg == QStringLiteral("--select")) {
      QString sel;
      if (!valorDe(&sel)) return false;
      if (sel == QStringLiteral("all")) {
        opções->selecionar_todos = true;
        opções->ies.clear();
      } else {
        opções->selecionar_todos = false;
        opções->ies.clear();
        for (const QString& ie : sel.split(QLatin1Char(','))) {
          const QString t = ie.trimmed();
          if (t.isEmpty()) {
            *erro = QStringLiteral("--select: IE vazia em \"%1\"").arg(sel);
            return false;
          }
          opções->ies << t;
        }
      }
    } else if (arg == QStringLiteral("--overwrite")) {
      QString v;
      if (!valorDe(&v)) return false;
      if (v == QStringLiteral("ask")) {
        opções->sobrescrever = Sobrescrever::kPerguntar;
      } else if (v == QStringLiteral("yes")) {
        opções->sobrescrever = Sobrescrever::kSim;
      } else if (v == QStringLiteral("no")) {
        opções->sobrescrever = Sobrescrever::kNão;
      } else if (v == QStringLiteral("cancel")) {
        opções->sobrescrever = Sobrescrever::kCancelar;
      } else {
        *erro = QStringLiteral("--overwrite deve ser ask, yes, no ou cancel: \"%1\"").arg(v);
        return false;
      }
    } else if (arg == QStringLiteral("--component-dir")) {
      if (!valorDe(&opções->pasta_componente)) return false;
      if (opções->pasta_componente.isEmpty()) {
        *erro = QStringLiteral("--component-dir pede uma pasta");
        return false;
      }
    } else {
      *erro = QStringLiteral("opção desconhecida: %1").arg(arg);
      return false;
    }
  }
  if (posicionais.size() != 1) {
    *erro = posicionais.isEmpty() ? QStringLiteral("falta o ARQUIVO")
                                  : QStringLiteral("um só ARQUIVO, não %1").arg(posicionais.size());
    return false;
  }
  opções->arquivo = posicionais.front();
  return true;
}

ConsoleDialogs::ConsoleDialogs(QString arquivo, Sobrescrever resposta, std::FILE* out, bool terminal)
    : arquivo_(std::move(arquivo)), resposta_(resposta), out_(out), terminal_(terminal) {}

void ConsoleDialogs::imprimir(const QString& text) {
  if (antes_) antes_();
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  const QByteArray bytes = t.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
  std::fflush(out_);
}

MessageReply ConsoleDialogs::showMessage(const MessageRequest& request) {
  imprimir(QStringLiteral("[%1] %2\n").arg(request.title, request.text));
  if (request.style != kEstiloCriticoSimNaoCancelar) return MessageReply{kRespostaOk, false};
  ++perguntas_;
  return perguntar(request);
}

MessageReply ConsoleDialogs::perguntar(const MessageRequest& request) {
  switch (resposta_) {
    case Sobrescrever::kSim:
      imprimir(QStringLiteral("Resposta: Sim\n"));
      return MessageReply{kRespostaSim, false};
    case Sobrescrever::kNão:
      imprimir(QStringLiteral("Resposta: Não\n"));
      return MessageReply{kRespostaNao, false};
    case Sobrescrever::kCancelar:
      imprimir(QStringLiteral("Resposta: Cancelar\n"));
      return MessageReply{kRespostaCancelar, false};
    case Sobrescrever::kPerguntar:
      break;
  }
  if (!terminal_) {
    cancelou_sem_terminal_ = true;
    imprimir(QStringLiteral(
        "Resposta: Cancelar (não há terminal para perguntar; use --overwrite yes, no ou cancel)\n"));
    return MessageReply{kRespostaCancelar, false};
  }
  const bool com_caixa = !request.check_box.isEmpty();
  for (;;) {
    imprimir(com_caixa ? QStringLiteral("s = Sim, n = Não, c = Cancelar; acrescente ! (por exemplo s!) para: %1 [s]: ")
                             .arg(request.check_box)
                       : QStringLiteral("s = Sim, n = Não, c = Cancelar [s]: "));
    std::string line;
    if (!std::getline(std::cin, line)) {
      imprimir(QStringLiteral("\nResposta: Cancelar (fim da entrada)\n"));
      return MessageReply{kRespostaCancelar, false};
    }
    QString a = QString::fromLocal8Bit(line).trimmed().toLower();
    bool marcar = false;
    if (com_caixa && a.endsWith(QLatin1Char('!'))) {
      marcar = true;
      a.chop(1);
      a = a.trimmed();
    }
    if (a.isEmpty() || a == QStringLiteral("s") || a == QStringLiteral("sim") || a == QStringLiteral("y") ||
        a == QStringLiteral("yes")) {
      return MessageReply{kRespostaSim, marcar};
    }
    if (a == QStringLiteral("n") || a == QStringLiteral("não") || a == QStringLiteral("nao") ||
        a == QStringLiteral("no")) {
      return MessageReply{kRespostaNao, marcar};
    }
    if (a == QStringLiteral("c") || a == QStringLiteral("cancelar") || a == QStringLiteral("cancel")) {
      return MessageReply{kRespostaCancelar, marcar};
    }
  }
}

FileDialogReply ConsoleDialogs::openFile(const FileDialogRequest&) {
  // The file is given once: when it turns out not to exist, the control asks
  // again, and that second dialog is the user's Cancel.
  if (++diálogos_ > 1) return FileDialogReply{true, QString()};
  const bool rede = arquivo_.startsWith(QStringLiteral("//")) || arquivo_.startsWith(QStringLiteral("\\\\"));
  return FileDialogReply{false, rede ? arquivo_ : QFileInfo(arquivo_).absoluteFilePath()};
}

}  // namespace orlan::cli
