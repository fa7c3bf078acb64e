#include "orlan_cli.h"

#include <QCommandLineOption>
#include <QFileInfo>
#include <QRegularExpression>
#include <iostream>
#include <string>

#include "database/banco_atual.h"
#include "linha_de_comando.h"

namespace orlan::cli {

namespace {

bool ReferênciaVálida(const QString& ref) {
  static const QRegularExpression re(QStringLiteral("^(0[1-9]|1[0-2])/\\d{4}$"));
  return re.match(ref).hasMatch();
}

}  // namespace

std::optional<int> LerOpções(const QStringList& args, Opções* opções) {
  *opções = Opções();
  LinhaDeComando linha(
      QStringLiteral("orlan-import"),
      QStringLiteral("[opções] ARQUIVO  ou  orlan-import [opções] --restore ID  ou  "
                     "orlan-import [--db CAMINHO] --history N  ou  orlan-import [--db CAMINHO] --ref-limit AAAA  ou  "
                     "orlan-import [--db CAMINHO] --prune-archive AAAA-MM-DD"),
      QStringLiteral("Importa as declarações de um arquivo pré-formatado (.prf) para o banco de dados atual,\n"
                     "restaura uma declaração substituída, mostra o histórico das últimas importações desse banco,\n"
                     "muda o seu ano limite, ou remove do arquivo as declarações substituídas há muito tempo."));
  linha.adicionarArgumento(QStringLiteral("ARQUIVO"), QStringLiteral("o arquivo pré-formatado"));
  const QCommandLineOption db(
      QStringLiteral("db"),
      QStringLiteral("banco de dados atual, só nesta execução: um arquivo SQLite ou "
                     "postgresql://usuário@servidor/banco (padrão: a configuração \"DbAtual\")"),
      QStringLiteral("CAMINHO"));
  const QCommandLineOption ref(QStringLiteral("ref"),
                               QStringLiteral("referência digitada na caixa de referência (padrão: vazia)"),
                               QStringLiteral("MM/AAAA"));
  const QCommandLineOption selecionar(
      QStringLiteral("select"), QStringLiteral("documentos a selecionar: todos, ou os das IEs dadas (padrão: all)"),
      QStringLiteral("all|IE[,IE...]"));
  const QCommandLineOption sobrescrever(QStringLiteral("overwrite"),
                                        QStringLiteral("resposta à pergunta de substituição (padrão: ask)"),
                                        QStringLiteral("ask|yes|no|cancel"));
  const QCommandLineOption listar(
      QStringLiteral("list"),
      QStringLiteral("verifica o arquivo, lista os documentos selecionados e não importa nada"));
  const QCommandLineOption simular(
      QStringLiteral("dry-run"),
      QStringLiteral("verifica o arquivo e lista os documentos selecionados com o que a importação faria "
                     "(novo ou existe), sem gravar nada"));
  const QCommandLineOption pasta(QStringLiteral("component-dir"),
                                 QStringLiteral("pasta do banco temporário e da cópia de rede"),
                                 QStringLiteral("PASTA"));
  const QCommandLineOption histórico(
      QStringLiteral("history"),
      QStringLiteral("mostra as N últimas importações registradas no banco atual e não importa nada"),
      QStringLiteral("N"));
  const QCommandLineOption limite(
      QStringLiteral("ref-limit"),
      QStringLiteral("muda o ano limite das referências do banco atual (tblPerola.RefLimite) para AAAA e não "
                     "importa nada"),
      QStringLiteral("AAAA"));
  const QCommandLineOption restaurar(
      QStringLiteral("restore"),
      QStringLiteral("restaura a declaração substituída que o histórico mostra com esse ID (no lugar de ARQUIVO), "
                     "com a mesma pergunta e as mesmas respostas de uma importação"),
      QStringLiteral("ID"));
  const QCommandLineOption podar(
      QStringLiteral("prune-archive"),
      QStringLiteral("remove do arquivo do banco atual as declarações substituídas antes desse dia (o histórico "
                     "fica) e não importa nada"),
      QStringLiteral("AAAA-MM-DD"));
  for (const QCommandLineOption& o :
       {db, ref, selecionar, sobrescrever, listar, simular, pasta, histórico, limite, restaurar, podar}) {
    linha.adicionar(o);
  }
  linha.setRodapé(QStringLiteral(
      "--history imprime uma linha por documento, da importação mais recente à mais antiga, com os campos\n"
      "separados por tabulações: momento (UTC), usuário, máquina, arquivo, SHA-256 do arquivo, IE, referência\n"
      "(AAAA-MM-DD), resultado (importado, substituído, ignorado, falhou, restaurado ou apagado), NroQUR\n"
      "anterior, NroQUR novo, login no servidor (vazio num arquivo) e o ID com que --restore traz de volta a\n"
      "declaração substituída (vazio quando não há o que restaurar).\n\n"
      "A lista só mostra as declarações até o ano limite do banco atual; --ref-limit o muda (num arquivo ou\n"
      "num servidor PostgreSQL) e imprime o novo e o anterior.\n\n"
      "Saída: 0 importação concluída (ou lista ou histórico impresso, ou ano limite mudado); 1 interrompida; 2 arquivo inexistente ou\n"
      "rejeitado; 3 nada listado ou selecionado (também: histórico vazio, banco sem histórico, ou ID que o arquivo\n"
      "não tem);\n"
      "4 um erro encerrou a execução (também: a saída não pôde ser gravada); 64 uso incorreto;\n"
      "129, 130, 143 interrompida por SIGHUP, SIGINT, SIGTERM.\n"));
  if (const auto status = linha.analisar(args)) return status;
  const QCommandLineParser& p = linha.parser();

  // --history, --ref-limit and --prune-archive work on the current
  // database alone: no file, no import option, no other of them. --restore
  // reads no file and no reference.
  const std::pair<QCommandLineOption, std::vector<QCommandLineOption>> exclusivas[] = {
      {histórico, {ref, selecionar, sobrescrever, listar, simular, pasta, limite, restaurar, podar}},
      {limite, {ref, selecionar, sobrescrever, listar, simular, pasta, histórico, restaurar, podar}},
      {podar, {ref, selecionar, sobrescrever, listar, simular, pasta, histórico, limite, restaurar}},
      {restaurar, {ref, histórico, limite, podar}}};
  for (const auto& [só, outras] : exclusivas) {
    if (!p.isSet(só)) continue;
    const QString nome = só.names().front();
    for (const QCommandLineOption& o : outras) {
      if (p.isSet(o)) return linha.erroDeUso(QStringLiteral("--%1 não se combina com --%2").arg(nome, o.names().front()));
    }
    if (!p.positionalArguments().isEmpty()) {
      return linha.erroDeUso(QStringLiteral("--%1 não lê ARQUIVO: \"%2\"").arg(nome, p.positionalArguments().front()));
    }
  }
  if (p.isSet(restaurar)) {
    static const QRegularExpression só_algarismos(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    const QString id = p.value(restaurar);
    opções->restaurar = id.toLongLong(&ok);
    if (!só_algarismos.match(id).hasMatch() || !ok || opções->restaurar <= 0) {
      return linha.erroDeUso(QStringLiteral("--restore pede o ID que o histórico mostra: \"%1\"").arg(id));
    }
  }
  if (p.isSet(podar)) {
    const QString dia = p.value(podar);
    static const QRegularExpression data(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    opções->podarAntes = QDate::fromString(dia, Qt::ISODate);
    if (!data.match(dia).hasMatch() || !opções->podarAntes.isValid()) {
      return linha.erroDeUso(QStringLiteral("--prune-archive pede um dia AAAA-MM-DD: \"%1\"").arg(dia));
    }
  }
  if (p.isSet(histórico)) {
    const QString n = p.value(histórico);
    static const QRegularExpression só_algarismos(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    const int execuções = n.toInt(&ok);
    if (!só_algarismos.match(n).hasMatch() || !ok || execuções <= 0) {
      return linha.erroDeUso(QStringLiteral("--history pede um número inteiro positivo: \"%1\"").arg(n));
    }
    opções->histórico = execuções;
  }
  if (p.isSet(limite)) {
    opções->refLimite = p.value(limite);
    if (!ÉAnoLimite(opções->refLimite)) {
      return linha.erroDeUso(
          QStringLiteral("--ref-limit deve ser um ano de quatro dígitos: \"%1\"").arg(opções->refLimite));
    }
  }

  if (p.isSet(db)) {
    opções->db = p.value(db);
    if (opções->db.isEmpty()) return linha.erroDeUso(QStringLiteral("--db pede um caminho"));
  }
  opções->ref = p.value(ref);
  if (!opções->ref.isEmpty() && !ReferênciaVálida(opções->ref)) {
    return linha.erroDeUso(QStringLiteral("--ref deve ser MM/AAAA, com mês de 01 a 12: \"%1\"").arg(opções->ref));
  }
  if (p.isSet(selecionar) && p.value(selecionar) != QStringLiteral("all")) {
    const QString sel = p.value(selecionar);
    opções->selecionar_todos = false;
    for (const QString& ie : sel.split(QLatin1Char(','))) {
      const QString t = ie.trimmed();
      if (t.isEmpty()) return linha.erroDeUso(QStringLiteral("--select: IE vazia em \"%1\"").arg(sel));
      opções->ies << t;
    }
  }
  if (p.isSet(sobrescrever)) {
    const QString v = p.value(sobrescrever);
    if (v == QStringLiteral("ask")) {
      opções->sobrescrever = Sobrescrever::kPerguntar;
    } else if (v == QStringLiteral("yes")) {
      opções->sobrescrever = Sobrescrever::kSim;
    } else if (v == QStringLiteral("no")) {
      opções->sobrescrever = Sobrescrever::kNão;
    } else if (v == QStringLiteral("cancel")) {
      opções->sobrescrever = Sobrescrever::kCancelar;
    } else {
      return linha.erroDeUso(QStringLiteral("--overwrite deve ser ask, yes, no ou cancel: \"%1\"").arg(v));
    }
  }
  opções->listar = p.isSet(listar);
  opções->simular = p.isSet(simular);
  if (p.isSet(pasta)) {
    opções->pasta_componente = p.value(pasta);
    if (opções->pasta_componente.isEmpty()) return linha.erroDeUso(QStringLiteral("--component-dir pede uma pasta"));
  }
  if (opções->histórico > 0 || !opções->refLimite.isEmpty() || opções->restaurar > 0 || opções->podarAntes.isValid()) {
    return std::nullopt;
  }
  const QStringList posicionais = p.positionalArguments();
  if (posicionais.size() != 1) {
    return linha.erroDeUso(posicionais.isEmpty() ? QStringLiteral("falta o ARQUIVO")
                                                 : QStringLiteral("um só ARQUIVO, não %1").arg(posicionais.size()));
  }
  opções->arquivo = posicionais.front();
  return std::nullopt;
}

std::optional<MessageReply> LerResposta(const QString& linha, bool com_caixa) {
  QString a = linha.trimmed().toLower();
  bool marcar = false;
  if (com_caixa && a.endsWith(QLatin1Char('!'))) {
    marcar = true;
    a.chop(1);
    a = a.trimmed();
  }
  static const QStringList sim = {QStringLiteral("s"), QStringLiteral("sim"), QStringLiteral("y"),
                                  QStringLiteral("yes")};
  static const QStringList não = {QStringLiteral("n"), QStringLiteral("não"), QStringLiteral("nao"),
                                  QStringLiteral("no")};
  static const QStringList cancelar = {QStringLiteral("c"), QStringLiteral("cancelar"), QStringLiteral("cancel")};
  if (sim.contains(a)) return MessageReply{kRespostaSim, marcar};
  if (não.contains(a)) return MessageReply{kRespostaNao, marcar};
  if (cancelar.contains(a)) return MessageReply{kRespostaCancelar, marcar};
  return std::nullopt;
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
  if (!request.detail.isEmpty()) imprimir(request.detail + QLatin1Char('\n'));
  if (request.style != kEstiloCriticoSimNaoCancelar) return MessageReply{kRespostaOk, false};
  return perguntar(request);
}

int ConsoleDialogs::respostaPrevista() const {
  switch (resposta_) {
    case Sobrescrever::kSim:
      return kRespostaSim;
    case Sobrescrever::kNão:
      return kRespostaNao;
    case Sobrescrever::kCancelar:
    case Sobrescrever::kPerguntar:
      break;
  }
  return 0;
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
    imprimir(
        QStringLiteral("Resposta: Cancelar (não há terminal para perguntar; use --overwrite yes, no ou cancel)\n"));
    return MessageReply{kRespostaCancelar, false};
  }
  const bool com_caixa = !request.check_box.isEmpty();
  const QString aceitas = com_caixa
                              ? QStringLiteral("s = Sim, n = Não, c = Cancelar; acrescente ! (por exemplo s!) para: %1")
                                    .arg(request.check_box)
                              : QStringLiteral("s = Sim, n = Não, c = Cancelar");
  imprimir(aceitas + QStringLiteral(": "));
  for (;;) {
    std::string line;
    if (!std::getline(std::cin, line)) {
      imprimir(QStringLiteral("\nResposta: Cancelar (fim da entrada)\n"));
      return MessageReply{kRespostaCancelar, false};
    }
    const QString digitada = QString::fromLocal8Bit(line);
    if (const std::optional<MessageReply> reply = LerResposta(digitada, com_caixa)) return *reply;
    imprimir((digitada.trimmed().isEmpty()
                  ? QStringLiteral("Nenhuma resposta. Responda ")
                  : QStringLiteral("Resposta não aceita: \"%1\". Responda ").arg(digitada.trimmed())) +
             aceitas + QStringLiteral(": "));
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
