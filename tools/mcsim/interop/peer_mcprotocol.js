// Interoperability with the npm package mcprotocol (written by others; 1E frames over TCP,
// binary or ASCII): words and bits both ways through mcsim.
// Arguments: PORT binary|ascii CONTROL_SOCKET
'use strict';
const MC = require('mcprotocol');
const { control, expect, failed, deadline } = require('./mcsim_control');

const tags = { WORDS: 'D100,3', BITS: 'M10,4', WWORDS: 'D200,2', WBITS: 'M20,3' };

function readAll(conn) {
  return new Promise((resolve) => conn.readAllItems((bad, values) => resolve({ bad, values })));
}
function connect(port, coding) {
  const conn = new MC();
  return new Promise((resolve, reject) => conn.initiateConnection(
      { port: Number(port), host: '127.0.0.1', ascii: coding === 'ascii', octalInputOutput: false },
      (err) => (err === undefined ? resolve(conn) : reject(err))));
}

// This library version reads byte 9 of a 1E write reply, which has 2 bytes, and throws
// from its socket handler. Writes are therefore made one per connection and judged by
// what reached mcsim, with the library's error noted.
let libraryErrors = [];
process.on('uncaughtException', (e) => libraryErrors.push(e.message));

async function writeOne(port, coding, controlPath, tag, value, getLine, expected) {
  const conn = await connect(port, coding);
  conn.setTranslationCB((t) => tags[t]);
  conn.writeItems(tag, value, () => {});
  let reply = '';
  for (let i = 0; i < 40; ++i) {
    [reply] = await control(controlPath, [getLine]);
    if (reply === expected) break;
    await new Promise((r) => setTimeout(r, 50));
  }
  conn.dropConnection();
  return reply;
}

async function main() {
  const [port, coding, controlPath] = process.argv.slice(2);
  deadline(90);
  const label = `mcprotocol TCP 1E ${coding}`;
  await control(controlPath, ['set D100 11 22 33', 'set M10 1 0 1 1']);

  const conn = await connect(port, coding);
  conn.setTranslationCB((tag) => tags[tag]);

  // mcsim -> client
  conn.addItems(['WORDS', 'BITS']);
  const read = await readAll(conn);
  expect(`${label}: read reports good quality`, read.bad, false);
  expect(`${label}: words set in mcsim are read`, read.values.WORDS, [11, 22, 33]);
  expect(`${label}: bits set in mcsim are read`, read.values.BITS, [true, false, true, true]);

  conn.dropConnection();

  // client -> mcsim
  expect(`${label}: words written by the client are in mcsim`,
         await writeOne(port, coding, controlPath, 'WWORDS', [1234, 5678], 'get D200 2', 'ok 1234 5678'),
         'ok 1234 5678');
  expect(`${label}: bits written by the client are in mcsim`,
         await writeOne(port, coding, controlPath, 'WBITS', [true, false, true], 'get M20 3', 'ok 1 0 1'),
         'ok 1 0 1');
  const [stats] = await control(controlPath, ['stats']);
  expect(`${label}: no abnormal replies`, / abnormal=0 /.test(stats), true);
  if (libraryErrors.length) console.log(`NOTE the library could not parse the 2-byte write replies: ${libraryErrors[0]}`);
  process.exit(failed() ? 1 : 0);
}

main().catch((e) => {
  console.log(`FAIL ${e && e.message}`);
  process.exit(1);
});
