'use strict';
// The plant going wrong under a subscribed client: a PLC that goes silent (Bad within the
// poller's failure time, Good again after), a poller that stalls (every value Bad within one
// look), a reload that removes and adds records, and twenty clients that come and go.
const test = require('node:test');
const assert = require('node:assert/strict');
const { AttributeIds, StatusCodes } = require('node-opcua');
const { Plant, until, sleep } = require('./plant');
const { open_session, close_session, browse_names, subscribe } = require('./ua_client');

const plant = new Plant();
let client;
let ports;

const config = (records) => ({
  channels: [{ port: ports[0] }, { port: ports[1] }],
  devices: [
    { name: 'QPLC1', channel: 1, records },
    { name: 'QPLC2', channel: 2, records: [['Unsigned', 0.1, 'D:0', 2]] },
  ],
});
const kFirst = [['Unsigned', 0.1, 'D:0', 4], ['Digital', 0.1, 'M:0', 8]];

test.before(async () => {
  ports = await plant.start_mcsim(['udp:0:3e-binary', 'udp:0:3e-binary:plc=second']);
  plant.configure(config(kFirst));
  await plant.start_server({ allow_insecure: true, allow_anonymous: true, stall_ms: 500, max_sessions: 40 });
  client = await open_session({ url: plant.url });
});

test.after(async () => {
  await close_session(client);
  await plant.stop();
});

const read_status = async (id) => (await client.session.read({ nodeId: client.nodeId(id), attributeId: AttributeIds.Value })).statusCode;
const last = (sub, id) => sub.items.get(id).values.at(-1) || {};

test('a silent PLC: its values go BadCommunicationError within the failure time, the others stay Good, and come back', async () => {
  await plant.control('set D0 41 42');
  const sub = await subscribe(client, ['QPLC1:D:0', 'QPLC1:M:0', 'QPLC2:D:0']);
  await until(() => last(sub, 'QPLC1:D:0').value === 41, 10000, 'D0 good first')
    .catch((err) => { throw new Error(`${err.message}: ${JSON.stringify(sub.items.get('QPLC1:D:0').values)}\n${plant.outputs()}`); });
  const t0 = Date.now();
  await plant.control(`fault udp:${ports[0]} silent on`);
  // Reply timeout 0.2 s, one retry: 0.4 s per record, then the status word says so.
  await until(() => last(sub, 'QPLC1:D:0').status === StatusCodes.BadCommunicationError, 10000, 'D0 bad');
  await until(() => last(sub, 'QPLC1:M:0').status === StatusCodes.BadCommunicationError, 10000, 'M0 bad');
  const took = Date.now() - t0;
  assert.ok(took < 5000, `bad after ${took} ms`);
  assert.equal(last(sub, 'QPLC1:D:0').value, 41, 'the last value is kept');
  assert.equal(last(sub, 'QPLC2:D:0').status, StatusCodes.Good, 'the other PLC stays good');
  await plant.control('set D0 43');
  await plant.control(`fault udp:${ports[0]} clear`);
  await until(() => last(sub, 'QPLC1:D:0').status === StatusCodes.Good && last(sub, 'QPLC1:D:0').value === 43, 10000, 'D0 good again');
  await sub.subscription.terminate();
});

test('a stalled poller: every value goes BadNoCommunication within a look of the stall time, and Good after', async () => {
  const sub = await subscribe(client, ['QPLC1:D:0', 'QPLC1:M:0', 'QPLC2:D:0']);
  await until(() => last(sub, 'QPLC2:D:0').status === StatusCodes.Good, 10000, 'good first');
  const t0 = Date.now();
  plant.signal_poller('SIGSTOP');
  try {
    for (const id of ['QPLC1:D:0', 'QPLC1:M:0', 'QPLC2:D:0']) {
      await until(() => last(sub, id).status === StatusCodes.BadNoCommunication, 10000, `${id} bad`);
    }
    const took = Date.now() - t0;
    assert.ok(took < 3000, `all bad after ${took} ms (stall_ms 500)`);
    assert.equal(await read_status('QPLC2:D:0'), StatusCodes.BadNoCommunication);
  } finally {
    plant.signal_poller('SIGCONT');
  }
  for (const id of ['QPLC1:D:0', 'QPLC1:M:0', 'QPLC2:D:0']) {
    await until(() => last(sub, id).status === StatusCodes.Good, 10000, `${id} good again`);
  }
  await sub.subscription.terminate();
});

test('a reload that removes and adds records: kept items go on, removed ones say BadNodeIdUnknown', async () => {
  const sub = await subscribe(client, ['QPLC1:D:0', 'QPLC1:M:0', 'QPLC1:D:3']);
  await until(() => last(sub, 'QPLC1:M:0').status === StatusCodes.Good, 10000, 'good first');
  plant.reload(config([['Unsigned', 0.1, 'D:0', 2], ['Signed', 0.1, 'D:100', 2]]));
  await until(() => last(sub, 'QPLC1:M:0').status === StatusCodes.BadNodeIdUnknown, 20000, 'M0 removed');
  await until(() => last(sub, 'QPLC1:D:3').status === StatusCodes.BadNodeIdUnknown, 20000, 'D3 removed');
  assert.equal(await read_status('QPLC1:M:0'), StatusCodes.BadNodeIdUnknown);
  await until(async () => (await read_status('QPLC1:D:100')) === StatusCodes.Good, 20000, 'D100 added');
  const folders = (await browse_names(client, client.nodeId('QPLC1'))).map((r) => r.browseName);
  assert.deepEqual(folders, ['D:0 - D:1', 'D:100 - D:101']);
  await plant.control('set D0 777');
  await until(() => last(sub, 'QPLC1:D:0').value === 777 && last(sub, 'QPLC1:D:0').status === StatusCodes.Good, 10000,
    'D0 kept, still notifying');
  await sub.subscription.terminate();
});

test('twenty clients connecting, subscribing and dropping at random leave the server serving', async () => {
  let seed = 11;
  const random = (n) => { seed = (seed * 1103515245 + 12345) & 0x7fffffff; return seed % n; };
  const one = async (k) => {
    await sleep(random(1500));
    const c = await open_session({ url: plant.url });
    try {
      if (k % 2) await subscribe(c, ['QPLC1:D:0', 'QPLC2:D:0'], { interval: 100 });
      const dv = await c.session.read({ nodeId: c.nodeId('QPLC2:D:0'), attributeId: AttributeIds.Value });
      assert.equal(dv.statusCode, StatusCodes.Good);
      await sleep(random(1500));
    } finally {
      // Half leave politely, half drop the connection under their session.
      if (k % 4 < 2) await close_session(c);
      else await c.client.disconnect();
    }
  };
  const results = await Promise.allSettled(Array.from({ length: 20 }, (_, k) => one(k)));
  const failed = results.filter((r) => r.status === 'rejected').map((r) => r.reason.message);
  assert.deepEqual(failed, []);
  assert.equal(await read_status('QPLC2:D:0'), StatusCodes.Good, 'the first client is still served');
  const again = await open_session({ url: plant.url });
  await close_session(again);
  assert.equal(plant.server.done, null, 'hbtua still runs');
  assert.ok(plant.poller_pid(), 'and keeps the poller it started running');
});
