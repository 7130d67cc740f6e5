// One npm MC-protocol client reading 10 words (D0..D9) from mcsim in a tight loop, one
// request at a time, for a given time: how many reads it made and the CPU time it took.
// Arguments: CLIENT PORT TRANSPORT FRAME CODING SECONDS
//   CLIENT mcprotocol (1E over TCP) or melsec-connect; TRANSPORT TCP|UDP; FRAME 3E|1E;
//   CODING binary|ascii.
// Prints one line: "requests=N seconds=S user_us=U system_us=K errors=E".
'use strict';

async function mcprotocolReader(port, coding) {
  const MC = require('mcprotocol');
  const conn = new MC();
  await new Promise((resolve, reject) => conn.initiateConnection(
      { port: Number(port), host: '127.0.0.1', ascii: coding === 'ascii', octalInputOutput: false,
        silent: true },
      (err) => (err === undefined ? resolve() : reject(err))));
  conn.setTranslationCB(() => 'D0,10');
  conn.addItems(['WORDS']);
  return {
    read: () => new Promise((resolve) => conn.readAllItems((bad) => resolve(!bad))),
    close: () => conn.dropConnection(),
  };
}

async function melsecConnectReader(port, transport, frame, coding) {
  const { PLCClient } = require('melsec-connect');
  const plc = new PLCClient({
    host: '127.0.0.1', port: Number(port), protocol: transport, frame, ascii: coding === 'ascii',
    plcType: 'Q', timeout: 5000, retryInterval: 200, maxRetries: 1, logLevel: 'ERROR',
  });
  return {
    read: async () => {
      const r = await plc.read([{ name: 'D0,10' }]);
      return Array.isArray(r.results['D0,10'].value);
    },
    close: () => plc.disconnect().catch(() => {}),
  };
}

async function main() {
  const [client, port, transport, frame, coding, seconds] = process.argv.slice(2);
  // The libraries chat on the console; only the result line goes to standard output.
  const out = process.stdout.write.bind(process.stdout);
  console.log = () => {};
  console.info = () => {};
  console.warn = () => {};
  const reader = client === 'mcprotocol' ? await mcprotocolReader(port, coding)
                                         : await melsecConnectReader(port, transport, frame, coding);
  for (let i = 0; i < 50; ++i) await reader.read();  // warm up
  let requests = 0, errors = 0;
  const cpu0 = process.cpuUsage();
  const t0 = process.hrtime.bigint();
  const end = t0 + BigInt(Math.round(Number(seconds) * 1e9));
  while (process.hrtime.bigint() < end) {
    if (await reader.read()) ++requests; else ++errors;
  }
  const wall = Number(process.hrtime.bigint() - t0) / 1e9;
  const cpu = process.cpuUsage(cpu0);
  out(`requests=${requests} seconds=${wall.toFixed(2)} user_us=${cpu.user} system_us=${cpu.system} ` +
      `errors=${errors}\n`);
  reader.close();
  process.exit(0);
}

main().catch((e) => {
  process.stdout.write(`error ${e && e.message}\n`);
  process.exit(1);
});
