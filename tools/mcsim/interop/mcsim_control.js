// Sends control lines to a running mcsim over its --control socket and resolves with the
// reply lines (one per command line).
'use strict';
const net = require('net');

function control(path, lines) {
  return new Promise((resolve, reject) => {
    const socket = net.createConnection(path);
    let text = '';
    socket.on('connect', () => socket.write(lines.join('\n') + '\n'));
    socket.on('data', (chunk) => {
      text += chunk;
      const replies = text.split('\n');
      if (replies.length > lines.length) {
        socket.end();
        resolve(replies.slice(0, lines.length));
      }
    });
    socket.on('error', reject);
  });
}

// Checks that `actual` equals `expected`; prints the outcome and remembers failures.
let failures = 0;
function expect(what, actual, expected) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a === e) {
    console.log(`PASS ${what}`);
  } else {
    failures += 1;
    console.log(`FAIL ${what}: got ${a}, expected ${e}`);
  }
}
function failed() { return failures; }

// Every peer run ends by itself, whatever the library under test does.
function deadline(seconds) {
  setTimeout(() => {
    console.log(`FAIL no result within ${seconds} s`);
    process.exit(1);
  }, seconds * 1000).unref();
}

module.exports = { control, expect, failed, deadline };
