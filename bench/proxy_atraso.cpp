// A TCP relay that adds latency, for measuring the import over a slow link
// where the kernel's netem is not available.
//
//   proxy_atraso --listen PORTA|0 --to HOST:PORTA --delay-ms D
//
// Listens on 127.0.0.1 (port 0: any free one), prints the port it took on one
// line, and relays every connection to HOST:PORTA. Each chunk read from
// either side is written to the other D milliseconds (fractions allowed)
// after it was read, in order: a chunk read at t goes out at t + D whatever
// is still waiting before it, so the link adds latency without cutting
// throughput. Ends cleanly on SIGTERM or SIGINT.
//
// Per connection, each direction has a thread that reads, stamps and queues
// chunks and writes each at its time: many chunks can be on their way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Relógio = std::chrono::steady_clock;

// Written by the signal handler, read by the accept loop's poll.
int g_sinal_pipe[2] = {-1, -1};

void AoSinal(int) {
  const char c = 's';
  const ssize_t n = write(g_sinal_pipe[1], &c, 1);
  (void)n;
}

[[noreturn]] void Uso(const char* motivo) {
  std::fprintf(stderr, "proxy_atraso: %s\nuso: proxy_atraso --listen PORTA|0 --to HOST:PORTA --delay-ms D\n", motivo);
  std::exit(64);
}

void SemAtrasoDeEnvio(int fd) {
  const int um = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &um, sizeof um);
}

// One direction of a connection: reads `origem` and writes each chunk to
// `destino` at its time. One thread does both, waiting in ppoll for
// whichever comes first, the next chunk to read or the time of the oldest
// one waiting: a chunk costs no hand-over between threads. Writing blocks
// only when the destination stops reading; the kernel's buffers are the
// window.
class Sentido {
 public:
  Sentido(int origem, int destino, Relógio::duration atraso) : origem_(origem), destino_(destino), atraso_(atraso) {}

  void correr() {
    std::vector<char> buffer(64 * 1024);
    bool lendo = true;
    for (;;) {
      // What is due goes out, in order.
      while (!fila_.empty() && fila_.front().quando <= Relógio::now()) {
        const std::string dados = std::move(fila_.front().dados);
        fila_.pop_front();
        if (dados.empty()) {
          // The source ended: a half close, as the source did.
          shutdown(destino_, SHUT_WR);
          return;
        }
        if (!EnviarTudo(dados)) {
          // The other side is gone: end both directions of the connection.
          shutdown(origem_, SHUT_RDWR);
          shutdown(destino_, SHUT_RDWR);
          return;
        }
      }
      // After the end only the clock matters: a negative descriptor is not
      // watched, so that a hung-up socket does not wake the wait again and again.
      pollfd fd{lendo ? origem_ : -1, POLLIN, 0};
      timespec espera{};
      const timespec* limite = nullptr;
      if (!fila_.empty()) {
        const auto falta = std::chrono::duration_cast<std::chrono::nanoseconds>(fila_.front().quando - Relógio::now());
        const long long ns = std::max<long long>(0, falta.count());
        espera.tv_sec = static_cast<time_t>(ns / 1000000000);
        espera.tv_nsec = static_cast<long>(ns % 1000000000);
        limite = &espera;
      }
      const int n = ppoll(&fd, 1, limite, nullptr);
      if (n < 0 && errno != EINTR) return;
      if (n <= 0 || !lendo) continue;
      const ssize_t lidos = read(origem_, buffer.data(), buffer.size());
      if (lidos < 0 && errno == EINTR) continue;
      // An empty chunk marks the end.
      fila_.push_back({Relógio::now() + atraso_, lidos > 0 ? std::string(buffer.data(), static_cast<size_t>(lidos)) : std::string()});
      lendo = lidos > 0;
    }
  }

 private:
  struct Pedaço {
    Relógio::time_point quando;
    std::string dados;
  };

  bool EnviarTudo(const std::string& dados) {
    size_t feito = 0;
    while (feito < dados.size()) {
      const ssize_t n = send(destino_, dados.data() + feito, dados.size() - feito, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      feito += static_cast<size_t>(n);
    }
    return true;
  }

  const int origem_;
  const int destino_;
  const Relógio::duration atraso_;
  std::deque<Pedaço> fila_;
};

// A relayed connection: the client's socket, the target's, and a thread per
// direction. Owns both sockets.
class Ligação {
 public:
  Ligação(int cliente, int alvo, Relógio::duration atraso)
      : cliente_(cliente), alvo_(alvo), ida_(cliente, alvo, atraso), volta_(alvo, cliente, atraso) {
    Iniciar(ida_);
    Iniciar(volta_);
  }

  // Ends the connection: both directions see the end at once and stop after
  // writing what was already due.
  ~Ligação() {
    shutdown(cliente_, SHUT_RDWR);
    shutdown(alvo_, SHUT_RDWR);
    for (std::thread& t : threads_) t.join();
    close(cliente_);
    close(alvo_);
  }

  Ligação(const Ligação&) = delete;
  Ligação& operator=(const Ligação&) = delete;

  bool terminou() const { return terminadas_ == static_cast<int>(threads_.size()); }

 private:
  void Iniciar(Sentido& sentido) {
    threads_.emplace_back([this, &sentido] {
      sentido.correr();
      ++terminadas_;
    });
  }

  const int cliente_;
  const int alvo_;
  Sentido ida_;
  Sentido volta_;
  std::atomic<int> terminadas_{0};
  std::vector<std::thread> threads_;
};

int ConectarAlvo(const addrinfo& alvo) {
  const int fd = socket(alvo.ai_family, alvo.ai_socktype | SOCK_CLOEXEC, alvo.ai_protocol);
  if (fd < 0) return -1;
  if (connect(fd, alvo.ai_addr, alvo.ai_addrlen) != 0) {
    close(fd);
    return -1;
  }
  SemAtrasoDeEnvio(fd);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  std::string porta_escuta, destino;
  double atraso_ms = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) Uso(("falta o valor de " + a).c_str());
    const char* v = argv[++i];
    if (a == "--listen") {
      porta_escuta = v;
    } else if (a == "--to") {
      destino = v;
    } else if (a == "--delay-ms") {
      char* fim = nullptr;
      atraso_ms = std::strtod(v, &fim);
      if (fim == v || *fim != '\0' || !(atraso_ms >= 0) || atraso_ms > 60000) Uso("atraso inválido");
    } else {
      Uso(("opção desconhecida: " + a).c_str());
    }
  }
  if (porta_escuta.empty() || destino.empty() || atraso_ms < 0) Uso("faltam opções");
  const size_t dois_pontos = destino.rfind(':');
  if (dois_pontos == std::string::npos || dois_pontos == 0) Uso("o destino deve ser HOST:PORTA");
  const std::string host = destino.substr(0, dois_pontos);
  const std::string porta_alvo = destino.substr(dois_pontos + 1);

  addrinfo dica{};
  dica.ai_socktype = SOCK_STREAM;
  addrinfo* resolvido = nullptr;
  if (getaddrinfo(host.c_str(), porta_alvo.c_str(), &dica, &resolvido) != 0 || resolvido == nullptr) {
    std::fprintf(stderr, "proxy_atraso: destino desconhecido: %s\n", destino.c_str());
    return 1;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> alvo(resolvido, &freeaddrinfo);

  char* fim = nullptr;
  const long porta = std::strtol(porta_escuta.c_str(), &fim, 10);
  if (*fim != '\0' || porta < 0 || porta > 65535) Uso("porta inválida");
  const int escuta = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int um = 1;
  setsockopt(escuta, SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);
  sockaddr_in endereço{};
  endereço.sin_family = AF_INET;
  endereço.sin_port = htons(static_cast<uint16_t>(porta));
  endereço.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t tamanho = sizeof endereço;
  if (escuta < 0 || bind(escuta, reinterpret_cast<sockaddr*>(&endereço), sizeof endereço) != 0 ||
      listen(escuta, 64) != 0 || getsockname(escuta, reinterpret_cast<sockaddr*>(&endereço), &tamanho) != 0) {
    std::fprintf(stderr, "proxy_atraso: não foi possível escutar na porta %ld: %s\n", porta, std::strerror(errno));
    return 1;
  }

  if (pipe2(g_sinal_pipe, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "proxy_atraso: %s\n", std::strerror(errno));
    return 1;
  }
  struct sigaction ação{};
  ação.sa_handler = AoSinal;
  sigemptyset(&ação.sa_mask);
  sigaction(SIGTERM, &ação, nullptr);
  sigaction(SIGINT, &ação, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // The kernel may otherwise wake a timed wait up to 50 us late, on top of
  // the delay asked for.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  std::printf("%d\n", ntohs(endereço.sin_port));
  std::fflush(stdout);

  const auto atraso = std::chrono::duration_cast<Relógio::duration>(std::chrono::duration<double, std::milli>(atraso_ms));
  std::vector<std::unique_ptr<Ligação>> ligações;
  for (;;) {
    pollfd fds[2] = {{escuta, POLLIN, 0}, {g_sinal_pipe[0], POLLIN, 0}};
    const int n = poll(fds, 2, 1000);
    if (n < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    std::erase_if(ligações, [](const std::unique_ptr<Ligação>& l) { return l->terminou(); });
    if (n <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    const int cliente = accept4(escuta, nullptr, nullptr, SOCK_CLOEXEC);
    if (cliente < 0) continue;
    SemAtrasoDeEnvio(cliente);
    const int fd_alvo = ConectarAlvo(*alvo);
    if (fd_alvo < 0) {
      std::fprintf(stderr, "proxy_atraso: não foi possível conectar a %s: %s\n", destino.c_str(), std::strerror(errno));
      close(cliente);
      continue;
    }
    ligações.push_back(std::make_unique<Ligação>(cliente, fd_alvo, atraso));
  }
  close(escuta);
  ligações.clear();
  return 0;
}
