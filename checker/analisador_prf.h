// The ".prf" parser and validator, free of Qt widgets, SQLite and I/O.
//
// An Analisador is fed the bytes of one file, in order, in chunks of any
// size, and then told that the input ended. It splits lines, validates every
// line against the record descriptions of database/schema.h, follows the
// file's structure (taxpayer, return, occurrence) and numbers the keys. Every
// line that is valid, while no fault has been seen in the file, goes to the
// Destino in its stored form; after the first fault nothing more is written
// but validation goes on, so that the report lists every fault (the first
// kMáximoFalhas of them, then a count).
//
// Memory: one line at most (kMáximoLinha bytes; longer lines are faults and
// are skipped, not kept) plus the set of taxpayers' IEs, which the caller
// owns (ConjuntoIE) and may keep outside memory.
//
// Encoding: in kUtf8 mode a leading byte order mark is skipped, and the first
// byte sequence that is not UTF-8 stops the analysis (Alimentar and Terminar
// return false, linhaUtf8Inválido() tells where): the caller then starts over
// with a new Analisador in kWindows1252 mode, since the file as a whole is
// read as Windows-1252.
#ifndef ORLAN_CHECKER_ANALISADOR_PRF_H_
#define ORLAN_CHECKER_ANALISADOR_PRF_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "database/schema.h"

namespace orlan {

// One fault of a ".prf" file: line (1-based; 0 for the file as a whole),
// field name (empty when the fault is not about one field), message (UTF-8,
// Portuguese, shown to the user).
struct FalhaArquivo {
  std::int64_t linha = 0;
  std::string campo;
  std::string mensagem;
};

}  // namespace orlan

namespace orlan::prf {

enum class Codificação { kUtf8, kWindows1252 };

// One field of a valid line, in the form the temporary database stores.
struct Valor {
  enum class Tipo : std::uint8_t { kNulo, kTexto, kInteiro, kReal };
  Tipo tipo = Tipo::kNulo;
  std::string_view texto;  // kTexto: UTF-8; valid only while Destino::Gravar runs
  std::int64_t inteiro = 0;
  double real = 0;
};

// One valid data line (CONTRIBUINTE to REGEXPORTACAO).
struct Registro {
  const schema::RecordDef* def = nullptr;
  std::int64_t linha = 0;
  // The row's own key, numbered 1, 2, 3 ... in file order per table:
  // tblContribuinte.Id, tblQUR.NroQUR or tblOcorrências.Código; 0 for the
  // other tables.
  std::int64_t chave = 0;
  // The key of the row this one belongs to: NroQUR for a detail line,
  // Código for a register line; 0 otherwise.
  std::int64_t chave_pai = 0;
  std::span<const Valor> campos;  // in the order of def->fields
};

class Destino {
 public:
  virtual ~Destino() = default;
  // Stores one row. May throw; the exception leaves the Analisador unusable.
  virtual void Gravar(const Registro& registro) = 0;
};

// The IEs of the CONTRIBUINTE lines seen so far, for the rule that a return
// names a taxpayer introduced above it.
class ConjuntoIE {
 public:
  virtual ~ConjuntoIE() = default;
  virtual void Incluir(std::string_view ie) = 0;
  virtual bool Contém(std::string_view ie) = 0;
};

class ConjuntoIEMemória : public ConjuntoIE {
 public:
  void Incluir(std::string_view ie) override { ies_.emplace(ie); }
  bool Contém(std::string_view ie) override { return ies_.count(std::string(ie)) != 0; }
  std::size_t tamanho() const { return ies_.size(); }

 private:
  std::unordered_set<std::string> ies_;
};


class Analisador {
 public:
  static constexpr std::size_t kMáximoFalhas = 100;
  static constexpr std::size_t kMáximoLinha = 64 * 1024;
  static constexpr std::size_t kMáximoCampos = 32;

  // `ies` must outlive the Analisador. `destino` may be null (validation only)
  // and must outlive it otherwise.
  Analisador(Codificação codificação, ConjuntoIE* ies, Destino* destino);
  Analisador(const Analisador&) = delete;
  Analisador& operator=(const Analisador&) = delete;

  // In kWindows1252 mode: the line where an earlier kUtf8 pass met bytes that
  // are not UTF-8, so that a file that starts with a UTF-8 mark is reported
  // for what it is.
  void InformarLinhaUtf8Inválido(std::int64_t linha) { linha_utf8_anterior_ = linha; }

  // Feeds the next bytes. False when the input turned out not to be UTF-8
  // (kUtf8 mode only); the Analisador then ignores further input.
  bool Alimentar(const char* dados, std::size_t tamanho);
  // The input ended: handles a last line without a line end and the rules
  // about the whole file. Same result as Alimentar.
  bool Terminar();

  bool utf8Inválido() const { return utf8_inválido_; }
  std::int64_t linhaUtf8Inválido() const { return linha_utf8_inválido_; }

  // True when the file held nothing (no byte, or only a byte order mark).
  bool vazio() const { return vazio_; }
  std::int64_t linhas() const { return linha_; }
  std::int64_t totalFalhas() const { return total_falhas_; }
  const std::vector<FalhaArquivo>& falhas() const { return falhas_; }
  std::int64_t falhasOmitidas() const { return total_falhas_ - static_cast<std::int64_t>(falhas_.size()); }
  // Rows handed to the Destino.
  std::int64_t registrosGravados() const { return gravados_; }

 private:
  void ProcessarLinha(const char* p, std::size_t n, bool com_lf);
  void LinhaLongaDemais();
  void AnalisarRegistro(const schema::RecordDef& def, const std::string_view* campos, std::size_t n);
  bool ValidarCampo(const schema::FieldDef& f, std::string_view s, Valor* v, std::size_t índice);
  void AnalisarPrf(const std::string_view* campos, std::size_t n);
  void AnalisarFim(const std::string_view* campos, std::size_t n);
  void Falhar(std::string_view campo, std::string mensagem);
  void FalharNaLinha(std::int64_t linha, std::string_view campo, std::string mensagem);

  const Codificação codificação_;
  ConjuntoIE* const ies_;
  Destino* const destino_;

  std::string resto_;  // a line begun in the previous chunk
  bool descartando_ = false;  // skipping the rest of a line that is too long
  bool iniciou_ = false;      // any byte seen
  bool terminou_ = false;
  bool utf8_inválido_ = false;
  std::int64_t linha_utf8_inválido_ = 0;
  std::int64_t linha_utf8_anterior_ = 0;
  bool vazio_ = false;

  std::int64_t linha_ = 0;
  std::int64_t linha_fim_ = 0;      // line of FIM, 0 while none
  std::int64_t contagem_fim_ = -1;  // the count FIM gives, -1 when unreadable
  bool depois_do_fim_ = false;      // a line after FIM was reported

  std::int64_t contribuintes_ = 0;
  std::int64_t declarações_ = 0;
  std::int64_t ocorrências_ = 0;
  bool declaração_aberta_ = false;
  bool ocorrência_aberta_ = false;

  std::int64_t total_falhas_ = 0;
  std::vector<FalhaArquivo> falhas_;
  std::int64_t gravados_ = 0;

  // Per line: the values and the buffers their texts point into. The text
  // buffer is reserved once so that views into it stay valid for the line.
  std::array<Valor, kMáximoCampos> valores_;
  std::array<std::array<char, 20>, kMáximoCampos> datas_;
  std::string convertido_;
};

// Checks that `s` is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF). Exposed for the tests and the fuzz target.
bool Utf8Válido(std::string_view s);

}  // namespace orlan::prf

#endif  // ORLAN_CHECKER_ANALISADOR_PRF_H_
