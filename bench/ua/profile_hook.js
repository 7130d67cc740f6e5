'use strict';
// Loaded into hbtua by the load run (NODE_OPTIONS=--require): the first SIGUSR2 starts
// V8's CPU profiler, the second writes the profile to $UA_PROFILE_FILE, so that the profile
// covers the serving window only and not the start-up.
const fs = require('node:fs');
const inspector = require('node:inspector');

const session = new inspector.Session();
session.connect();
let running = false;
process.on('SIGUSR2', () => {
  if (!running) {
    running = true;
    session.post('Profiler.enable', () => session.post('Profiler.start'));
    return;
  }
  running = false;
  session.post('Profiler.stop', (err, result) => {
    if (!err) fs.writeFileSync(process.env.UA_PROFILE_FILE, JSON.stringify(result.profile));
  });
});
