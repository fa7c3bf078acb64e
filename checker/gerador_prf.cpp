#include "checker/gerador_prf.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "database/schema.h"

namespace orlan::prf {

namespace {

using schema::FieldType;

// splitmix64: small, fast and the same on every platform (the standard
// distributions are not).
class Aleatório {
 public:
  explicit Aleatório(std::uint64_t semente) : estado_(semente) {}
  std::uint64_t Próximo() {
    std::uint64_t z = (estado_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int Entre(int mínimo, int máximo) {
    return mínimo + static_cast<int>(Próximo() % static_cast<std::uint64_t>(máximo - mínimo + 1));
  }
  bool Chance(int percentual) { return Entre(1, 100) <= percentual; }
  template <typename T, std::size_t N>
  const T& Um(const std::array<T, N>& itens) {
    return itens[static_cast<std::size_t>(Entre(0, static_cast<int>(N) - 1))];
  }

 private:
  std::uint64_t estado_;
};

constexpr std::array<std::string_view, 6> kRazões = {
    "Comércio D'Ávila & Filhos",        "Padaria São João Ltda",
    "Açougue \"Boi Gordo\" 100% Natural", "Indústria Têxtil O'Neill_SA",
    "Café & Cia. Ação Popular",         "Ótica Visão Única",
};
constexpr std::array<std::string_view, 6> kMunicípios = {
    "São Paulo", "Ribeirão Preto", "Jundiaí", "Mogi das Cruzes", "Santa Bárbara d'Oeste", "Itaquaquecetuba",
};
constexpr std::array<std::string_view, 16> kPalavras = {
    "Comércio", "D'Ávila", "&",     "Filhos", "São",   "João",    "Irmãos",  "Açúcar",
    "Pão",      "100%",    "Cia_Ltda", "\"Boa", "Praça\"", "Indústria", "Café", "Distribuição",
};
constexpr std::array<std::string_view, 5> kUFs = {"SP", "MG", "RJ", "PR", "AM"};
constexpr std::array<std::string_view, 6> kCFOPs = {"5102", "6102", "1102", "5405", "6108", "7101"};
constexpr std::array<std::string_view, 4> kSubItens = {"002.01", "007.99", "002.10", "003.05"};

// The detail and register records of one return, in the order they are
// cycled through: an OCORRENCIA always comes before its four registers.
constexpr std::array<std::string_view, 11> kCiclo = {
    "PAGAMENTO",   "CFOP",          "INTERUF",      "ZFMALC", "OCORRENCIA",   "IEREMETENTE",
    "IESUBSTITUIDO", "IESUBSTITUTO", "RECIBOCREDITO", "DIPAM",  "REGEXPORTACAO",
};

// Keeps at most `máximo` characters (code points) of `s`, from `início` on.
void Truncar(std::string& s, std::size_t início, int máximo) {
  int caracteres = 0;
  for (std::size_t i = início; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (caracteres++ == máximo) {
      s.resize(i);
      return;
    }
  }
}

void Dois(std::string& out, int v) {
  out.push_back(static_cast<char>('0' + v / 10 % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

void MêsAno(std::string& out, int mês, int ano) {
  Dois(out, mês);
  out.push_back('/');
  out += std::to_string(ano);
}

void Data(std::string& out, int dia, int mês, int ano) {
  Dois(out, dia);
  out.push_back('/');
  MêsAno(out, mês, ano);
}

void Algarismos(std::string& out, Aleatório& a, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<char>('0' + a.Entre(0, 9)));
}

// What the fields of the line being written depend on.
struct Contexto {
  std::string ie;
  int índice_contribuinte = 0;
  int mês = 1;
  int ano = 2006;
  bool regime02 = false;
  int mês_ref2 = 1;
};

class Gerador {
 public:
  Gerador(const OpçõesGerador& o, const std::function<void(std::string_view)>& saída)
      : opções_(o), saída_(saída), aleatório_(o.semente) {
    buffer_.reserve(kBuffer + 4096);
  }

  ResumoGerador Gerar() {
    Linha("PRF|1|orlan-prf-gen");
    for (int c = 0; c < opções_.contribuintes; ++c) {
      contexto_.índice_contribuinte = c;
      contexto_.ie = std::to_string(110000000000LL + 7919LL * c);
      contexto_.regime02 = c % 3 == 1;
      Registro(*schema::FindRecord("CONTRIBUINTE"));
      for (int m = 0; m < opções_.meses; ++m) {
        const int k = opções_.mês_inicial - 1 + m;
        contexto_.mês = k % 12 + 1;
        contexto_.ano = opções_.ano_inicial + k / 12;
        contexto_.mês_ref2 = std::min(12, contexto_.mês + aleatório_.Entre(0, 3));
        Registro(*schema::FindRecord("QUR"));
        ++resumo_.declarações;
        for (int j = 0; j < opções_.linhas; ++j) Registro(*schema::FindRecord(kCiclo[j % kCiclo.size()]));
      }
    }
    Linha("FIM|" + std::to_string(resumo_.linhas + 1));
    if (!buffer_.empty()) saída_(buffer_);
    return resumo_;
  }

 private:
  static constexpr std::size_t kBuffer = 256 * 1024;

  void Linha(std::string_view texto) {
    buffer_ += texto;
    Terminar();
  }

  void Terminar() {
    buffer_.push_back('\n');
    ++resumo_.linhas;
    if (buffer_.size() >= kBuffer) {
      bytes_ += static_cast<std::int64_t>(buffer_.size());
      saída_(buffer_);
      buffer_.clear();
    }
    resumo_.bytes = bytes_ + static_cast<std::int64_t>(buffer_.size());
  }

  void Registro(const schema::RecordDef& r) {
    buffer_ += r.code;
    for (const schema::FieldDef& f : r.fields) {
      buffer_.push_back('|');
      Campo(f);
    }
    Terminar();
  }

  void Texto(const schema::FieldDef& f, std::string_view texto) {
    const std::size_t início = buffer_.size();
    buffer_ += texto;
    Truncar(buffer_, início, f.length);
  }

  void Campo(const schema::FieldDef& f) {
    Aleatório& a = aleatório_;
    const std::string_view nome = f.name;
    if (nome == "IE") {
      buffer_ += contexto_.ie;
    } else if (nome == "RegTrib") {
      buffer_ += contexto_.regime02 ? "02" : "01";
    } else if (nome == "Ref1") {
      MêsAno(buffer_, contexto_.mês, contexto_.ano);
    } else if (nome == "Ref2") {
      if (contexto_.regime02) MêsAno(buffer_, contexto_.mês_ref2, contexto_.ano);
    } else if (!f.required && a.Chance(15)) {
      // Left empty: Null.
    } else if (nome == "RazãoSocial") {
      Texto(f, std::string(kRazões[static_cast<std::size_t>(contexto_.índice_contribuinte) % kRazões.size()]) +
                   " nº " + std::to_string(contexto_.índice_contribuinte + 1));
    } else if (nome == "Contato") {
      Texto(f, a.Um(kRazões));
    } else if (nome == "Município" || nome == "MunicípioDest") {
      Texto(f, a.Um(kMunicípios));
    } else if (nome == "UF") {
      buffer_ += a.Um(kUFs);
    } else if (nome == "CFOP") {
      buffer_ += a.Um(kCFOPs);
    } else if (nome == "CódSubItem") {
      buffer_ += a.Um(kSubItens);
    } else if (nome == "CEP") {
      Algarismos(buffer_, a, 8);
    } else if (nome == "CNPJ" || nome == "CNPJDest") {
      Algarismos(buffer_, a, 14);
    } else if (nome == "Tipo" || nome == "Origem" || nome == "OrigemPrefDig") {
      buffer_ += "01";
    } else if (nome == "DataCadastro") {
      Data(buffer_, a.Entre(1, 28), a.Entre(1, 12), a.Entre(1990, 2005));
    } else {
      Genérico(f);
    }
  }

  void Genérico(const schema::FieldDef& f) {
    Aleatório& a = aleatório_;
    switch (f.type) {
      case FieldType::kText: {
        std::string texto;
        const int palavras = a.Entre(1, 4);
        for (int i = 0; i < palavras; ++i) {
          if (i > 0) texto.push_back(' ');
          texto += a.Um(kPalavras);
        }
        Texto(f, texto);
        break;
      }
      case FieldType::kIE:
        Algarismos(buffer_, a, 12);
        break;
      case FieldType::kDate:
        Data(buffer_, a.Entre(1, 28), contexto_.mês, contexto_.ano);
        break;
      case FieldType::kDateTime:
        Data(buffer_, a.Entre(1, 28), contexto_.mês, contexto_.ano);
        if (a.Chance(70)) {
          buffer_.push_back(' ');
          Dois(buffer_, a.Entre(0, 23));
          buffer_.push_back(':');
          Dois(buffer_, a.Entre(0, 59));
          buffer_.push_back(':');
          Dois(buffer_, a.Entre(0, 59));
        }
        break;
      case FieldType::kMonth:
        MêsAno(buffer_, contexto_.mês, contexto_.ano);
        break;
      case FieldType::kNumber: {
        if (a.Chance(5)) buffer_.push_back('-');
        buffer_ += std::to_string(a.Entre(0, 999999));
        if (a.Chance(90)) {
          buffer_.push_back('.');
          Dois(buffer_, a.Entre(0, 99));
        }
        break;
      }
      case FieldType::kBoolean:
        buffer_.push_back(a.Chance(50) ? '1' : '0');
        break;
    }
  }

  const OpçõesGerador& opções_;
  const std::function<void(std::string_view)>& saída_;
  Aleatório aleatório_;
  Contexto contexto_;
  ResumoGerador resumo_;
  std::string buffer_;
  std::int64_t bytes_ = 0;
};

}  // namespace

std::string ValidarOpções(const OpçõesGerador& o) {
  if (o.contribuintes < 0 || o.meses < 0 || o.linhas < 0) return "as quantidades não podem ser negativas";
  if (o.mês_inicial < 1 || o.mês_inicial > 12) return "o mês inicial deve ser de 01 a 12";
  if (o.ano_inicial < 1900 || o.ano_inicial > 2099) return "o ano inicial deve ser de 1900 a 2099";
  const long long último = o.ano_inicial + (o.mês_inicial - 1 + static_cast<long long>(std::max(o.meses, 1)) - 1) / 12;
  if (último > 2099) return "o último mês não pode passar de 12/2099";
  return {};
}

ResumoGerador GerarPrf(const OpçõesGerador& opções, const std::function<void(std::string_view)>& saída) {
  return Gerador(opções, saída).Gerar();
}

Status GerarArquivoPrf(const std::string& caminho, const OpçõesGerador& opções, ResumoGerador* resumo) {
  const std::string inválidas = ValidarOpções(opções);
  if (!inválidas.empty()) return Status(kErrInvalidOperation, inválidas);
  std::FILE* f = std::fopen(caminho.c_str(), "wb");
  if (f == nullptr) return Status(kErrCannotOpen, "Não foi possível criar o arquivo \"" + caminho + "\".", std::strerror(errno));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> arquivo(f, &std::fclose);
  bool erro = false;
  const ResumoGerador r = GerarPrf(opções, [&](std::string_view pedaço) {
    if (!erro && std::fwrite(pedaço.data(), 1, pedaço.size(), f) != pedaço.size()) erro = true;
  });
  if (std::fclose(arquivo.release()) != 0) erro = true;
  if (erro) return Status(kErrIo, "Não foi possível gravar o arquivo \"" + caminho + "\".", std::strerror(errno));
  if (resumo != nullptr) *resumo = r;
  return Status::OK();
}

}  // namespace orlan::prf
