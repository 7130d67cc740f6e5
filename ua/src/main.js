'use strict';
// hbtua: the OPC UA server of the driver. Opens a points session (which keeps the poller
// alive), builds the address space from the configuration, feeds it with the changes, and
// serves it until SIGTERM or SIGINT.
const fs = require('node:fs');
const { ConfigError, parse_command_line } = require('./config');
const { make_log } = require('./log');

async function read_password(prompt) {
  const lines = [];
  if (process.stdin.isTTY) {
    const readline = require('node:readline');
    const ask = (q) => new Promise((resolve) => {
      const rl = readline.createInterface({ input: process.stdin, output: process.stderr, terminal: true });
      rl._writeToOutput = (s) => { if (s.startsWith(q)) process.stderr.write(q); };
      rl.question(q, (answer) => { rl.close(); process.stderr.write('\n'); resolve(answer); });
    });
    const first = await ask(prompt);
    const second = await ask('Again: ');
    if (first !== second) throw new ConfigError('the two passwords differ');
    return first;
  }
  for await (const chunk of process.stdin) lines.push(chunk);
  return Buffer.concat(lines).toString('utf8').split(/\r?\n/)[0];
}

async function passwd({ file, name, role }) {
  const { set_password } = require('./users');
  const password = await read_password(`Password for ${name}: `);
  const { created, role: finalRole } = await set_password(file, name, password, role);
  process.stderr.write(`hbtua: ${created ? 'added' : 'changed'} user ${name} (${finalRole}) in ${file}\n`);
}

async function serve(settings, portFile, log) {
  // Loaded here, after the command line was checked: the SDK takes seconds to load.
  const sdk = require('node-opcua');
  require('./log').route_sdk_logs(sdk, log);
  const { PointsSession, Result } = require('./points');
  const { UserBook } = require('./users');
  const { start_service } = require('./service');

  const users = settings.users_file ? UserBook.load(settings.users_file) : null;
  if (!users && !settings.allow_anonymous) {
    log.warn('no users_file and no --allow-anonymous: no client can open a session');
  }
  let session;
  try {
    session = PointsSession.open({
      hostLibrary: settings.host_library || null, tagFile: settings.tag_file || null, updateMs: settings.update_ms,
      stallMs: settings.stall_ms,
    });
  } catch (err) {
    if (err.code === Result.NO_DRIVER) {
      err.message += ` (is the driver configured: "ConfigFile" and "DriverExe" in the registry ` +
        `${process.env.HBT_REGISTRY_DIR || '~/.config/hbt/registry'}?)`;
    }
    throw err;
  }
  let service;
  try {
    service = await start_service(settings, { session, users, log });
  } catch (err) {
    session.close();
    throw err;
  }
  if (portFile) fs.writeFileSync(portFile, `${service.port}\n`);
  const policies = settings.allow_insecure ? 'None, Basic256Sha256' : 'Basic256Sha256';
  log.info(`listening on ${service.endpointUrl} (${policies}; ${service.space.variableCount} variables; ` +
    `ready ${Math.round(process.uptime() * 1000)} ms after start)`);

  await new Promise((resolve) => {
    const stop = (signal) => {
      log.info(`${signal}: stopping`);
      resolve();
    };
    process.once('SIGTERM', () => stop('SIGTERM'));
    process.once('SIGINT', () => stop('SIGINT'));
  });
  await service.stop();
  await service.queue.run(() => session.close());
}

async function main(argv) {
  let log = make_log('info');
  let parsed;
  try {
    parsed = parse_command_line(argv);
  } catch (err) {
    process.stderr.write(`hbtua: ${err.message}\nTry 'hbtua --help'.\n`);
    return 2;
  }
  if (parsed.help) {
    process.stdout.write(`${parsed.help}\n`);
    return 0;
  }
  if (parsed.version) {
    process.stdout.write(`hbtua ${parsed.version}\n`);
    return 0;
  }
  try {
    if (parsed.passwd) {
      await passwd(parsed.passwd);
      return 0;
    }
    log = make_log(parsed.settings.log_level);
    await serve(parsed.settings, parsed.portFile, log);
    return 0;
  } catch (err) {
    const known = err instanceof ConfigError || ['StartupError', 'PointsError', 'UsersFileError'].includes(err.constructor.name);
    log.error(known ? err.message : (err.stack || String(err)));
    return known && err instanceof ConfigError && parsed.passwd ? 2 : 1;
  }
}

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => {
    // The SDK keeps timers of its own: end the process once the server is down.
    process.exit(code);
  });
}

module.exports = { main };
