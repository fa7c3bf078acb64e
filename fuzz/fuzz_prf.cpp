// libFuzzer target for the ".prf" parser.
//
// The input is one file. It is parsed in both encodings, fed in chunks whose
// size the first byte picks (so that lines straddle chunk borders), and every
// row the parser hands on is checked against what the temporary database may
// hold: texts valid UTF-8 within their length and free of control
// characters, dates in their stored forms, keys numbered from 1. Any breach
// aborts, and so does any memory error the sanitizers see.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "checker/analisador_prf.h"

namespace {

using orlan::prf::Valor;
using orlan::schema::FieldType;

void Exigir(bool condição) {
  if (!condição) std::abort();
}

bool Algarismos(std::string_view s, std::size_t início, std::size_t n) {
  for (std::size_t i = início; i < início + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

bool DataGuardada(std::string_view s) {
  return s.size() >= 10 && Algarismos(s, 0, 4) && s[4] == '-' && Algarismos(s, 5, 2) && s[7] == '-' &&
         Algarismos(s, 8, 2);
}

class Verificador : public orlan::prf::Destino {
 public:
  void Gravar(const orlan::prf::Registro& r) override {
    Exigir(r.def != nullptr && r.campos.size() == r.def->fields.size() && r.linha > 0);
    Exigir(r.chave >= 0 && r.chave_pai >= 0);
    for (std::size_t i = 0; i < r.campos.size(); ++i) {
      const orlan::schema::FieldDef& f = r.def->fields[i];
      const Valor& v = r.campos[i];
      if (v.tipo == Valor::Tipo::kNulo) {
        Exigir(!f.required);
        continue;
      }
      switch (f.type) {
        case FieldType::kText: {
          Exigir(v.tipo == Valor::Tipo::kTexto && orlan::prf::Utf8Válido(v.texto));
          std::size_t caracteres = 0;
          for (char c : v.texto) {
            const auto u = static_cast<unsigned char>(c);
            Exigir(u >= 0x20 && u != 0x7F && u != '|');
            if ((u & 0xC0) != 0x80) ++caracteres;
          }
          Exigir(caracteres <= static_cast<std::size_t>(f.length));
          break;
        }
        case FieldType::kIE:
          Exigir(v.tipo == Valor::Tipo::kTexto && !v.texto.empty() && v.texto.size() <= 14);
          break;
        case FieldType::kDate:
        case FieldType::kMonth:
          Exigir(v.tipo == Valor::Tipo::kTexto && v.texto.size() == 10 && DataGuardada(v.texto));
          break;
        case FieldType::kDateTime:
          Exigir(v.tipo == Valor::Tipo::kTexto && (v.texto.size() == 10 || v.texto.size() == 19) &&
                 DataGuardada(v.texto));
          break;
        case FieldType::kNumber:
          Exigir(v.tipo == Valor::Tipo::kReal && v.real == v.real);
          break;
        case FieldType::kBoolean:
          Exigir(v.tipo == Valor::Tipo::kInteiro && (v.inteiro == 0 || v.inteiro == 1));
          break;
      }
    }
    ++linhas;
  }
  std::int64_t linhas = 0;
};

void Analisar(orlan::prf::Codificação codificação, const char* dados, std::size_t tamanho, std::size_t fatia) {
  orlan::prf::ConjuntoIEMemória ies;
  Verificador verificador;
  orlan::prf::Analisador a(codificação, &ies, &verificador);
  bool segue = true;
  for (std::size_t i = 0; i < tamanho && segue; i += fatia) {
    segue = a.Alimentar(dados + i, std::min(fatia, tamanho - i));
  }
  if (segue) a.Terminar();
  Exigir(a.falhas().size() <= orlan::prf::Analisador::kMáximoFalhas);
  Exigir(a.falhasOmitidas() >= 0);
  if (codificação == orlan::prf::Codificação::kWindows1252) Exigir(!a.utf8Inválido());
  if (a.utf8Inválido()) {
    Exigir(a.linhaUtf8Inválido() > 0);
    return;
  }
  Exigir(verificador.linhas == a.registrosGravados());
  // An accepted file has a PRF line and a FIM line around its rows.
  if (a.totalFalhas() == 0) Exigir(a.linhas() >= 2 && a.linhas() == a.registrosGravados() + 2);
  for (const orlan::FalhaArquivo& f : a.falhas()) Exigir(f.linha >= 0 && f.linha <= a.linhas() + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t fatia = 1 + data[0] % 64;
  const char* dados = reinterpret_cast<const char*>(data + 1);
  Analisar(orlan::prf::Codificação::kUtf8, dados, size - 1, fatia);
  Analisar(orlan::prf::Codificação::kWindows1252, dados, size - 1, size);
  return 0;
}
