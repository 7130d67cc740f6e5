'use strict';
// Who gets in and what they may do, with the settings a plant runs: Basic256Sha256 only, a
// client certificate trusted by the administrator, users from the password file, a session
// limit. Then bad input, faults at start-up (a port in use, an unreadable certificate) and
// the end on SIGTERM.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { AttributeIds, DataType, StatusCodes, Variant, NodeId, NodeIdType } = require('node-opcua');
const { Plant, until } = require('./plant');
const { open_session, close_session } = require('./ua_client');

const plant = new Plant();
const sessions = [];
const kUsers = { anna: ['anna-secret', 'operator'], ben: ['ben-secret', 'viewer'] };
let pki;

test.before(async () => {
  const [port] = await plant.start_mcsim(['udp:0:3e-binary']);
  plant.configure({ channels: [{ port }], devices: [{ name: 'QPLC1', records: [['Unsigned', 0.1, 'D:0', 4]] }] });
  plant.users(kUsers);
  await plant.start_server({ users_file: 'users', max_sessions: 3 });
  pki = plant.path('client-pki');
});

test.after(async () => {
  for (const s of sessions) await close_session(s);
  await plant.stop();
});

const as = (user, mode = 'SignAndEncrypt') => ({ url: plant.url, mode, user, password: user && kUsers[user][0], pkiDir: pki });
const write = (s, id, dataType, value) => s.session.write({
  nodeId: s.nodeId(id), attributeId: AttributeIds.Value, value: { value: new Variant({ dataType, value }) },
});

test('SecurityPolicy None is refused without --allow-insecure', async () => {
  await assert.rejects(open_session({ url: plant.url, mode: 'None', user: 'anna', password: 'anna-secret' }));
});

test('a client certificate is refused until the administrator trusts it', async () => {
  await assert.rejects(open_session(as('anna')));
  const rejected = plant.path('ua-data/pki/rejected');
  await until(() => fs.existsSync(rejected) && fs.readdirSync(rejected).length > 0, 10000, 'the certificate among the rejected');
  const trusted = plant.path('ua-data/pki/trusted/certs');
  for (const f of fs.readdirSync(rejected)) fs.renameSync(path.join(rejected, f), path.join(trusted, f));
  let s;
  await until(async () => {
    s = await open_session(as('anna')).catch(() => null);
    return s !== null;
  }, 20000, 'a session once trusted');
  sessions.push(s);
  const signOnly = await open_session(as('anna', 'Sign'));
  await close_session(signOnly);
});

test('users: an operator writes, a viewer only reads, a wrong password and anonymous are refused', async () => {
  const anna = sessions[0];
  assert.equal(await write(anna, 'QPLC1:D:1', DataType.UInt16, 321), StatusCodes.Good);
  await until(async () => (await plant.get('D1'))[0] === 321, 10000, 'D1 written');
  const ben = await open_session(as('ben'));
  try {
    const dv = await ben.session.read({ nodeId: ben.nodeId('QPLC1:D:1'), attributeId: AttributeIds.Value });
    assert.equal(dv.statusCode, StatusCodes.Good);
    assert.equal(await write(ben, 'QPLC1:D:1', DataType.UInt16, 5), StatusCodes.BadUserAccessDenied);
  } finally {
    await close_session(ben);
  }
  await assert.rejects(open_session({ ...as('anna'), password: 'wrong' }));
  await assert.rejects(open_session({ ...as(null), user: 'nobody', password: 'x' }));
  await assert.rejects(open_session({ ...as(null) }), 'anonymous');
  assert.ok(!fs.readFileSync(plant.path('users'), 'utf8').includes('anna-secret'), 'passwords are kept hashed');
});

test('sessions past the limit are refused and the server stays up', async () => {
  const opened = [];
  let refused = null;
  for (let k = 0; k < 4 && !refused; ++k) {
    try {
      opened.push(await open_session(as('anna')));
    } catch (err) {
      refused = err;
    }
  }
  assert.ok(refused, 'the fourth session is refused');
  assert.match(refused.message, /TooManySessions|BadTooManySessions|refused/i);
  assert.equal(opened.length, 2, 'three in all with the first');
  await close_session(opened.pop());
  const again = await open_session(as('anna'));
  opened.push(again);
  const dv = await again.session.read({ nodeId: again.nodeId('QPLC1:D:0'), attributeId: AttributeIds.Value });
  assert.equal(dv.statusCode, StatusCodes.Good);
  for (const s of opened) await close_session(s);
});

test('malformed and unknown NodeIds, bad attributes and writes to what is not a value are refused one by one', async () => {
  const s = sessions[0];
  const nodes = [
    new NodeId(NodeIdType.STRING, 'NOPE:D:0', s.ns), new NodeId(NodeIdType.STRING, '', s.ns),
    new NodeId(NodeIdType.STRING, 'QPLC1:D:0\u0000', s.ns), new NodeId(NodeIdType.STRING, 'QPLC1:'.padEnd(4000, 'D'), s.ns),
    new NodeId(NodeIdType.STRING, 'qplc1:d:0', s.ns), new NodeId(NodeIdType.NUMERIC, 5, 99),
    new NodeId(NodeIdType.STRING, 'QPLC1:D:0', 99), new NodeId(NodeIdType.GUID, '72962B91-FA75-4AE6-8D28-B404DC7DAF63', s.ns),
  ];
  const values = await s.session.read(nodes.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })));
  assert.deepEqual(values.map((v) => v.statusCode.name), new Array(nodes.length).fill('BadNodeIdUnknown'));
  const attr = await s.session.read({ nodeId: s.nodeId('QPLC1:D:0'), attributeId: 999 });
  assert.equal(attr.statusCode, StatusCodes.BadAttributeIdInvalid);
  const browsed = await s.session.browse(new NodeId(NodeIdType.STRING, 'NOPE', s.ns));
  assert.equal(browsed.statusCode, StatusCodes.BadNodeIdUnknown);
  assert.equal(await write(s, 'Diagnostics/Driver/Running', DataType.Boolean, false), StatusCodes.BadNotWritable);
  assert.equal(await write(s, 'QPLC1:D:0 - D:3', DataType.UInt16, 1), StatusCodes.BadNotWritable);
  const wrongAttribute = await s.session.write({
    nodeId: s.nodeId('QPLC1:D:0'), attributeId: AttributeIds.DisplayName,
    value: { value: new Variant({ dataType: DataType.LocalizedText, value: { text: 'x' } }) },
  });
  assert.notEqual(wrongAttribute, StatusCodes.Good);
  const dv = await s.session.read({ nodeId: s.nodeId('QPLC1:D:0'), attributeId: AttributeIds.Value });
  assert.equal(dv.statusCode, StatusCodes.Good, 'and it still serves');
});

test('start-up faults: a port in use, an unreadable certificate, bad usage', async () => {
  const busy = plant.run_server_once(['--port', String(plant.port), '--data-dir', plant.path('ua-data'), '--allow-anonymous']);
  assert.equal(busy.code, 1, busy.output);
  assert.match(busy.output, new RegExp(`port ${plant.port} is in use`));
  const data = plant.path('ua-data3');
  fs.mkdirSync(path.join(data, 'pki/own/certs'), { recursive: true });
  fs.writeFileSync(path.join(data, 'pki/own/certs/certificate.pem'), 'not a certificate\n');
  const broken = plant.run_server_once(['--port', '0', '--data-dir', data, '--allow-anonymous']);
  assert.equal(broken.code, 1, broken.output);
  assert.match(broken.output, /certificate .*certificate\.pem is not a valid PEM file/);
  if (process.getuid() !== 0) {
    // (root reads a file of mode 000 all the same)
    fs.copyFileSync(plant.path('ua-data/pki/own/certs/certificate.pem'), path.join(data, 'pki/own/certs/certificate.pem'));
    fs.chmodSync(path.join(data, 'pki/own/certs/certificate.pem'), 0);
    const locked = plant.run_server_once(['--port', '0', '--data-dir', data, '--allow-anonymous']);
    assert.equal(locked.code, 1, locked.output);
    assert.match(locked.output, /cannot read the certificate .*certificate\.pem: permission denied/);
  }
  const usage = plant.run_server_once(['--frobnicate']);
  assert.equal(usage.code, 2);
  assert.match(usage.output, /unknown argument '--frobnicate'/);
  const help = plant.run_server_once(['--help']);
  assert.equal(help.code, 0);
  assert.match(help.output, /--allow-insecure/);
});

test('the private key is its owner\'s only, and SIGTERM ends the server with status 0', async () => {
  const key = plant.path('ua-data/pki/own/private/private_key.pem');
  assert.equal(fs.statSync(key).mode & 0o077, 0, 'private key mode');
  for (const s of sessions.splice(0)) await close_session(s);
  const end = await plant.server.stop('SIGTERM', 20000);
  assert.deepEqual(end, { code: 0, signal: null }, plant.server.output);
  assert.match(plant.server.output, /SIGTERM: stopping/);
});
