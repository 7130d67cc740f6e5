'use strict';
// The service over a points session in memory, seen by a UA client: the address space, values
// and their status codes, writes and what comes back from the driver, subscriptions, a
// reload that removes, adds and moves variables, and the diagnostics.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { AttributeIds, DataType, NodeClass, StatusCodes, Variant } = require('node-opcua');
const { defaults } = require('../src/config');
const { make_log } = require('../src/log');
const { start_service } = require('../src/service');
const { PointType, Quality, WriteResult } = require('../src/points');
const { FakeSession } = require('./fake_points');
const { open_session, close_session, browse_names, subscribe, absolute_deadband, percent_deadband, eventually } = require('./ua_client');

const kPlant = {
  devices: [{ name: 'QPLC1', description: 'Mixing line', records: [
    { range: 'D:0 - D:3', points: [['D:0', PointType.UINT16], ['D:1', PointType.INT16], ['D:2', PointType.UINT16, { writable: 0 }], ['D:3', PointType.UINT16]] },
    { range: 'D:100 - D:103', points: [['D:100', PointType.INT32], ['D:102', PointType.UINT32]] },
    { range: 'D:200 - D:201', points: [['D:200', PointType.FLOAT]] },
    { range: 'M:0 - M:1', points: [['M:0', PointType.BOOL], ['M:1', PointType.BOOL]] },
    { range: 'D:400 - D:404', points: [['D:400', PointType.STRING, { text_length: 10 }],
      ['D:0|LIN,0,100,,degC', PointType.DOUBLE, { analog: 1, eu_low: 0, eu_high: 100, eu_units: 'degC' }]] },
  ] }],
};

// One certificate store for the file: making a key pair for each test costs seconds.
const dataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'hbtua-service-'));
test.after(() => fs.rmSync(dataDir, { recursive: true, force: true }));

async function with_service(t, { settings = {}, plant = kPlant } = {}) {
  const session = new FakeSession(plant);
  const lines = [];
  const log = make_log('info', (line) => lines.push(line));
  const service = await start_service({
    ...defaults(), port: 0, data_dir: dataDir, allow_insecure: true, allow_anonymous: true, anonymous_role: 'operator',
    shutdown_ms: 0, ...settings,
  }, { session, users: null, log, diagnosticsMs: 50 });
  const client = await open_session({ url: service.endpointUrl });
  t.after(async () => {
    await close_session(client);
    await service.stop();
  });
  return { session, service, client, lines };
}

async function read_value(client, itemId) {
  return client.session.read({ nodeId: client.nodeId(itemId), attributeId: AttributeIds.Value });
}

test('the address space: PLC, record and value nodes named as the host names them', async (t) => {
  const { client } = await with_service(t);
  const top = await browse_names(client, 'ns=0;i=85');
  const plc = top.find((r) => r.browseName === 'QPLC1');
  assert.ok(plc, 'the PLC folder under Objects');
  assert.equal(plc.displayName, 'Mixing line');
  assert.ok(top.find((r) => r.browseName === 'Diagnostics'));
  const records = await browse_names(client, client.nodeId('QPLC1'));
  assert.deepEqual(records.map((r) => r.browseName),
    ['D:0 - D:3', 'D:100 - D:103', 'D:200 - D:201', 'M:0 - M:1', 'D:400 - D:404']);
  const vars = await browse_names(client, client.nodeId('QPLC1:D:0 - D:3'));
  assert.deepEqual(vars.map((r) => [r.nodeId, r.browseName, r.nodeClass]),
    [['QPLC1:D:0', 'D:0', NodeClass.Variable], ['QPLC1:D:1', 'D:1', NodeClass.Variable],
      ['QPLC1:D:2', 'D:2', NodeClass.Variable], ['QPLC1:D:3', 'D:3', NodeClass.Variable]]);
  const types = await client.session.read(['D:0', 'D:1', 'D:100', 'D:102', 'D:200', 'M:0', 'D:400', 'D:0|LIN,0,100,,degC']
    .map((n) => ({ nodeId: client.nodeId(`QPLC1:${n}`), attributeId: AttributeIds.DataType })));
  assert.deepEqual(types.map((dv) => dv.value.value.value),
    [DataType.UInt16, DataType.Int16, DataType.Int32, DataType.UInt32, DataType.Float, DataType.Boolean, DataType.String, DataType.Double]);
  const access = await client.session.read(['D:0', 'D:2'].map((n) => ({ nodeId: client.nodeId(`QPLC1:${n}`), attributeId: AttributeIds.AccessLevel })));
  assert.deepEqual(access.map((dv) => dv.value.value & 3), [3, 1], 'D:2 is read-only');
  // The conditioned tag is an AnalogItemType with its range and units.
  const tag = await browse_names(client, client.nodeId('QPLC1:D:0|LIN,0,100,,degC'));
  const euRange = tag.find((r) => r.browseName === 'EURange');
  const units = tag.find((r) => r.browseName === 'EngineeringUnits');
  assert.ok(euRange && units, 'EURange and EngineeringUnits');
  const [range, eu] = await client.session.read([euRange, units].map((r) => ({ nodeId: r.id, attributeId: AttributeIds.Value })));
  assert.deepEqual([range.value.value.low, range.value.value.high], [0, 100]);
  assert.equal(eu.value.value.displayName.text, '°C');
});

test('values and qualities as the driver gives them, with its timestamps', async (t) => {
  const { session, client } = await with_service(t);
  session.set('QPLC1:D:0', { integer: 65535, sourceTime: Date.UTC(2026, 0, 2, 3, 4, 5, 678) });
  session.set('QPLC1:D:1', { integer: -2 });
  session.set('QPLC1:D:100', { integer: -100000 });
  session.set('QPLC1:D:102', { integer: 4000000000 });
  session.set('QPLC1:D:200', { real: -1.5 });
  session.set('QPLC1:M:1', { integer: 1 });
  session.set('QPLC1:D:400', { text: Buffer.from('ABC\0junk') });
  session.set('QPLC1:D:0|LIN,0,100,,degC', { real: 42.25 });
  const want = [['D:0', 65535], ['D:1', -2], ['D:100', -100000], ['D:102', 4000000000], ['D:200', -1.5], ['M:1', true],
    ['D:400', 'ABC'], ['D:0|LIN,0,100,,degC', 42.25]];
  assert.ok(await eventually(async () => (await read_value(client, 'QPLC1:D:0|LIN,0,100,,degC')).value.value === 42.25));
  for (const [name, value] of want) {
    const dv = await read_value(client, `QPLC1:${name}`);
    assert.equal(dv.value.value, value, name);
    assert.equal(dv.statusCode, StatusCodes.Good, name);
  }
  assert.equal((await read_value(client, 'QPLC1:D:0')).sourceTimestamp.getTime(), Date.UTC(2026, 0, 2, 3, 4, 5, 678));

  const statuses = [[Quality.COMM_FAILURE, 4293, StatusCodes.BadCommunicationError],
    [Quality.EXPIRED, 4296, StatusCodes.UncertainLastUsableValue], [Quality.NOT_POLLED, 4297, StatusCodes.BadOutOfService],
    [Quality.STALLED, 0, StatusCodes.BadNoCommunication], [Quality.GOOD, 0, StatusCodes.Good]];
  for (const [quality, status, code] of statuses) {
    session.set('QPLC1:D:0', { quality, status });
    assert.ok(await eventually(async () => (await read_value(client, 'QPLC1:D:0')).statusCode === code), code.name);
    assert.equal((await read_value(client, 'QPLC1:D:0')).value.value, 65535, `${code.name} keeps the last value`);
  }
});

test('writes go to the driver with the point\'s type; its results and refusals reach the client', async (t) => {
  const { session, client } = await with_service(t);
  const write = async (name, dataType, value) => client.session.write({
    nodeId: client.nodeId(`QPLC1:${name}`), attributeId: AttributeIds.Value,
    value: { value: new Variant({ dataType, value }) },
  });
  assert.equal(await write('D:0', DataType.UInt16, 1234), StatusCodes.Good);
  assert.equal(await write('D:1', DataType.Int16, -7), StatusCodes.Good);
  assert.equal(await write('D:100', DataType.Int32, -70000), StatusCodes.Good);
  assert.equal(await write('D:102', DataType.UInt32, 4000000001), StatusCodes.Good);
  assert.equal(await write('D:200', DataType.Float, 2.5), StatusCodes.Good);
  assert.equal(await write('M:0', DataType.Boolean, true), StatusCodes.Good);
  assert.equal(await write('D:400', DataType.String, 'HELLO'), StatusCodes.Good);
  assert.equal(await write('D:0|LIN,0,100,,degC', DataType.Double, 12.5), StatusCodes.Good);
  const written = session.writes.flat().map((v) => [v.id, v.type, v.integer ?? v.real ?? v.text.toString()]);
  const id = (n) => session.point_id(`QPLC1:${n}`);
  assert.deepEqual(written, [[id('D:0'), PointType.UINT16, 1234], [id('D:1'), PointType.INT16, -7],
    [id('D:100'), PointType.INT32, -70000], [id('D:102'), PointType.UINT32, 4000000001], [id('D:200'), PointType.FLOAT, 2.5],
    [id('M:0'), PointType.BOOL, 1], [id('D:400'), PointType.STRING, 'HELLO'], [id('D:0|LIN,0,100,,degC'), PointType.DOUBLE, 12.5]]);
  assert.equal((await read_value(client, 'QPLC1:D:0')).value.value, 0, 'the variable shows what the PLC holds, not the write');

  session.writes.length = 0;
  assert.equal(await write('D:2', DataType.UInt16, 1), StatusCodes.BadNotWritable);
  assert.equal(await write('D:0', DataType.String, '1'), StatusCodes.BadTypeMismatch);
  assert.equal(await write('D:0', DataType.Int32, 70000), StatusCodes.BadOutOfRange);
  assert.equal(await write('M:0', DataType.Double, 1), StatusCodes.BadTypeMismatch);
  assert.deepEqual(session.writes, [], 'refused writes never reach the driver');

  const results = [[WriteResult.CLAMPED, StatusCodes.GoodClamped], [WriteResult.OUT_OF_RANGE, StatusCodes.BadOutOfRange],
    [WriteResult.TYPE_MISMATCH, StatusCodes.BadTypeMismatch], [WriteResult.NOT_WRITABLE, StatusCodes.BadNotWritable],
    [WriteResult.COMM_FAILURE, StatusCodes.BadCommunicationError], [WriteResult.UNKNOWN_POINT, StatusCodes.BadNodeIdUnknown]];
  for (const [result, code] of results) {
    session.writeResults.set('QPLC1:D:0|LIN,0,100,,degC', result);
    assert.equal(await write('D:0|LIN,0,100,,degC', DataType.Double, 500), code, code.name);
  }
  session.failWrites = new Error('driver gone');
  assert.equal(await write('D:0', DataType.UInt16, 1), StatusCodes.BadCommunicationError);
  session.failWrites = null;

  // One Write request of many values is one call of the driver.
  session.writes.length = 0;
  const many = await client.session.write(['D:0', 'D:1', 'D:3'].map((n, k) => ({
    nodeId: client.nodeId(`QPLC1:${n}`), attributeId: AttributeIds.Value, value: { value: new Variant({ dataType: DataType.Int16, value: k }) },
  })));
  assert.deepEqual(many, [StatusCodes.Good, StatusCodes.Good, StatusCodes.Good]);
  assert.equal(session.writes.length, 1);
  assert.equal(session.writes[0].length, 3);
});

test('a viewer reads but cannot write', async (t) => {
  const { session, client } = await with_service(t, { settings: { anonymous_role: 'viewer' } });
  const status = await client.session.write({
    nodeId: client.nodeId('QPLC1:D:0'), attributeId: AttributeIds.Value,
    value: { value: new Variant({ dataType: DataType.UInt16, value: 1 }) },
  });
  assert.equal(status, StatusCodes.BadUserAccessDenied);
  assert.deepEqual(session.writes, []);
});

test('subscriptions get each change the feed brings, within the client\'s deadbands', async (t) => {
  const { session, client } = await with_service(t);
  const sub = await subscribe(client, ['QPLC1:D:0', 'QPLC1:M:0']);
  const tagSub = await subscribe(client, ['QPLC1:D:0|LIN,0,100,,degC'], { filter: percent_deadband(10) });
  const absSub = await subscribe(client, ['QPLC1:D:1'], { filter: absolute_deadband(5) });
  const values = (s, id) => s.items.get(id).values.map((v) => v.value);
  for (let k = 1; k <= 5; ++k) {
    session.set('QPLC1:D:0|LIN,0,100,,degC', { real: k * 3 });  // 10 % of 0..100
    session.set('QPLC1:D:1', { integer: k * 2 });          // the client's deadband: 5
    session.set('QPLC1:D:0', { integer: k });
    // One step at a time: the next change only once this one reached the client.
    assert.ok(await eventually(() => values(sub, 'QPLC1:D:0').at(-1) === k), `step ${k}`);
    await new Promise((resolve) => setTimeout(resolve, 120));
  }
  session.set('QPLC1:M:0', { integer: 1 });
  assert.ok(await eventually(() => values(sub, 'QPLC1:M:0').at(-1) === true));
  assert.deepEqual(values(sub, 'QPLC1:D:0'), [0, 1, 2, 3, 4, 5]);
  assert.deepEqual(values(tagSub, 'QPLC1:D:0|LIN,0,100,,degC'), [0, 12]);
  assert.deepEqual(values(absSub, 'QPLC1:D:1'), [0, 6]);
  assert.deepEqual(values(sub, 'QPLC1:M:0'), [false, true]);
});

test('a reload: what stays keeps its subscriptions, what goes says BadNodeIdUnknown, what comes is there', async (t) => {
  const { session, client } = await with_service(t);
  const sub = await subscribe(client, ['QPLC1:D:0', 'QPLC1:D:1', 'QPLC1:M:0']);
  session.load({
    devices: [{ name: 'QPLC1', description: 'Mixing line (new)', records: [
      { range: 'D:0 - D:0', points: [['D:0', PointType.UINT16]] },
      { range: 'D:1 - D:1', points: [['D:1', PointType.FLOAT]] },
      { range: 'X:0 - X:0', points: [['X:0', PointType.BOOL]] },
    ] }, { name: 'NEW2', records: [{ range: 'W:0 - W:0', points: [['W:0', PointType.UINT16]] }] }],
  });
  const last = (id) => sub.items.get(id).values.at(-1) ?? {};
  assert.ok(await eventually(() => last('QPLC1:M:0').status === StatusCodes.BadNodeIdUnknown), 'removed item');
  assert.ok(await eventually(() => last('QPLC1:D:1').status === StatusCodes.BadNodeIdUnknown), 'item whose type changed');
  assert.equal((await read_value(client, 'QPLC1:M:0')).statusCode, StatusCodes.BadNodeIdUnknown);
  assert.equal((await read_value(client, 'QPLC1:D:1')).value.dataType, DataType.Float, 'remade with its new type');
  session.set('QPLC1:D:0', { integer: 77 });
  assert.ok(await eventually(() => last('QPLC1:D:0').value === 77), 'kept item keeps notifying');
  const records = await browse_names(client, client.nodeId('QPLC1'));
  assert.deepEqual(records.map((r) => r.browseName), ['D:0 - D:0', 'D:1 - D:1', 'X:0 - X:0']);
  assert.deepEqual((await browse_names(client, client.nodeId('QPLC1:D:0 - D:0'))).map((r) => r.nodeId), ['QPLC1:D:0']);
  assert.equal((await read_value(client, 'NEW2:W:0')).statusCode, StatusCodes.Good);
  const top = await browse_names(client, 'ns=0;i=85');
  assert.equal(top.find((r) => r.browseName === 'QPLC1').displayName, 'Mixing line (new)');
  assert.equal((await client.session.read({ nodeId: client.nodeId('QPLC1:D:0 - D:3'), attributeId: AttributeIds.BrowseName })).statusCode,
    StatusCodes.BadNodeIdUnknown, 'the old record folder is gone');
});

test('diagnostics: the driver, its channels and its messages', async (t) => {
  const { session, client } = await with_service(t);
  session.channelList = [{
    channel: 1, inService: true, tcp: false, onBackup: false, address: '127.0.0.1:5000', requestsSent: 10,
    repliesReceived: 9, retries: 1, replyTimeouts: 1, rejectedReplies: 0, abnormalCodes: 2, lastEndCode: 0xc056,
    pollsPerSecond: 12.5, deviceCount: 1, recordCount: 5,
  }];
  session.add_message(0x46, 'Communication Failure Chan 1 Dev =QPLC1 Pollrec 1');
  const diag = (name) => client.session.read({ nodeId: client.nodeId(`Diagnostics/${name}`), attributeId: AttributeIds.Value });
  assert.ok(await eventually(async () => (await diag('Channels/Channel 1/TX')).value.value === 10));
  assert.equal((await diag('Channels/Channel 1/RX')).value.value, 9);
  const overwrite = await client.session.write({
    nodeId: client.nodeId('Diagnostics/Channels/Channel 1/TX'), attributeId: AttributeIds.Value,
    value: { value: new Variant({ dataType: DataType.UInt32, value: 0 }) },
  });
  assert.equal(overwrite, StatusCodes.BadNotWritable, 'what the driver reports cannot be overwritten');
  assert.equal((await diag('Channels/Channel 1/PollsPerSecond')).value.value, 12.5);
  assert.equal((await diag('Channels/Channel 1/LastError')).value.value, 'end code 0xC056');
  assert.equal((await diag('Channels/Channel 1/Address')).value.value, '127.0.0.1:5000');
  assert.equal((await diag('Driver/PointCount')).value.value, 11);
  assert.equal((await diag('Service/Variables')).value.value, 11);
  session.set('QPLC1:D:1', { integer: 5, sourceTime: Date.now() - 30 });
  assert.ok(await eventually(async () => (await diag('Service/FeedLagMaxMs')).value.value >= 30), 'the feed lag is measured');
  assert.equal((await diag('Driver/ConfigFile')).value.value, '/fake/PLANT.HBT');
  assert.ok(await eventually(async () => (await diag('Messages')).value.value.length === 1));
  assert.deepEqual((await diag('Messages')).value.value, ['Communication Failure Chan 1 Dev =QPLC1 Pollrec 1']);
  session.channelList = [];
  assert.ok(await eventually(async () => (await diag('Channels/Channel 1/TX')).statusCode === StatusCodes.BadNodeIdUnknown),
    'a channel no longer configured leaves');
  const build = await client.session.read({ nodeId: 'ns=0;i=2264', attributeId: AttributeIds.Value });  // BuildInfo.SoftwareVersion
  assert.equal(build.value.value, '7.9.21');
});
