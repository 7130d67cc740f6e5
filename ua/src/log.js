'use strict';
// Log lines on standard error, "hbtua: [warning: ]text", which the journal or a terminal
// shows as they are. The SDK's own warnings and errors come here too instead of going to
// standard output.
const kLevels = Object.freeze({ error: 0, warning: 1, info: 2, debug: 3 });

function make_log(level = 'info', write = (line) => process.stderr.write(line)) {
  let threshold = kLevels[level] ?? kLevels.info;
  const emit = (lvl, prefix) => (...parts) => {
    if (kLevels[lvl] <= threshold) write(`hbtua: ${prefix}${parts.join(' ')}\n`);
  };
  return {
    error: emit('error', 'error: '),
    warn: emit('warning', 'warning: '),
    info: emit('info', ''),
    debug: emit('debug', 'debug: '),
    set_level(l) { threshold = kLevels[l] ?? threshold; },
  };
}

// Routes the SDK's loggers (which print on standard output) to `log`. Its warnings are about
// its own internals; they show at level debug, its errors as warnings.
function route_sdk_logs(sdk, log) {
  const text = (args) => args.map((a) => (typeof a === 'string' ? a : String(a))).join(' ').trim();
  const set = (name, sink) => { if (typeof sdk[name] === 'function') sdk[name]((_ctx, ...args) => sink(`opcua: ${text(args)}`)); };
  set('setWarningLogger', log.debug);
  set('setErrorLogger', log.warn);
  set('setDebugLogger', log.debug);
  set('setTraceLogger', log.debug);
}

module.exports = { make_log, route_sdk_logs };
