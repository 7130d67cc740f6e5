'use strict';
// The command line of hbtua-client: options, the command and its arguments, node names and
// the texts of values to write.
const path = require('node:path');
const os = require('node:os');

class UsageError extends Error {}

const kUsage = `Usage: hbtua-client [options] COMMAND [ARGS]

An OPC UA client for the HBT OPC UA server (or any other), on the same SDK.

Commands
  browse [NODE] [-r]            the nodes below NODE (default: Objects); -r: all levels
  read NODE...                  value, type, status and timestamps of each node
  write NODE VALUE [--type T]   writes VALUE (its type: the node's DataType, or T:
                                Boolean, SByte, Byte, Int16, UInt16, Int32, UInt32,
                                Int64, UInt64, Float, Double, String)
  subscribe NODE... [--interval MS] [--sampling MS] [--seconds N]
                    [--deadband X | --percent P]
                                every change until Ctrl-C or N seconds

NODE is an item ID of the driver (QPLC1:D:100, in namespace urn:hbt:driver) or a NodeId
(ns=0;i=2258, i=85, ns=2;s=QPLC1:D:100).

Options
  -e, --endpoint URL     server (default opc.tcp://localhost:4840)
  --security MODE        none, sign or encrypt (default encrypt: Basic256Sha256,
                         SignAndEncrypt)
  -u, --user NAME        user name; the password comes from HBTUA_PASSWORD or
                         --password-file FILE (first line)
  --pki DIR              the client's certificate store (default
                         ~/.local/state/hbt/hbtua-client/pki)
  --timeout MS           connection and request timeout (default 10000)
  --json                 one JSON object per line: node, node_id, value, type, status,
                         status_code, source_time, server_time; subscribe adds event
                         (data, status) and received_ms (CLOCK_MONOTONIC, the clock of
                         mcsim --history)
  -h, --help             this text

Exit status: 0 success, 1 the server refused or a value was not good, 2 wrong usage.`;

const kTypes = Object.freeze(['Boolean', 'SByte', 'Byte', 'Int16', 'UInt16', 'Int32', 'UInt32', 'Int64', 'UInt64',
  'Float', 'Double', 'String']);

function default_pki(env = process.env) {
  const state = env.XDG_STATE_HOME || path.join(env.HOME || os.homedir(), '.local', 'state');
  return path.join(state, 'hbt', 'hbtua-client', 'pki');
}

function parse_number(option, text, { min = 0, integer = true } = {}) {
  const n = Number(text);
  if (text === undefined || text === '' || !Number.isFinite(n) || n < min || (integer && !Number.isInteger(n))) {
    throw new UsageError(`${option} needs a number${min > 0 ? ` of at least ${min}` : ''}, not '${text ?? ''}'`);
  }
  return n;
}

// argv without node and the script → {help} or {options, command, args, flags}.
function parse_arguments(argv, env = process.env) {
  const options = {
    endpoint: 'opc.tcp://localhost:4840', security: 'encrypt', user: null, passwordFile: null, pki: default_pki(env),
    timeout: 10000, json: false,
  };
  const flags = { recursive: false, type: null, interval: 500, sampling: 0, seconds: 0, deadband: null, percent: null };
  const positional = [];
  const value = (i, name) => {
    if (i + 1 >= argv.length) throw new UsageError(`${name} needs a value`);
    return argv[i + 1];
  };
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    switch (a) {
      case '-h': case '--help': return { help: kUsage };
      case '-e': case '--endpoint': options.endpoint = value(i++, a); break;
      case '--security': {
        const mode = value(i++, a);
        if (!['none', 'sign', 'encrypt'].includes(mode)) throw new UsageError('--security is none, sign or encrypt');
        options.security = mode;
        break;
      }
      case '-u': case '--user': options.user = value(i++, a); break;
      case '--password-file': options.passwordFile = value(i++, a); break;
      case '--pki': options.pki = path.resolve(value(i++, a)); break;
      case '--timeout': options.timeout = parse_number(a, value(i++, a), { min: 1 }); break;
      case '--json': options.json = true; break;
      case '-r': case '--recursive': flags.recursive = true; break;
      case '--type': {
        const t = value(i++, a);
        if (!kTypes.includes(t)) throw new UsageError(`--type is one of ${kTypes.join(', ')}`);
        flags.type = t;
        break;
      }
      case '--interval': flags.interval = parse_number(a, value(i++, a)); break;
      case '--sampling': flags.sampling = parse_number(a, value(i++, a)); break;
      case '--seconds': flags.seconds = parse_number(a, value(i++, a), { integer: false }); break;
      case '--deadband': flags.deadband = parse_number(a, value(i++, a), { integer: false }); break;
      case '--percent': flags.percent = parse_number(a, value(i++, a), { integer: false }); break;
      default:
        if (a.startsWith('-') && a.length > 1 && !/^-\d/.test(a)) throw new UsageError(`unknown option '${a}'`);
        positional.push(a);
    }
  }
  const [command, ...args] = positional;
  if (!command) throw new UsageError('a command is needed: browse, read, write or subscribe');
  const counts = { browse: [0, 1], read: [1, Infinity], write: [2, 2], subscribe: [1, Infinity] };
  if (!counts[command]) throw new UsageError(`unknown command '${command}'`);
  const [least, most] = counts[command];
  if (args.length < least || args.length > most) {
    throw new UsageError(`${command} takes ${least === most ? least : most === Infinity ? `at least ${least}` : `${least} to ${most}`} argument(s)`);
  }
  if (flags.deadband !== null && flags.percent !== null) throw new UsageError('--deadband and --percent exclude each other');
  return { options, command, args, flags };
}

// A NodeId text (ns=…;i=…, i=…, s=…) stays as it is; anything else is an item ID of the driver.
function is_node_id_text(text) {
  return /^(ns=\d+;)?[isgb]=/.test(text) || /^nsu=/.test(text);
}

// The value a text stands for, in a UA type: {value} or throws UsageError.
function parse_value(text, type) {
  const fail = () => { throw new UsageError(`'${text}' is not a ${type}`); };
  switch (type) {
    case 'Boolean':
      if (/^(true|1|on|yes)$/i.test(text)) return true;
      if (/^(false|0|off|no)$/i.test(text)) return false;
      return fail();
    case 'Float':
    case 'Double': {
      const n = Number(text);
      if (text.trim() === '' || Number.isNaN(n) && !/^nan$/i.test(text)) fail();
      return n;
    }
    case 'String':
      return text;
    default: {
      if (!/^[+-]?\d+$/.test(text)) fail();
      const ranges = {
        SByte: [-128, 127], Byte: [0, 255], Int16: [-32768, 32767], UInt16: [0, 65535],
        Int32: [-2147483648, 2147483647], UInt32: [0, 4294967295],
        Int64: [-(2n ** 63n), 2n ** 63n - 1n], UInt64: [0n, 2n ** 64n - 1n],
      };
      const [lo, hi] = ranges[type];
      if (type === 'Int64' || type === 'UInt64') {
        const big = BigInt(text);
        if (big < lo || big > hi) throw new UsageError(`${text} does not fit a ${type}`);
        const u = BigInt.asUintN(64, big);
        return [Number(u >> 32n), Number(u & 0xffffffffn)];
      }
      const n = Number(text);
      if (n < lo || n > hi) throw new UsageError(`${text} does not fit a ${type}`);
      return n;
    }
  }
}

module.exports = { parse_arguments, parse_value, is_node_id_text, UsageError, kUsage, kTypes, default_pki };
