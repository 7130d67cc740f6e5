// mcsim: a MELSEC PLC simulator answering MC protocol requests (3E and 1E frames, binary
// and ASCII coding, over UDP and TCP), for testing and demonstrating clients without PLCs.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/mcsim/faults.h"
#include "tools/mcsim/history.h"
#include "tools/mcsim/server.h"

namespace {

constexpr char kHelp[] = R"(Usage: mcsim --listen PROTOCOL:PORT:FRAME[:plc=NAME] [--listen ...] [options]

Simulates MELSEC PLCs behind an Ethernet module speaking the MC protocol.

Endpoints
  --listen udp:5000:3e-binary    PROTOCOL udp or tcp; PORT 0 picks a free port;
                                 FRAME 3e-binary, 3e-ascii, 1e-binary or 1e-ascii.
                                 All endpoints front the PLC "main" unless given
                                 :plc=NAME (PLCs are created by name on first use).
  --bind ADDRESS                 IPv4 address to listen on (default 127.0.0.1).
  --control PATH                 UNIX stream socket accepting control lines.
  --script FILE                  run control lines from FILE at start (repeatable);
                                 a failing line stops mcsim with exit code 2.
  --port-file FILE               once listening, write "ENDPOINT PORT" per endpoint
                                 (written atomically, after the scripts ran).
  --no-stdin                     do not read control lines from standard input.
  --seed N                       seed of the random fault choices (default 1).
  --history FILE                 write every change of a register or point to FILE,
                                 "MS TYPE NUMBER VALUE" (MS: CLOCK_MONOTONIC in ms).
  --quiet                        no "listening"/"ready" lines.
  -h, --help                     this text.

  mcsim --send SOCKET LINE...    client mode: send control lines to a running mcsim's
                                 --control socket, print the replies; exit 0 when
                                 every reply is "ok ...", 1 otherwise.

Standard output gets "listening udp:127.0.0.1:PORT FRAME plc=NAME" per endpoint, then
"ready" once everything is set up. Control replies to standard input go there too.
Exit codes: 0 after quit or SIGINT/SIGTERM, 1 when setting up fails, 2 bad arguments
or script.

Control lines (standard input, --control, --script), one reply line each, "ok ..." or
"error ..."; blank lines and lines starting with # get no reply:
  get DEV [COUNT]                values, decimal (bits 0/1)      get D100 5
  set DEV VALUE...               write from DEV on (-32768..65535, 0x hex)
  fill DEV COUNT VALUE           write COUNT devices with one value
    DEV is D100, W1F, X1F (X Y B W hexadecimal), M9000, TN5, CN3, TC1,
    EX2:300 (extension file register block 2). Options anywhere on the line:
    @PC (station, default 255 = the PLC carrying the module), cpu=N (CPU of a
    multiple-CPU system), plc=NAME.
  station add PC | station remove PC | station list
                                 stations (PC numbers 0..254) reached through the module
  network N... | network any | network list
                                 network numbers 3E requests may name (0 is the
                                 module's own network); others get end code C05F.
                                 Default any: the number is not examined
  cpus N                         CPUs 1..4 of the module's PLC (module I/O 03E0..03E3)
  size TYPE POINTS               device count of a type (e.g. size D 20000); EX per block
  blocks N                       extension file register blocks 1..N exist (default 8)
  model AnN|AnA|AnU|Q            device ranges of a real CPU of that type (AnS = AnN,
                                 AnAS = AnA); without it the sizes above and the
                                 A-series 1E ranges below apply
  fault EP KIND [ARG...] [p=SHARE]
    EP is udp:PORT or tcp:PORT (the bound port), the --listen text, or * for all.
    drop SHARE                   withhold a share of replies (0.3 or 30%)
    delay TIME [JITTER]          reply after TIME (500, 500ms, 2s) plus random jitter
    code CODE [EXT] [p=SHARE]    answer with this end code (3E, e.g. 0xC056) or
                                 completion code (1E, e.g. 0x5B 0x10) instead; code off
    badcmd [p=SHARE]             replies carry another command code (1E) or
                                 subheader D4 00 (3E); badcmd off
    split BYTES [GAP]            send replies in pieces of BYTES, GAP apart (20ms);
                                 split off
    join [on|off]                hold each reply back and send it with the next one
    close [p=SHARE]              close the TCP connection instead of replying; close off
    refuse [on|off]              close the port: TCP connects are refused, UDP
                                 requests get port unreachable
    silent [on|off]              read requests, never answer (half-open peer)
    slow TIME [p=SHARE]          a share of requests takes TIME longer; slow off
    serial [on|off]              serve requests one at a time, in arrival order: a
                                 delayed or slow one holds up all after it
    clear                        no faults
  fault EP                       show the faults of EP
  move DEV ramp LOW HIGH PERIOD  rise LOW..HIGH over PERIOD, then start again
  move DEV sine LOW HIGH PERIOD  sine between LOW and HIGH
  move DEV counter STEP INTERVAL add STEP every INTERVAL (16-bit wrap)
  move DEV toggle INTERVAL       flip a bit (word: its value and 0, or 0 and 1)
  move DEV stop | move list | move clear
  stats [EP]                     per endpoint: requests replies abnormal dropped
                                 unframeable bytes_in bytes_out accepted open closed
  stats reset [EP]
  endpoints                      list endpoints with their bound ports
  trace on|off                   requests (<) and replies (>) in hexadecimal on stderr
  echo TEXT                      replies "ok TEXT" (a marker for scripts)
  help | quit

What the simulated module answers
  3E (subheader 50 00): batch read 0401 and batch write 1401, subcommand 0000 (words)
  or 0001 (bits); devices X Y B L M F TC TS TN CC CS CN D W R (binary codes 9C 9D A0
  92 90 93 C0 C1 C2 C3 C4 C5 A8 B4 AF; ASCII X* Y* B* L* M* F* TC TS TN CC CS CN D*
  W* R*, numbers hexadecimal for X Y B W). End codes: C050 text not hexadecimal,
  C051 points 0 or above 960 words / 7168 bits (3584 in ASCII), C056 beyond the last
  device, C058 ASCII data length wrong, C059 command or subcommand unknown, C05B
  device code unknown, C05C bit units on a word device, C05F network, PC number or module I/O
  number not there (own CPU 03FF, multiple CPUs 03E0..03E3), C060 bit data other than
  0/1, C061 request data length wrong. Error replies carry network, PC, module I/O,
  station, command and subcommand of the request. Requests with another subheader get
  no reply. The network number is examined only after "network"; the monitoring timer
  is not (replies come at once unless a delay fault is set).
  1E: commands 00/01 batch read bits/words, 02/03 batch write bits/words, 17/18
  extension file register read/write (device code "R ", block number after it in
  binary and before it in ASCII, each field high part first in ASCII). Points 1..256
  (count byte 0 = 256; the byte after it must be 00, or 01 with count 0). A-series
  ranges apply: X Y 0..7FF, B W 0..1FFF, M 0..8191 and M9000..M9255 (special relays,
  bit units only), F T 0..2047, C 0..1023, D R 0..8191, EX blocks 1..8 of 8192. The
  latch relays L have no 1E code: a client asks for them as M. Completion codes:
  50 command unknown, 54 text not hexadecimal, 56 device code unknown, 57 point
  count or request length wrong or the range runs past the last device, 58 head
  device out of range, word device in a bit command, bit device in words not from
  a multiple of 16, or no such extension block, 5B with extended code 10 no such PC
  number.
  TCP requests are framed by their own lengths (3E request data length; 1E command
  and point count), never by receive boundaries; input that is no request of the
  endpoint's frame is discarded (1E answers an unknown command with 50 first).
)";

void usage_error(const std::string& text) {
  std::fprintf(stderr, "mcsim: %s\nTry 'mcsim --help'.\n", text.c_str());
}

// Client mode for shell scripts: one control line per argument, one reply line each.
int send_lines(const char* path, int count, char** lines) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) {
    std::fprintf(stderr, "mcsim: socket path too long\n");
    return 2;
  }
  std::strcpy(addr.sun_path, path);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "mcsim: cannot connect to %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string text;
  int expected = 0;
  for (int i = 0; i < count; ++i) {
    std::string_view line(lines[i]);
    text += line;
    text += '\n';
    // Lines that get no reply: blank ones and comments.
    auto first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] != '#') ++expected;
  }
  if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
    std::fprintf(stderr, "mcsim: send failed\n");
    return 1;
  }
  std::string replies;
  char buf[4096];
  while (std::count(replies.begin(), replies.end(), '\n') < expected) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      std::fprintf(stderr, "mcsim: no reply from %s\n", path);
      return 1;
    }
    replies.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  std::fputs(replies.c_str(), stdout);
  bool all_ok = true;
  std::size_t start = 0;
  while (start < replies.size()) {
    std::size_t end = replies.find('\n', start);
    if (replies.compare(start, 3, "ok ") != 0 && replies.compare(start, end - start, "ok") != 0) all_ok = false;
    start = end + 1;
  }
  return all_ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  using hbt::mcsim::ServerOptions;
  // Sockets opened later must never become "standard input".
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) {
      int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
      }
    }
  }

  if (argc >= 2 && std::string_view(argv[1]) == "--send") {
    if (argc < 4) {
      usage_error("--send needs a socket path and at least one line");
      return 2;
    }
    return send_lines(argv[2], argc - 3, argv + 3);
  }

  ServerOptions options;
  options.read_stdin = true;
  options.handle_signals = true;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        usage_error(std::string(arg) + " needs a value");
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--listen") {
      if (!value(&v)) return 2;
      std::string error;
      auto plan = hbt::mcsim::parse_listen_spec(v, &error);
      if (!plan) {
        usage_error(error);
        return 2;
      }
      options.listens.push_back(*plan);
    } else if (arg == "--bind") {
      if (!value(&options.bind_address)) return 2;
    } else if (arg == "--control") {
      if (!value(&options.control_path)) return 2;
    } else if (arg == "--script") {
      if (!value(&v)) return 2;
      options.scripts.push_back(v);
    } else if (arg == "--port-file") {
      if (!value(&options.port_file)) return 2;
    } else if (arg == "--seed") {
      if (!value(&v)) return 2;
      auto n = hbt::mcsim::parse_integer(v);
      if (!n || *n < 0) {
        usage_error("--seed needs a number");
        return 2;
      }
      options.seed = static_cast<std::uint64_t>(*n);
    } else if (arg == "--history") {
      if (!value(&v)) return 2;
      std::string error;
      if (!hbt::mcsim::start_history(v, &error)) {
        std::fprintf(stderr, "mcsim: %s\n", error.c_str());
        return 1;
      }
    } else if (arg == "--no-stdin") {
      options.read_stdin = false;
    } else if (arg == "--quiet") {
      options.announce = false;
    } else {
      usage_error("unknown argument '" + std::string(arg) + "'");
      return 2;
    }
  }
  if (options.listens.empty()) {
    usage_error("at least one --listen is needed");
    return 2;
  }

  hbt::mcsim::Server server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "mcsim: %s\n", error.c_str());
    return error.find(": error") != std::string::npos ? 2 : 1;
  }
  return server.run();
}
