#include "checker/analisador_prf.h"

#include <charconv>
#include <cstring>

namespace orlan::prf {

namespace {

using schema::FieldType;
using schema::Parent;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Windows-1252 bytes 0x80 to 0x9F; the five bytes the code page leaves
// undefined map to the C1 control of the same number, as Windows does.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool Controle(unsigned char c) { return c < 0x20 || c == 0x7F; }
bool Dígito(char c) { return c >= '0' && c <= '9'; }
bool Alfanumérico(char c) { return Dígito(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IEVálida(std::string_view s) {
  if (s.empty() || s.size() > 14) return false;
  for (char c : s) {
    if (!Alfanumérico(c)) return false;
  }
  return true;
}

int Número(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
  return v;
}

bool Dígitos(const char* p, int n) {
  for (int i = 0; i < n; ++i) {
    if (!Dígito(p[i])) return false;
  }
  return true;
}

int DiasDoMês(int mês, int ano) {
  static constexpr int kDias[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mês == 2 && ((ano % 4 == 0 && ano % 100 != 0) || ano % 400 == 0)) return 29;
  return kDias[mês - 1];
}

void Escrever(char* out, int v, int largura) {
  for (int i = largura - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

// "dd/mm/yyyy" -> "yyyy-mm-dd" in out[0..10). Empty message when valid.
const char* LerData(std::string_view s, char* out) {
  if (s.size() != 10 || s[2] != '/' || s[5] != '/' || !Dígitos(s.data(), 2) || !Dígitos(s.data() + 3, 2) ||
      !Dígitos(s.data() + 6, 4)) {
    return "data fora do formato dd/mm/aaaa";
  }
  const int dia = Número(s.data(), 2);
  const int mês = Número(s.data() + 3, 2);
  const int ano = Número(s.data() + 6, 4);
  if (ano < 1900 || ano > 2099) return "ano fora do intervalo 1900 a 2099";
  if (mês < 1 || mês > 12) return "mês inexistente";
  if (dia < 1 || dia > DiasDoMês(mês, ano)) return "dia inexistente no mês";
  Escrever(out, ano, 4);
  out[4] = '-';
  Escrever(out + 5, mês, 2);
  out[7] = '-';
  Escrever(out + 8, dia, 2);
  return nullptr;
}

// "dd/mm/yyyy[ hh:mm:ss]" -> "yyyy-mm-dd[ hh:mm:ss]".
const char* LerDataHora(std::string_view s, char* out, std::size_t* tamanho) {
  if (s.size() == 10) {
    *tamanho = 10;
    return LerData(s, out);
  }
  if (s.size() != 19 || s[10] != ' ' || s[13] != ':' || s[16] != ':' || !Dígitos(s.data() + 11, 2) ||
      !Dígitos(s.data() + 14, 2) || !Dígitos(s.data() + 17, 2)) {
    return "data e hora fora do formato dd/mm/aaaa ou dd/mm/aaaa hh:mm:ss";
  }
  if (const char* erro = LerData(s.substr(0, 10), out)) return erro;
  const int h = Número(s.data() + 11, 2);
  const int m = Número(s.data() + 14, 2);
  const int seg = Número(s.data() + 17, 2);
  if (h > 23 || m > 59 || seg > 59) return "hora inexistente";
  out[10] = ' ';
  std::memcpy(out + 11, s.data() + 11, 8);
  *tamanho = 19;
  return nullptr;
}

// "mm/yyyy" -> "yyyy-mm-20".
const char* LerMês(std::string_view s, char* out) {
  if (s.size() != 7 || s[2] != '/' || !Dígitos(s.data(), 2) || !Dígitos(s.data() + 3, 4)) {
    return "mês de referência fora do formato mm/aaaa";
  }
  const int mês = Número(s.data(), 2);
  const int ano = Número(s.data() + 3, 4);
  if (ano < 1900 || ano > 2099) return "ano fora do intervalo 1900 a 2099";
  if (mês < 1 || mês > 12) return "mês inexistente";
  Escrever(out, ano, 4);
  out[4] = '-';
  Escrever(out + 5, mês, 2);
  std::memcpy(out + 7, "-20", 3);
  return nullptr;
}

// An amount is stored as a REAL, which holds every decimal of up to 15
// significant digits exactly (it reads back as the same decimal); a longer
// one would be stored as a neighbour, so it is refused rather than changed.
constexpr std::size_t kMáximoSignificativos = 15;

// The significant digits of a well-formed number: its digits without the
// leading zeros of the integer part and the trailing zeros of the decimals.
std::size_t Significativos(std::string_view inteiros, std::string_view decimais) {
  while (!inteiros.empty() && inteiros.front() == '0') inteiros.remove_prefix(1);
  while (!decimais.empty() && decimais.back() == '0') decimais.remove_suffix(1);
  return inteiros.size() + decimais.size();
}

// Checks a number and reads it into `v`. Returns the fault, or null when the
// number is valid; a fault whose text is composed (a well-formed number with
// too many digits) is kept in `mensagem`, which the result then points into.
const char* LerNúmero(std::string_view s, double* v, std::string* mensagem) {
  constexpr const char* kFormato = "número fora do formato (1 a 15 algarismos, ponto e até 4 decimais)";
  std::size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  const std::size_t início = i;
  while (i < s.size() && Dígito(s[i])) ++i;
  const std::string_view inteiros = s.substr(início, i - início);
  if (inteiros.empty() || inteiros.size() > 15) return kFormato;
  std::string_view decimais;
  if (i < s.size()) {
    if (s[i] != '.') return kFormato;
    decimais = s.substr(i + 1);
    if (decimais.empty() || decimais.size() > 4 || !Dígitos(decimais.data(), static_cast<int>(decimais.size()))) {
      return kFormato;
    }
  }
  const std::size_t significativos = Significativos(inteiros, decimais);
  if (significativos > kMáximoSignificativos) {
    *mensagem = "número com " + std::to_string(significativos) + " algarismos significativos; o máximo é " +
                std::to_string(kMáximoSignificativos);
    return mensagem->c_str();
  }
  if (inteiros.size() + decimais.size() <= 15) {
    // All the digits as one integer, below 2^53 and so exact in a double, as
    // is any power of ten up to 10^4; IEEE division rounds correctly, so the
    // quotient is the very double from_chars would give, at a fraction of
    // its cost.
    std::uint64_t algarismos = 0;
    for (char c : inteiros) algarismos = algarismos * 10 + static_cast<unsigned>(c - '0');
    for (char c : decimais) algarismos = algarismos * 10 + static_cast<unsigned>(c - '0');
    static constexpr double kPotências[] = {1, 10, 100, 1000, 10000};
    const double valor = static_cast<double>(algarismos) / kPotências[decimais.size()];
    *v = s[0] == '-' ? -valor : valor;
    return nullptr;
  }
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return "número ilegível";
  return nullptr;
}

void AcrescentarUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A printable rendering of an unknown record code for a message.
std::string Exibível(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 30)) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u >= 0x20 && u < 0x7F ? c : '?');
  }
  if (s.size() > 30) out += "...";
  return out;
}

const char* NomeTipo(FieldType t) {
  switch (t) {
    case FieldType::kText: return "texto";
    case FieldType::kIE: return "IE";
    case FieldType::kDate: return "data";
    case FieldType::kDateTime: return "data e hora";
    case FieldType::kMonth: return "mês de referência";
    case FieldType::kNumber: return "número";
    case FieldType::kBoolean: return "valor lógico";
  }
  return "";
}

}  // namespace

bool Utf8Válido(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* fim = p + s.size();
  while (p < fim) {
    // Plain ASCII runs are the common case: test eight bytes at a time.
    while (fim - p >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p, 8);
      if (w & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p >= fim) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int n;
    char32_t cp;
    char32_t mínimo;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F, mínimo = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F, mínimo = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07, mínimo = 0x10000;
    } else {
      return false;
    }
    if (fim - p <= n) return false;
    for (int i = 1; i <= n; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < mínimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += n + 1;
  }
  return true;
}

Analisador::Analisador(Codificação codificação, ConjuntoIE* ies, Destino* destino)
    : codificação_(codificação), ies_(ies), destino_(destino) {
  resto_.reserve(kMáximoLinha);
  // Each Windows-1252 byte becomes at most three UTF-8 bytes.
  convertido_.reserve(3 * kMáximoLinha + 16);
}

void Analisador::FalharNaLinha(std::int64_t linha, std::string_view campo, std::string mensagem) {
  ++total_falhas_;
  if (falhas_.size() < kMáximoFalhas) falhas_.push_back(FalhaArquivo{linha, std::string(campo), std::move(mensagem)});
}

void Analisador::Falhar(std::string_view campo, std::string mensagem) {
  FalharNaLinha(linha_, campo, std::move(mensagem));
}

bool Analisador::Alimentar(const char* p, std::size_t n) {
  if (utf8_inválido_ || terminou_) return !utf8_inválido_;
  if (n > 0) iniciou_ = true;
  while (n > 0) {
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
    const std::size_t até = lf != nullptr ? static_cast<std::size_t>(lf - p) : n;
    if (descartando_) {
      // The rest of a line already reported as too long.
      if (lf == nullptr) return true;
      descartando_ = false;
    } else if (lf == nullptr) {
      if (resto_.size() + até > kMáximoLinha) {
        LinhaLongaDemais();
        resto_.clear();
        descartando_ = true;
      } else {
        resto_.append(p, até);
      }
      return true;
    } else if (!resto_.empty()) {
      if (resto_.size() + até > kMáximoLinha) {
        LinhaLongaDemais();
      } else {
        resto_.append(p, até);
        ProcessarLinha(resto_.data(), resto_.size(), true);
      }
      resto_.clear();
    } else if (até > kMáximoLinha) {
      LinhaLongaDemais();
    } else {
      ProcessarLinha(p, até, true);
    }
    if (utf8_inválido_) return false;
    p += até + 1;
    n -= até + 1;
  }
  return true;
}

bool Analisador::Terminar() {
  if (utf8_inválido_ || terminou_) return !utf8_inválido_;
  terminou_ = true;
  if (!iniciou_ || (linha_ == 0 && codificação_ == Codificação::kUtf8 && resto_ == kBom)) {
    vazio_ = true;
    FalharNaLinha(0, {}, "o arquivo está vazio");
    return true;
  }
  if (!resto_.empty() && !descartando_) {
    // A last line without a line end. A CR here is no line end: it stays in
    // the line and is reported as a control character.
    ProcessarLinha(resto_.data(), resto_.size(), false);
    resto_.clear();
    if (utf8_inválido_) return false;
  }
  if (linha_fim_ == 0) {
    FalharNaLinha(linha_, {}, "o arquivo não termina com a linha FIM: está incompleto");
  } else if (contagem_fim_ >= 0 && contagem_fim_ != linha_) {
    FalharNaLinha(linha_fim_, "linhas",
                  "FIM informa " + std::to_string(contagem_fim_) + " linhas, mas o arquivo tem " +
                      std::to_string(linha_) + ": está incompleto ou alterado");
  }
  return true;
}

void Analisador::LinhaLongaDemais() {
  ++linha_;
  Falhar({}, "linha com mais de " + std::to_string(kMáximoLinha) + " bytes");
}

void Analisador::ProcessarLinha(const char* p, std::size_t n, bool com_lf) {
  ++linha_;
  convertido_.clear();
  if (com_lf && n > 0 && p[n - 1] == '\r') --n;
  std::string_view linha(p, n);
  if (codificação_ == Codificação::kUtf8) {
    if (!Utf8Válido(linha)) {
      utf8_inválido_ = true;
      linha_utf8_inválido_ = linha_;
      return;
    }
    if (linha_ == 1 && linha.starts_with(kBom)) linha.remove_prefix(kBom.size());
  } else if (linha_ == 1 && linha.starts_with(kBom)) {
    Falhar({}, "o arquivo começa com a marca de UTF-8, mas não é UTF-8 válido" +
                   (linha_utf8_anterior_ > 0 ? " (linha " + std::to_string(linha_utf8_anterior_) + ")"
                                             : std::string()));
    return;
  }
  if (linha.empty()) {
    Falhar({}, "linha vazia");
    return;
  }
  if (linha_fim_ != 0 && !depois_do_fim_) {
    depois_do_fim_ = true;
    Falhar({}, "há linhas depois da linha FIM");
  }

  std::array<std::string_view, kMáximoCampos + 1> campos;
  std::size_t total = 0;  // fields after the code
  std::string_view código;
  {
    const char* q = linha.data();
    const char* fim = q + linha.size();
    const auto* barra = static_cast<const char*>(std::memchr(q, '|', linha.size()));
    código = std::string_view(q, barra != nullptr ? static_cast<std::size_t>(barra - q) : linha.size());
    while (barra != nullptr) {
      q = barra + 1;
      barra = static_cast<const char*>(std::memchr(q, '|', static_cast<std::size_t>(fim - q)));
      const std::string_view campo(q, barra != nullptr ? static_cast<std::size_t>(barra - q)
                                                       : static_cast<std::size_t>(fim - q));
      if (total < campos.size()) campos[total] = campo;
      ++total;
    }
  }

  if (código == "PRF") {
    AnalisarPrf(campos.data(), total);
    return;
  }
  if (linha_ == 1) Falhar({}, "a primeira linha deve ser PRF");
  if (código == "FIM") {
    AnalisarFim(campos.data(), total);
    return;
  }
  const schema::RecordDef* def = schema::FindRecord(código);
  if (def == nullptr) {
    Falhar({}, "código de registro desconhecido: \"" + Exibível(código) + "\"");
    return;
  }
  if (total != def->fields.size()) {
    Falhar({}, std::string(def->code) + " deve ter " + std::to_string(def->fields.size()) +
                   " campos depois do código, tem " + std::to_string(total));
    // The line still introduces its taxpayer or opens its return or
    // occurrence, so that the lines that depend on it are not reported too.
    if (def->parent == Parent::kFile) {
      ++contribuintes_;
      if (total > 0 && IEVálida(campos[0])) ies_->Incluir(campos[0]);
    } else if (def->parent == Parent::kTaxpayer) {
      ++declarações_;
      declaração_aberta_ = true;
      ocorrência_aberta_ = false;
    } else if (def->table == schema::kOccurrenceTable) {
      ++ocorrências_;
      ocorrência_aberta_ = true;
    }
    return;
  }
  AnalisarRegistro(*def, campos.data(), total);
}

void Analisador::AnalisarPrf(const std::string_view* campos, std::size_t n) {
  if (linha_ != 1) {
    Falhar({}, "PRF só pode ser a primeira linha");
    return;
  }
  if (n != 2) {
    Falhar({}, "PRF deve ter 2 campos depois do código, tem " + std::to_string(n));
    return;
  }
  if (campos[0] != "1") Falhar("versão", "versão do formato não suportada: \"" + Exibível(campos[0]) + "\"");
  static constexpr schema::FieldDef kProdutor{"produtor", FieldType::kText, 60, false};
  Valor v;
  ValidarCampo(kProdutor, campos[1], &v, 0);
}

void Analisador::AnalisarFim(const std::string_view* campos, std::size_t n) {
  if (linha_fim_ != 0) {
    Falhar({}, "linha FIM repetida");
    return;
  }
  linha_fim_ = linha_;
  if (n != 1) {
    Falhar({}, "FIM deve ter 1 campo depois do código, tem " + std::to_string(n));
    return;
  }
  const std::string_view s = campos[0];
  if (s.empty()) {
    Falhar("linhas", "campo obrigatório vazio");
  } else if (s.size() > 18 || !Dígitos(s.data(), static_cast<int>(s.size()))) {
    Falhar("linhas", "a contagem de linhas deve ser um número inteiro");
  } else {
    contagem_fim_ = 0;
    for (char c : s) contagem_fim_ = contagem_fim_ * 10 + (c - '0');
  }
}

bool Analisador::ValidarCampo(const schema::FieldDef& f, std::string_view s, Valor* v, std::size_t índice) {
  v->tipo = Valor::Tipo::kNulo;
  if (s.empty()) {
    if (!f.required) return true;
    Falhar(f.name, "campo obrigatório vazio");
    return false;
  }
  const char* erro = nullptr;
  std::string mensagem;  // a fault whose text is composed
  switch (f.type) {
    case FieldType::kText: {
      std::size_t caracteres = 0;
      if (codificação_ == Codificação::kUtf8) {
        for (char c : s) {
          const auto u = static_cast<unsigned char>(c);
          if (Controle(u)) {
            erro = "caractere de controle no texto";
            break;
          }
          if ((u & 0xC0) != 0x80) ++caracteres;
        }
        v->texto = s;
      } else {
        const std::size_t início = convertido_.size();
        for (char c : s) {
          const auto u = static_cast<unsigned char>(c);
          if (Controle(u)) {
            erro = "caractere de controle no texto";
            break;
          }
          if (u < 0x80) {
            convertido_.push_back(c);
          } else {
            AcrescentarUtf8(convertido_, u < 0xA0 ? kWindows1252[u - 0x80] : u);
          }
        }
        caracteres = s.size();
        v->texto = std::string_view(convertido_).substr(início);
      }
      if (erro == nullptr && caracteres > static_cast<std::size_t>(f.length)) {
        Falhar(f.name, "texto com " + std::to_string(caracteres) + " caracteres; o máximo é " +
                           std::to_string(f.length));
        return false;
      }
      v->tipo = Valor::Tipo::kTexto;
      break;
    }
    case FieldType::kIE: {
      if (s.size() > 14) {
        erro = "IE com mais de 14 caracteres";
        break;
      }
      for (char c : s) {
        if (!Alfanumérico(c)) {
          erro = "IE deve ter apenas letras e algarismos";
          break;
        }
      }
      v->tipo = Valor::Tipo::kTexto;
      v->texto = s;
      break;
    }
    case FieldType::kDate:
      erro = LerData(s, datas_[índice].data());
      v->tipo = Valor::Tipo::kTexto;
      v->texto = std::string_view(datas_[índice].data(), 10);
      break;
    case FieldType::kDateTime: {
      std::size_t tamanho = 0;
      erro = LerDataHora(s, datas_[índice].data(), &tamanho);
      v->tipo = Valor::Tipo::kTexto;
      v->texto = std::string_view(datas_[índice].data(), tamanho);
      break;
    }
    case FieldType::kMonth:
      erro = LerMês(s, datas_[índice].data());
      v->tipo = Valor::Tipo::kTexto;
      v->texto = std::string_view(datas_[índice].data(), 10);
      break;
    case FieldType::kNumber:
      erro = LerNúmero(s, &v->real, &mensagem);
      v->tipo = Valor::Tipo::kReal;
      break;
    case FieldType::kBoolean:
      if (s == "0" || s == "1") {
        v->tipo = Valor::Tipo::kInteiro;
        v->inteiro = s[0] - '0';
      } else {
        erro = "valor lógico deve ser 0 ou 1";
      }
      break;
  }
  if (erro != nullptr) {
    v->tipo = Valor::Tipo::kNulo;
    Falhar(f.name, std::string(erro) + " (" + NomeTipo(f.type) + ")");
    return false;
  }
  return true;
}

void Analisador::AnalisarRegistro(const schema::RecordDef& def, const std::string_view* campos, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) ValidarCampo(def.fields[i], campos[i], &valores_[i], i);

  Registro r;
  r.def = &def;
  r.linha = linha_;
  switch (def.parent) {
    case Parent::kFile:
      r.chave = ++contribuintes_;
      // The IE is field 0 of CONTRIBUINTE; a faulty one names no taxpayer.
      if (valores_[0].tipo == Valor::Tipo::kTexto) ies_->Incluir(valores_[0].texto);
      break;
    case Parent::kTaxpayer: {
      r.chave = ++declarações_;
      declaração_aberta_ = true;
      ocorrência_aberta_ = false;
      // IE, RegTrib and Ref2 are fields 0, 2 and 4 of QUR.
      if (valores_[0].tipo == Valor::Tipo::kTexto && !ies_->Contém(valores_[0].texto)) {
        Falhar(def.fields[0].name, "nenhuma linha CONTRIBUINTE com a IE " + std::string(valores_[0].texto) +
                                        " antes desta declaração");
      }
      if (campos[2] == "02" && campos[4].empty()) {
        Falhar(def.fields[4].name, "declaração do regime 02 sem a segunda referência");
      }
      break;
    }
    case Parent::kReturn:
      if (!declaração_aberta_) Falhar({}, "linha " + std::string(def.code) + " sem uma linha QUR antes dela");
      r.chave_pai = declarações_;
      if (def.table == schema::kOccurrenceTable) {
        r.chave = ++ocorrências_;
        ocorrência_aberta_ = true;
      }
      break;
    case Parent::kOccurrence:
      if (!ocorrência_aberta_) {
        Falhar({}, "linha " + std::string(def.code) + " sem uma linha OCORRENCIA antes dela na mesma declaração");
      }
      r.chave_pai = ocorrências_;
      break;
  }
  if (total_falhas_ != 0 || destino_ == nullptr) return;
  r.campos = std::span<const Valor>(valores_.data(), n);
  destino_->Gravar(r);
  ++gravados_;
}

}  // namespace orlan::prf
