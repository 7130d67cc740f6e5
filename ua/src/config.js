'use strict';
// Settings of the server: defaults, then the settings file (--config), then the command line.
// The file holds "name = value" lines; '#' starts a comment; relative paths are taken from
// the file's folder.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

class ConfigError extends Error {}

const kSettings = Object.freeze({
  port: { kind: 'port', default: 4840, help: 'TCP port of opc.tcp://HOST:PORT (0: any free port)' },
  hostname: { kind: 'text', default: '', help: 'host name in the endpoint URLs (default: this host\'s name)' },
  data_dir: { kind: 'path', default: '', help: 'folder of the certificates (pki/); default $STATE_DIRECTORY, else ~/.local/state/hbt/hbtua' },
  allow_insecure: { kind: 'bool', default: false, help: 'offer SecurityPolicy None as well as Basic256Sha256' },
  allow_anonymous: { kind: 'bool', default: false, help: 'let clients in without a user name' },
  anonymous_role: { kind: 'role', default: 'viewer', help: 'what anonymous clients may do: viewer (read) or operator (write)' },
  users_file: { kind: 'path', default: '', help: 'users and password hashes (hbtua passwd FILE NAME)' },
  tag_file: { kind: 'path', default: '', help: 'extra item IDs: signal conditioning, text and array suffixes' },
  trust_client_certificates: { kind: 'bool', default: false, help: 'accept client certificates not yet in pki/trusted (commissioning only)' },
  max_sessions: { kind: 'count', default: 50, help: 'sessions at once' },
  max_connections: { kind: 'count', default: 100, help: 'connections at once' },
  max_subscriptions: { kind: 'count', default: 200, help: 'subscriptions at once, all sessions' },
  max_subscriptions_per_session: { kind: 'count', default: 20, help: 'subscriptions of one session' },
  max_monitored_items: { kind: 'count', default: 500000, help: 'monitored items at once, all sessions' },
  max_monitored_items_per_subscription: { kind: 'count', default: 200000, help: 'monitored items of one subscription' },
  update_ms: { kind: 'count', default: 20, help: 'how often the driver\'s image is looked at for changes (ms)' },
  stall_ms: { kind: 'count', default: 1000, help: 'a poller whose watchdog stands still this long (ms) is stalled: every value goes bad' },
  host_library: { kind: 'path', default: '', help: 'the host library HBTSTSR.so (default: the one beside the service)' },
  log_level: { kind: 'level', default: 'info', help: 'error, warning, info or debug' },
});

function parse_value(name, kind, text) {
  const fail = (what) => { throw new ConfigError(`${name}: ${what}, not '${text}'`); };
  switch (kind) {
    case 'bool': {
      const t = text.toLowerCase();
      if (['yes', 'true', 'on', '1'].includes(t)) return true;
      if (['no', 'false', 'off', '0'].includes(t)) return false;
      return fail('expected yes or no');
    }
    case 'port': {
      if (!/^\d+$/.test(text) || Number(text) > 65535) fail('expected a port number 0..65535');
      return Number(text);
    }
    case 'count': {
      if (!/^\d+$/.test(text) || Number(text) < 1 || Number(text) > 0x7fffffff) fail('expected a whole number above 0');
      return Number(text);
    }
    case 'role':
      if (text !== 'viewer' && text !== 'operator') fail('expected viewer or operator');
      return text;
    case 'level':
      if (!['error', 'warning', 'info', 'debug'].includes(text)) fail('expected error, warning, info or debug');
      return text;
    default:
      return text;
  }
}

function defaults() {
  const settings = {};
  for (const [name, s] of Object.entries(kSettings)) settings[name] = s.default;
  return settings;
}

// Settings from a settings file's text over `settings`; file names the file in messages
// and anchors relative paths.
function apply_file_text(settings, text, file) {
  const base = path.dirname(path.resolve(file));
  text.split(/\r?\n/).forEach((raw, index) => {
    const line = raw.replace(/(^|\s)#.*$/, '').trim();
    if (!line) return;
    const where = `${file}:${index + 1}`;
    const eq = line.indexOf('=');
    if (eq < 0) throw new ConfigError(`${where}: expected "name = value"`);
    const name = line.slice(0, eq).trim();
    const value = line.slice(eq + 1).trim();
    const setting = kSettings[name];
    if (!setting) throw new ConfigError(`${where}: unknown setting '${name}'`);
    try {
      settings[name] = setting.kind === 'path' && value ? path.resolve(base, value) : parse_value(name, setting.kind, value);
    } catch (err) {
      throw new ConfigError(`${where}: ${err.message}`);
    }
  });
  return settings;
}

const kUsage = `Usage: hbtua [--config FILE] [--port N] [--allow-insecure] [--allow-anonymous] [options]
       hbtua passwd USERS_FILE NAME [--role operator|viewer]

The OPC UA server of the Brenlow Ethernet Driver: the configured PLCs, their poll records
and values as an address space (namespace urn:hbt:driver, NodeIds equal to the host item
IDs, e.g. ns=2;s=QPLC1:D:100), writes through the driver, channel diagnostics and the
driver's messages. It runs in the foreground, logs to standard error and ends on SIGTERM.

Options
  --config FILE        settings file ("name = value" lines, see below)
  --port N             TCP port (default 4840; 0 picks a free one)
  --port-file FILE     once listening, write the port number to FILE
  --allow-insecure     also offer SecurityPolicy None (unsigned, unencrypted)
  --allow-anonymous    accept clients without a user name
  --data-dir DIR       folder of the certificates
  --users FILE         users file (same as users_file)
  --tag-file FILE      tag file (same as tag_file)
  -h, --help           this text
  --version            the version

passwd: adds a user to USERS_FILE or sets a new password; the password is read from
standard input (twice on a terminal). Roles: operator (read and write, the default for a
new user) or viewer (read only).

Settings (file; the command line wins):
${Object.entries(kSettings).map(([n, s]) => `  ${n.padEnd(37)}${s.help} [${s.default === '' ? 'none' : s.default}]`).join('\n')}

Exit status: 0 after SIGTERM or SIGINT, 1 when the server cannot start, 2 wrong usage.`;

// The settings of a command line (argv without node and script). Returns {help}, {version},
// {passwd: {file, name, role}} or {settings, portFile}.
function parse_command_line(argv, env = process.env) {
  if (argv[0] === 'passwd') {
    const rest = argv.slice(1);
    let role = null;
    const roleAt = rest.indexOf('--role');
    if (roleAt >= 0) {
      role = rest[roleAt + 1];
      if (!role) throw new ConfigError('--role needs operator or viewer');
      rest.splice(roleAt, 2);
    }
    if (rest.length !== 2) throw new ConfigError('passwd needs USERS_FILE and NAME');
    return { passwd: { file: rest[0], name: rest[1], role } };
  }
  const flags = {};
  let configFile = null;
  let portFile = null;
  const need = (i, arg) => {
    if (i + 1 >= argv.length) throw new ConfigError(`${arg} needs a value`);
    return argv[i + 1];
  };
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    switch (arg) {
      case '-h': case '--help': return { help: kUsage };
      case '--version': return { version: '7.9.21' };
      case '--config': configFile = need(i, arg); ++i; break;
      case '--port': flags.port = parse_value('--port', 'port', need(i, arg)); ++i; break;
      case '--port-file': portFile = path.resolve(need(i, arg)); ++i; break;
      case '--allow-insecure': flags.allow_insecure = true; break;
      case '--allow-anonymous': flags.allow_anonymous = true; break;
      case '--data-dir': flags.data_dir = path.resolve(need(i, arg)); ++i; break;
      case '--users': flags.users_file = path.resolve(need(i, arg)); ++i; break;
      case '--tag-file': flags.tag_file = path.resolve(need(i, arg)); ++i; break;
      default: throw new ConfigError(`unknown argument '${arg}'`);
    }
  }
  const settings = defaults();
  if (configFile) {
    let text;
    try {
      text = fs.readFileSync(configFile, 'utf8');
    } catch (err) {
      throw new ConfigError(`cannot read the settings file ${configFile}: ${err.code === 'ENOENT' ? 'no such file' : err.message}`);
    }
    apply_file_text(settings, text, configFile);
  }
  Object.assign(settings, flags);
  if (!settings.data_dir) settings.data_dir = default_data_dir(env);
  return { settings, portFile };
}

// systemd's StateDirectory= when run as a service, else the user's state folder.
function default_data_dir(env) {
  if (env.STATE_DIRECTORY) return env.STATE_DIRECTORY.split(':')[0];
  const state = env.XDG_STATE_HOME || path.join(env.HOME || os.homedir(), '.local', 'state');
  return path.join(state, 'hbt', 'hbtua');
}

module.exports = { parse_command_line, apply_file_text, defaults, default_data_dir, ConfigError, kSettings, kUsage };
