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
// Per connection, each direction has a reader thread (reads, stamps, queues)
// and a writer thread (waits for the head's time, writes): a slow writer
// never holds back the reading, and many chunks can be on their way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
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

// One direction of a connection: chunks read from `origem`, due at their
// time, for `destino`.
class Sentido {
 public:
  Sentido(int origem, int destino, Relógio::duration atraso) : origem_(origem), destino_(destino), atraso_(atraso) {}

  void ler() {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
      const ssize_t n = read(origem_, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      const auto quando = Relógio::now() + atraso_;
      std::lock_guard<std::mutex> trava(mutex_);
      // An empty chunk marks the end: the writer passes it on as a half close.
      fila_.push_back({quando, n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string()});
      cond_.notify_one();
      if (n <= 0) return;
    }
  }

  void escrever() {
    std::unique_lock<std::mutex> trava(mutex_);
    for (;;) {
      cond_.wait(trava, [&] { return parar_ || !fila_.empty(); });
      if (parar_) return;
      const auto quando = fila_.front().quando;
      if (cond_.wait_until(trava, quando, [&] { return parar_.load(); })) return;
      Pedaço pedaço = std::move(fila_.front());
      fila_.pop_front();
      trava.unlock();
      if (pedaço.dados.empty()) {
        shutdown(destino_, SHUT_WR);
        return;
      }
      if (!EnviarTudo(pedaço.dados)) {
        // The other side is gone: end both directions of the connection.
        shutdown(origem_, SHUT_RDWR);
        shutdown(destino_, SHUT_RDWR);
        return;
      }
      trava.lock();
    }
  }

  void interromper() {
    std::lock_guard<std::mutex> trava(mutex_);
    parar_ = true;
    cond_.notify_one();
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
  std::mutex mutex_;
  std::condition_variable cond_;
  std::deque<Pedaço> fila_;
  std::atomic<bool> parar_{false};
};

// A relayed connection: the client's socket, the target's, and the four
// threads. Owns both sockets.
class Ligação {
 public:
  Ligação(int cliente, int alvo, Relógio::duration atraso)
      : cliente_(cliente), alvo_(alvo), ida_(cliente, alvo, atraso), volta_(alvo, cliente, atraso) {
    Iniciar([this] { ida_.ler(); });
    Iniciar([this] { ida_.escrever(); });
    Iniciar([this] { volta_.ler(); });
    Iniciar([this] { volta_.escrever(); });
  }

  ~Ligação() {
    shutdown(cliente_, SHUT_RDWR);
    shutdown(alvo_, SHUT_RDWR);
    ida_.interromper();
    volta_.interromper();
    for (std::thread& t : threads_) t.join();
    close(cliente_);
    close(alvo_);
  }

  Ligação(const Ligação&) = delete;
  Ligação& operator=(const Ligação&) = delete;

  bool terminou() const { return terminadas_ == static_cast<int>(threads_.size()); }

 private:
  template <typename F>
  void Iniciar(F f) {
    threads_.emplace_back([this, f] {
      f();
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
