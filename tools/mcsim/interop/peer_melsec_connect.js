// Interoperability with the npm package melsec-connect (written by others): it reads
// values set in mcsim and writes values that mcsim then holds, words and bits both ways.
// Arguments: PORT TCP|UDP 3E|1E binary|ascii CONTROL_SOCKET
'use strict';
const { PLCClient } = require('melsec-connect');
const { control, expect, failed, deadline } = require('./mcsim_control');

async function main() {
  const [port, transport, frame, coding, controlPath] = process.argv.slice(2);
  deadline(90);
  const plc = new PLCClient({
    host: '127.0.0.1', port: Number(port), protocol: transport, frame, ascii: coding === 'ascii',
    plcType: 'Q', timeout: 5000, retryInterval: 200, maxRetries: 1, logLevel: 'ERROR',
  });
  const label = `melsec-connect ${transport} ${frame} ${coding}`;

  // mcsim -> client
  await control(controlPath, ['set D100 11 22 33', 'set M10 1 0 1 1']);
  const read = await plc.read([{ name: 'D100,3' }, { name: 'M10,4' }]);
  expect(`${label}: words set in mcsim are read`, read.results['D100,3'].value, [11, 22, 33]);
  expect(`${label}: bits set in mcsim are read`, read.results['M10,4'].value, [true, false, true, true]);

  // client -> mcsim
  const written = await plc.write([
    { name: 'D200,2', value: [1234, 5678] },
    { name: 'M20,3', value: [true, false, true] },
  ]);
  expect(`${label}: write reports success`, written.success, true);
  const replies = await control(controlPath, ['get D200 2', 'get M20 3', 'stats']);
  if (frame === '1E' && coding === 'ascii') {
    // The library sends 1E ASCII words low byte first ("D204" for 1234) although it reads
    // them high byte first, as the module sends them. mcsim stores what it was sent.
    expect(`${label}: words written by the client are in mcsim (library swaps bytes)`, replies[0],
           'ok 53764 11798');
  } else {
    expect(`${label}: words written by the client are in mcsim`, replies[0], 'ok 1234 5678');
  }
  expect(`${label}: bits written by the client are in mcsim`, replies[1], 'ok 1 0 1');
  expect(`${label}: no abnormal replies`, / abnormal=0 /.test(replies[2]), true);
  await plc.disconnect().catch(() => {});
  process.exit(failed() ? 1 : 0);
}

main().catch((e) => {
  console.log(`FAIL ${e && e.message}`);
  process.exit(1);
});
