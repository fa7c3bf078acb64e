// orlan-prf-gen: writes a valid synthetic ".prf" file.
//
//   orlan-prf-gen --output FILE [--taxpayers N] [--months N] [--start MM/YYYY]
//                 [--rows N] [--seed N]
//
// The same options give the same bytes. Exit status 0 on success, 2 on a
// usage error, 1 when the file cannot be written.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "checker/gerador_prf.h"

namespace {

constexpr const char* kUso =
    "usage: orlan-prf-gen --output FILE [--taxpayers N] [--months N] [--start MM/YYYY] [--rows N] [--seed N]\n";

template <typename T>
bool Ler(std::string_view s, T* out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int Uso(const std::string& erro) {
  std::fprintf(stderr, "orlan-prf-gen: %s\n%s", erro.c_str(), kUso);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  orlan::prf::OpçõesGerador opções;
  std::string saída;
  for (int i = 1; i < argc; ++i) {
    const std::string_view opção = argv[i];
    if (opção == "--help" || opção == "-h") {
      std::fputs(kUso, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Uso("missing value after " + std::string(opção));
    const std::string_view valor = argv[++i];
    bool ok = true;
    if (opção == "--output") {
      saída = valor;
    } else if (opção == "--taxpayers") {
      ok = Ler(valor, &opções.contribuintes);
    } else if (opção == "--months") {
      ok = Ler(valor, &opções.meses);
    } else if (opção == "--rows") {
      ok = Ler(valor, &opções.linhas);
    } else if (opção == "--seed") {
      ok = Ler(valor, &opções.semente);
    } else if (opção == "--start") {
      ok = valor.size() == 7 && valor[2] == '/' && Ler(valor.substr(0, 2), &opções.mês_inicial) &&
           Ler(valor.substr(3), &opções.ano_inicial);
    } else {
      return Uso("unknown option " + std::string(opção));
    }
    if (!ok) return Uso("invalid value for " + std::string(opção) + ": " + std::string(valor));
  }
  if (saída.empty()) return Uso("--output is required");
  const std::string inválidas = orlan::prf::ValidarOpções(opções);
  if (!inválidas.empty()) return Uso(inválidas);
  orlan::prf::ResumoGerador resumo;
  const orlan::Status s = orlan::prf::GerarArquivoPrf(saída, opções, &resumo);
  if (!s.ok()) {
    std::fprintf(stderr, "orlan-prf-gen: %s\n", s.ToString().c_str());
    return 1;
  }
  std::printf("%s: %lld lines, %lld returns, %lld bytes\n", saída.c_str(), static_cast<long long>(resumo.linhas),
              static_cast<long long>(resumo.declarações), static_cast<long long>(resumo.bytes));
  return 0;
}
