'use strict';
// Whole-process tests: a plant of real processes in a private registry and shared-memory
// namespace. mcsim on free ports (controlled through its socket, writing its history), the
// configuration made from CSV by hbtcfg, HBTSPOLL started by the test (so that it can be
// stopped and frozen), and hbtua on a free port with a settings file of the test's choice.
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const bin = process.env.HBT_BIN_DIR || path.resolve(__dirname, '../../build/bin');
const kKey = 'HKLM\\Software\\Velmora\\Brenlow\\Config';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function until(condition, ms, what) {
  const end = Date.now() + ms;
  for (;;) {
    if (await condition()) return;
    if (Date.now() > end) throw new Error(`${what}: not within ${ms} ms`);
    await sleep(25);
  }
}

// A child process whose output is kept (and shown when a test fails).
class Child {
  constructor(file, args, { env, cwd, name }) {
    this.name = name || path.basename(file);
    this.output = '';
    this.proc = spawn(file, args, { env, cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    this.exited = new Promise((resolve) => {
      this.proc.on('exit', (code, signal) => resolve({ code, signal }));
      this.proc.on('error', (err) => resolve({ code: -1, signal: null, error: err }));
    });
    this.done = null;
    this.exited.then((r) => { this.done = r; });
    const keep = (chunk) => { this.output += chunk.toString(); };
    this.proc.stdout.on('data', keep);
    this.proc.stderr.on('data', keep);
  }
  get pid() { return this.proc.pid; }
  signal(sig) { if (!this.done) this.proc.kill(sig); }
  async stop(sig = 'SIGTERM', ms = 10000) {
    if (this.done) return this.done;
    this.proc.kill(sig);
    const r = await Promise.race([this.exited, sleep(ms).then(() => null)]);
    if (r) return r;
    this.proc.kill('SIGKILL');
    return this.exited;
  }
}

// Columns of the configuration CSV (hbtcfg import), as examples/demo_plant.csv has them.
function channel_row(n, port, { tcp = false, timeout = 0.2, delay = 0.5, retries = 1 } = {}) {
  const row = new Array(22).fill('');
  Object.assign(row, { 0: n, 1: 'Yes', 7: timeout.toFixed(1), 8: delay.toFixed(1), 9: retries, 19: '127.0.0.1', 20: port, 21: tcp ? 'TCP' : 'UDP' });
  return row.join(',');
}

// plant: {channels: [{port, tcp}], devices: [{name, channel, description, cpu: 'Q Series'|'AnA',
// records: [[dataType, pollTime, start, length, exception?, deadband?]]}]}
function csv_of(plant) {
  const lines = ['[ HBTHBT  , hbtua test plant ]',
    '!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol'];
  plant.channels.forEach((c, i) => lines.push(channel_row(i + 1, c.port, c)));
  lines.push('', '!DEVICE NAME,CHANNEL,DESCRIPTION,CPU,PROTOCOL,,,,,PRIMARY PLC ADDRESS,Network,Module');
  for (const d of plant.devices) lines.push(`${d.name},${d.channel ?? 1},${d.description || d.name},${d.cpu || 'Q Series'},BINARY,,,,,255,0,0`);
  lines.push('', '!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDRESS,LENGTH');
  let n = 0;
  for (const d of plant.devices) {
    for (const [dataType, poll, start, length, exception = 'Disabled', deadband = 0] of d.records) {
      lines.push(`${++n},${d.name},${dataType},${poll.toFixed(1)},300.0,${exception},${deadband.toFixed(1)},${start},${length}`);
    }
  }
  return `${lines.join('\n')}\n`;
}

class Plant {
  constructor() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hbtua-itest-'));
    this.env = {
      ...process.env,
      HBT_REGISTRY_DIR: path.join(this.dir, 'registry'),
      HBT_NAMESPACE: `hbtua${process.pid}_${Math.random().toString(36).slice(2, 8)}_`,
    };
    this.children = [];
    this.mcsim = null;
    this.server = null;
    this.ports = [];
  }

  path(name) { return path.join(this.dir, name); }

  run(program, args, { input } = {}) {
    const r = spawnSync(path.join(bin, program), args, { env: this.env, cwd: this.dir, input, encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`${program} ${args.join(' ')}: exit ${r.status}\n${r.stdout}${r.stderr}`);
    return r.stdout;
  }

  // mcsim with the given endpoints ("udp:0:3e-binary", ...); resolves once it listens.
  async start_mcsim(listens, extra = []) {
    const args = [];
    for (const l of listens) args.push('--listen', l);
    args.push('--control', this.path('mcsim.ctl'), '--port-file', this.path('mcsim.ports'),
      '--history', this.path('history.txt'), '--no-stdin', '--quiet', ...extra);
    this.mcsim = this.track(new Child(path.join(bin, 'mcsim'), args, { env: this.env, cwd: this.dir }));
    await until(() => {
      try {
        const lines = fs.readFileSync(this.path('mcsim.ports'), 'utf8').trim().split('\n');
        if (lines.length !== listens.length) return false;
        this.ports = lines.map((l) => Number(l.split(/\s+/)[1]));
        return true;
      } catch {
        return false;
      }
    }, 10000, 'mcsim listening');
    return this.ports;
  }

  // One control line to mcsim; its reply ("ok ..."), or throws on "error ...".
  control(line) {
    return new Promise((resolve, reject) => {
      const socket = net.createConnection(this.path('mcsim.ctl'));
      let reply = '';
      socket.on('connect', () => socket.write(`${line}\n`));
      socket.on('data', (d) => {
        reply += d.toString();
        if (reply.includes('\n')) {
          socket.end();
          const text = reply.split('\n')[0];
          if (text.startsWith('ok')) resolve(text);
          else reject(new Error(`mcsim: ${line}: ${text}`));
        }
      });
      socket.on('error', reject);
    });
  }

  // Register values from mcsim: get('D100', 3) → [n, n, n].
  async get(device, count = 1) {
    const reply = await this.control(`get ${device} ${count}`);
    return reply.replace(/^ok\s*/, '').trim().split(/\s+/).map(Number);
  }

  // The configuration (from plant, see csv_of) in PLANT.HBT, recorded in the registry.
  configure(plant) {
    this.import_(plant);
    this.run('hbtreg', ['set', kKey, 'ConfigFile', this.path('PLANT.HBT')]);
    this.run('hbtreg', ['set', kKey, 'DriverExe', `${path.join(bin, 'HBTSPOLL')} S`]);
  }

  import_(plant) {
    fs.writeFileSync(this.path('plant.csv'), csv_of(plant));
    try {
      this.run('hbtcfg', ['import', this.path('plant.csv'), '-o', this.path('PLANT.HBT'), '--errors', this.path('HBTDIDW.ERR')]);
    } catch (err) {
      throw new Error(`${err.message}\n${fs.readFileSync(this.path('HBTDIDW.ERR'), 'utf8')}`);
    }
  }

  // The poller hbtua started through "DriverExe" (found by its namespace in /proc), for the
  // tests that freeze it.
  poller_pid() {
    for (const entry of fs.readdirSync('/proc')) {
      if (!/^\d+$/.test(entry)) continue;
      try {
        const argv0 = fs.readFileSync(`/proc/${entry}/cmdline`, 'latin1').split('\0')[0];
        if (path.basename(argv0) !== 'HBTSPOLL') continue;
        const env = fs.readFileSync(`/proc/${entry}/environ`, 'latin1').split('\0');
        if (env.includes(`HBT_NAMESPACE=${this.env.HBT_NAMESPACE}`)) return Number(entry);
      } catch { /* gone meanwhile, or not ours to read */ }
    }
    return null;
  }

  signal_poller(sig) {
    const pid = this.poller_pid();
    if (!pid) throw new Error('no poller runs');
    process.kill(pid, sig);
    return pid;
  }

  // The poller loads the configuration file again (a new CSV when given).
  reload(plant) {
    if (plant) this.import_(plant);
    this.run('hbtio', ['reload']);
  }

  // hbtua with settings ("name = value" lines over the test defaults); resolves with its
  // endpoint URL once it listens.
  async start_server(settings = {}, { args = [], waitMs = 120000 } = {}) {
    const all = {
      port: 0, data_dir: 'ua-data', update_ms: 20, stall_ms: 1000, ...settings,
    };
    const text = Object.entries(all).map(([k, v]) => `${k} = ${v === true ? 'yes' : v === false ? 'no' : v}`).join('\n');
    fs.writeFileSync(this.path('hbtua.conf'), `${text}\n`);
    fs.rmSync(this.path('ua.port'), { force: true });
    this.server = this.track(new Child(path.join(bin, 'hbtua'), ['--config', this.path('hbtua.conf'), '--port-file',
      this.path('ua.port'), ...args], { env: this.env, cwd: this.dir }));
    await until(() => this.server.done || fs.existsSync(this.path('ua.port')), waitMs, 'hbtua listening');
    if (this.server.done) throw new Error(`hbtua ended (${JSON.stringify(this.server.done)}):\n${this.server.output}`);
    this.port = Number(fs.readFileSync(this.path('ua.port'), 'utf8'));
    this.url = `opc.tcp://localhost:${this.port}`;
    return this.url;
  }

  // Runs hbtua with arguments to its end: {code, output}.
  run_server_once(args, ms = 120000) {
    const r = spawnSync(path.join(bin, 'hbtua'), args, { env: this.env, cwd: this.dir, encoding: 'utf8', timeout: ms });
    return { code: r.status, output: `${r.stdout}${r.stderr}` };
  }

  // A users file with these users ({name: [password, role]}).
  users(table) {
    const file = this.path('users');
    for (const [name, [password, role]] of Object.entries(table)) {
      this.run('hbtua', ['passwd', file, name, '--role', role], { input: `${password}\n` });
    }
    return file;
  }

  track(child) {
    this.children.push(child);
    return child;
  }

  // What every process printed, for a failing test's message.
  outputs() {
    return this.children.map((c) => `--- ${c.name} (${c.done ? JSON.stringify(c.done) : 'running'})\n${c.output}`).join('\n');
  }

  async stop() {
    if (this.server) await this.server.stop('SIGTERM');
    const pid = this.poller_pid();
    if (pid) {
      try { process.kill(pid, 'SIGCONT'); } catch { /* gone */ }
    }
    spawnSync(path.join(bin, 'hbtio'), ['shutdown'], { env: this.env, cwd: this.dir, timeout: 10000 });
    // The poller of this test's namespace ends on the shutdown command; one that does not is
    // ended by its process id.
    await until(() => this.poller_pid() === null, 10000, 'the poller ending').catch(() => {
      const left = this.poller_pid();
      if (left) process.kill(left, 'SIGKILL');
    });
    if (this.mcsim) {
      await this.control('quit').catch(() => {});
      await this.mcsim.stop('SIGTERM');
    }
    for (const c of this.children) await c.stop('SIGKILL', 2000);
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

// Register contents over time, from mcsim's history ("MS TYPE NUMBER VALUE").
class History {
  constructor(file) {
    this.changes = fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => {
      const [ms, type, number, value] = line.trim().split(/\s+/);
      return { ms: Number(ms), reg: `${type}${number}`, value: Number(value) };
    });
  }
  // Contents at `ms`: a function from register name to value (0 when never set).
  at(ms) {
    const state = new Map();
    for (const c of this.changes) {
      if (c.ms > ms) break;
      state.set(c.reg, c.value);
    }
    return (reg) => state.get(reg) ?? 0;
  }
  // The moments the contents changed within (from, to], with `from` first.
  moments(from, to) {
    return [from, ...this.changes.filter((c) => c.ms > from && c.ms <= to).map((c) => c.ms)];
  }
}

function monotonic_ms() { return Number(process.hrtime.bigint()) / 1e6; }

module.exports = { Plant, History, Child, csv_of, until, sleep, monotonic_ms, bin };
