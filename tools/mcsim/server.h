// The network side of mcsim: UDP and TCP endpoints, the control socket and standard
// input, served by one thread around epoll, with timers for delayed and split replies.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "tools/mcsim/control.h"
#include "tools/mcsim/simulator.h"

namespace hbt::mcsim {

struct ServerOptions {
  std::vector<ListenSpec> listens;
  std::string bind_address = "127.0.0.1";
  std::string control_path;               // UNIX socket for control lines, if set
  std::vector<std::string> scripts;       // control lines run at start
  std::string port_file;                  // "ENDPOINT PORT" lines once listening
  bool read_stdin = false;                // control lines from standard input
  bool handle_signals = false;            // SIGINT and SIGTERM end run()
  bool announce = true;                   // "listening ..." and "ready" on standard output
  std::uint64_t seed = 1;                 // random choices of the fault injection
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds every endpoint and the control socket and runs the scripts. False with a
  // message when something cannot be set up.
  bool start(std::string* error);
  // Serves until a quit command, a signal or stop(). Returns the process exit code.
  int run();
  // Safe from any thread.
  void stop();

  Simulator& simulator() { return sim_; }
  std::uint16_t port(std::size_t endpoint) const;

 private:
  struct Connection;
  struct ControlClient;
  struct Timer {
    double due_ms;
    std::uint64_t seq;
    std::function<void()> action;
    bool operator>(const Timer& o) const {
      return due_ms != o.due_ms ? due_ms > o.due_ms : seq > o.seq;
    }
  };
  struct Held {  // a reply kept back by the join fault
    std::vector<std::uint8_t> bytes;
    sockaddr_in to{};
  };

  double now_ms() const;
  void at(double due_ms, std::function<void()> action);
  int bound_socket(bool tcp, std::uint16_t port);  // -1 (errno kept) when it cannot be bound
  bool open_endpoint(std::size_t index, std::string* error);
  void close_endpoint(std::size_t index);
  void reconcile();
  void tick();

  // A request of a serial endpoint waits for the one before it: its delay becomes the time
  // to the end of its own service.
  void serialise(std::size_t endpoint, ReplyPlan& plan);
  void on_udp(std::size_t index);
  void on_accept(std::size_t index);
  void on_tcp(std::uint64_t id);
  void on_tcp_writable(std::uint64_t id);
  void process_stream(Connection& c);
  void close_connection(std::uint64_t id, bool by_fault);
  void deliver_tcp(std::uint64_t id, std::vector<std::uint8_t> reply, const ReplyPlan& plan);
  void write_tcp(Connection& c, const std::uint8_t* data, std::size_t size);
  void send_udp(std::size_t index, std::vector<std::uint8_t> reply, const sockaddr_in& to,
                const ReplyPlan& plan);

  void on_control_accept();
  void on_control_client(std::uint64_t id);
  void on_stdin();
  std::string control_line(const std::string& line);
  bool write_port_file(std::string* error);

  ServerOptions options_;
  Simulator sim_;
  Controller controller_;
  int epoll_ = -1;
  int wake_ = -1;
  int signals_ = -1;
  int control_listen_ = -1;
  bool stdin_open_ = false;
  std::string stdin_buffer_;
  std::vector<int> endpoint_fds_;
  std::vector<int> reserved_fds_;  // per TCP endpoint while it refuses: its port, kept
  std::vector<Held> udp_held_;
  std::vector<double> serial_free_ms_;  // per endpoint: when the request in service ends
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::map<std::uint64_t, std::unique_ptr<ControlClient>> control_clients_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
  std::uint64_t next_id_ = 1;
  std::uint64_t timer_seq_ = 0;
  double start_ms_ = 0;
  double next_tick_ms_ = 0;
  in_addr bind_addr_{};
  bool stop_ = false;
};

}  // namespace hbt::mcsim
