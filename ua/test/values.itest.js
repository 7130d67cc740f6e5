'use strict';
// The whole chain as a plant runs it: mcsim → HBTSPOLL → HBTSTSR.so → libhbtpoints.so →
// hbtua → a UA client in this process. Every kind of value is read against what mcsim holds,
// written and read back from mcsim, and subscribed to while mcsim's registers change at
// random: each notification must be a value the registers held in the moments before it
// arrived (in order, never invented), and the last one what the PLC holds at the end.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { AttributeIds, DataType, NodeClass, StatusCodes, Variant } = require('node-opcua');
const { Plant, History, until, sleep, monotonic_ms } = require('./plant');
const { open_session, close_session, browse_names, subscribe } = require('./ua_client');

const plant = new Plant();
let client;

test.before(async () => {
  const [port] = await plant.start_mcsim(['udp:0:3e-binary']);
  plant.configure({
    channels: [{ port }],
    devices: [{ name: 'QPLC1', description: 'Test line', records: [
      ['Unsigned', 0.1, 'D:0', 4], ['Signed', 0.1, 'D:10', 2], ['Float', 0.1, 'D:20', 4],
      ['Long Signed', 0.1, 'D:30', 2], ['Long Unsigned', 0.1, 'D:40', 2], ['ASCII', 0.1, 'D:50', 4],
      ['Digital', 0.1, 'M:0', 16],
    ] }],
  });
  fs.writeFileSync(plant.path('tags.txt'), 'QPLC1:D:0|LIN,0,100,,degC\nQPLC1:D:50$4\nQPLC1:D:3:0\nQPLC1:D:3:2\nQPLC1:D:3:7\n');
  await plant.start_server({ allow_insecure: true, allow_anonymous: true, anonymous_role: 'operator', tag_file: 'tags.txt' });
  client = await open_session({ url: plant.url });
});

test.after(async () => {
  await close_session(client);
  await plant.stop();
});

const f32 = (low, high) => {
  const b = Buffer.alloc(4);
  b.writeUInt16LE(low, 0);
  b.writeUInt16LE(high, 2);
  return b.readFloatLE(0);
};
const words_of_float = (x) => {
  const b = Buffer.alloc(4);
  b.writeFloatLE(x, 0);
  return [b.readUInt16LE(0), b.readUInt16LE(2)];
};
const text_of = (words) => Buffer.from(words.flatMap((w) => [w & 0xff, w >> 8])).toString('latin1').replace(/\0.*$/s, '');
const read = async (id) => client.session.read({ nodeId: client.nodeId(id), attributeId: AttributeIds.Value });
const dump = () => plant.outputs();

test('the PLC, its records and their values, typed from the records, with the tags beside them', async () => {
  const records = await browse_names(client, client.nodeId('QPLC1'));
  assert.deepEqual(records.filter((r) => r.nodeClass === NodeClass.Object).map((r) => r.browseName),
    ['D:0 - D:3', 'D:10 - D:11', 'D:20 - D:23', 'D:30 - D:31', 'D:40 - D:41', 'D:50 - D:53', 'M:0 - M:15']);
  const ids = async (folder) => (await browse_names(client, client.nodeId(`QPLC1:${folder}`))).map((r) => r.nodeId);
  assert.deepEqual((await ids('D:20 - D:23')), ['QPLC1:D:20', 'QPLC1:D:22']);
  assert.deepEqual(await ids('D:50 - D:53'), ['QPLC1:D:50$8']);
  assert.equal((await ids('M:0 - M:15')).length, 16);
  // The tag file's items sit beside the records, in the PLC's folder.
  assert.deepEqual(records.filter((r) => r.nodeClass === NodeClass.Variable).map((r) => r.nodeId).sort(),
    ['QPLC1:D:0|LIN,0,100,,degC', 'QPLC1:D:3:0', 'QPLC1:D:3:2', 'QPLC1:D:3:7', 'QPLC1:D:50$4']);
});

test('every kind of value reads as mcsim holds it', async (t) => {
  const lines = ['set D0 65535 7 8 5', 'set D10 -2 300', `set D20 ${words_of_float(1.5).join(' ')} ${words_of_float(-0.25).join(' ')}`,
    'set D30 0x7960 0xFFFE', 'set D40 0x2800 0xEE6B', 'set D50 0x4248 0x2054 0x4B4F 0', 'set M3 1'];
  for (const l of lines) await plant.control(l);
  const want = [['QPLC1:D:0', 65535, DataType.UInt16], ['QPLC1:D:3', 5, DataType.UInt16], ['QPLC1:D:10', -2, DataType.Int16],
    ['QPLC1:D:20', 1.5, DataType.Float], ['QPLC1:D:22', -0.25, DataType.Float], ['QPLC1:D:30', -100000, DataType.Int32],
    ['QPLC1:D:40', 4000000000, DataType.UInt32], ['QPLC1:D:50$8', 'HBT OK', DataType.String], ['QPLC1:D:50$4', 'HBT ', DataType.String],
    ['QPLC1:M:3', true, DataType.Boolean], ['QPLC1:M:4', false, DataType.Boolean], ['QPLC1:D:3:0', true, DataType.Boolean],
    ['QPLC1:D:3:7', false, DataType.Boolean], ['QPLC1:D:3:2', true, DataType.Boolean], ['QPLC1:D:0|LIN,0,100,,degC', 100, DataType.Double]];
  // Records are read one after another: wait until every value is there (the assertions
  // below then say which one is not).
  await until(async () => {
    for (const [id, value] of want) if ((await read(id)).value.value !== value) return false;
    return true;
  }, 10000, 'every value').catch((err) => t.diagnostic(`${err.message}\n${dump()}`));
  for (const [id, value, type] of want) {
    const dv = await read(id);
    assert.equal(dv.statusCode, StatusCodes.Good, id);
    assert.equal(dv.value.dataType, type, id);
    assert.equal(dv.value.value, value, id);
    assert.ok(Math.abs(dv.sourceTimestamp.getTime() - Date.now()) < 60000, `${id}: a source timestamp of now`);
  }
});

test('writes of every kind reach the PLC', async () => {
  const write = async (id, dataType, value) => client.session.write({
    nodeId: client.nodeId(id), attributeId: AttributeIds.Value, value: { value: new Variant({ dataType, value }) },
  });
  await plant.control('set D3 0');
  await until(async () => (await read('QPLC1:D:3:0')).value.value === false, 10000, 'D3 cleared');
  const statuses = [
    await write('QPLC1:D:1', DataType.UInt16, 1234),
    await write('QPLC1:D:11', DataType.Int16, -7),
    await write('QPLC1:D:22', DataType.Float, 2.5),
    await write('QPLC1:D:30', DataType.Int32, -70000),
    await write('QPLC1:D:40', DataType.UInt32, 4000000001),
    await write('QPLC1:D:50$8', DataType.String, 'WRITTEN'),
    await write('QPLC1:M:5', DataType.Boolean, true),
    await write('QPLC1:D:3:7', DataType.Boolean, true),
    await write('QPLC1:D:0|LIN,0,100,,degC', DataType.Double, 50),
  ];
  assert.deepEqual(statuses.map((s) => s.name), new Array(9).fill('Good'));
  const checks = [
    ['D1', 1, (v) => v[0] === 1234], ['D11', 1, (v) => (v[0] << 16 >> 16) === -7],
    ['D22', 2, (v) => f32(v[0], v[1]) === 2.5], ['D30', 2, (v) => ((v[1] << 16) | v[0]) === -70000],
    ['D40', 2, (v) => (v[1] * 65536 + v[0]) === 4000000001], ['D50', 4, (v) => text_of(v) === 'WRITTEN'],
    ['M5', 1, (v) => v[0] === 1], ['D3', 1, (v) => v[0] === 0x80], ['D0', 1, (v) => v[0] === 32768],
  ];
  for (const [reg, n, ok] of checks) {
    let last;
    await until(async () => ok(last = await plant.get(reg, n)), 10000, `${reg} written (mcsim holds ${last})`);
  }
  // And what the PLC now holds comes back through the variables.
  await until(async () => (await read('QPLC1:D:30')).value.value === -70000, 10000, 'D30 read back');
  await until(async () => (await read('QPLC1:D:50$8')).value.value === 'WRITTEN', 10000, 'D50 read back');
});

test('wrong writes are refused with the status that says why, and nothing reaches the PLC', async () => {
  const before = await plant.get('D2', 1);
  const write = async (id, dataType, value) => client.session.write({
    nodeId: client.nodeId(id), attributeId: AttributeIds.Value, value: { value: new Variant({ dataType, value }) },
  });
  assert.equal(await write('QPLC1:D:2', DataType.String, '12'), StatusCodes.BadTypeMismatch);
  assert.equal(await write('QPLC1:D:2', DataType.Int32, 70000), StatusCodes.BadOutOfRange);
  assert.equal(await write('QPLC1:D:2', DataType.Double, 1.5), StatusCodes.BadTypeMismatch);
  assert.equal(await write('QPLC1:M:1', DataType.Int16, 1), StatusCodes.BadTypeMismatch);
  assert.equal(await write('QPLC1:D:10', DataType.Int32, -40000), StatusCodes.BadOutOfRange);
  assert.equal(await write('QPLC1:D:0 - D:3', DataType.UInt16, 1), StatusCodes.BadNotWritable, 'a folder');
  assert.equal(await write('QPLC1:D:2000', DataType.UInt16, 1), StatusCodes.BadNodeIdUnknown);
  await sleep(300);
  assert.deepEqual(await plant.get('D2', 1), before);
});

test('subscriptions deliver each change as mcsim made it, in order, ending at what the PLC holds', async (t) => {
  const items = ['QPLC1:D:0', 'QPLC1:D:10', 'QPLC1:D:20', 'QPLC1:D:30', 'QPLC1:D:50$8', 'QPLC1:M:3'];
  const sub = await subscribe(client, items, { interval: 50 });
  const start = monotonic_ms();
  let seed = 7;
  const random = () => { seed = (seed * 1103515245 + 12345) & 0x7fffffff; return seed; };
  for (let k = 0; k < 40; ++k) {
    switch (random() % 6) {
      case 0: await plant.control(`set D0 ${random() % 65536}`); break;
      case 1: await plant.control(`set D10 ${(random() % 65536) - 32768}`); break;
      case 2: await plant.control(`set D20 ${words_of_float((random() % 20000 - 10000) / 8).join(' ')}`); break;
      case 3: await plant.control(`set D30 ${random() % 65536} ${random() % 65536}`); break;
      case 4: await plant.control(`set D50 ${[0, 1, 2].map(() => (0x41 + random() % 26) | ((0x61 + random() % 26) << 8)).join(' ')} 0`); break;
      default: await plant.control(`set M3 ${random() % 2}`); break;
    }
    await sleep(20 + random() % 130);
  }
  const expected = {
    'QPLC1:D:0': (r) => r('D0'),
    'QPLC1:D:10': (r) => (r('D10') << 16) >> 16,
    'QPLC1:D:20': (r) => f32(r('D20'), r('D21')),
    'QPLC1:D:30': (r) => ((r('D31') << 16) | r('D30')),
    'QPLC1:D:50$8': (r) => text_of([r('D50'), r('D51'), r('D52'), r('D53')]),
    'QPLC1:M:3': (r) => r('M3') !== 0,
  };
  // Every item settles at what the PLC now holds (generous on a loaded machine).
  let history = null;
  await until(() => {
    history = new History(plant.path('history.txt'));
    const now = history.at(monotonic_ms());
    return items.every((id) => JSON.stringify(sub.items.get(id).values.at(-1)?.value) === JSON.stringify(expected[id](now)));
  }, 15000, 'the last values').catch(() => {});
  let total = 0;
  for (const id of items) {
    const got = sub.items.get(id).values.filter((v) => v.mono >= start && v.status === StatusCodes.Good);
    total += got.length;
    let from = history.changes.length ? history.changes[0].ms : 0;
    for (const v of got) {
      // The earliest moment at or after the previous match, before its arrival, that holds it.
      const moment = history.moments(from, v.mono).find((m) => expected[id](history.at(m)) === v.value);
      if (moment === undefined) {
        t.diagnostic(JSON.stringify(got.map((g) => [g.value, g.mono])));
        assert.fail(`${id}: ${JSON.stringify(v.value)} at ${v.mono} was never held since ${from}`);
      }
      from = moment;
    }
    const last = sub.items.get(id).values.at(-1);
    assert.deepEqual(last.value, expected[id](history.at(monotonic_ms())), `${id}: ends at what the PLC holds`);
  }
  assert.ok(total >= 20, `notifications after the changes began: ${total}`);
  await sub.subscription.terminate();
});
