'use strict';
// The server as the SDK makes it, under conditions of the machine it runs on.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { defaults } = require('../src/config');
const { make_log } = require('../src/log');
const { create_server } = require('../src/server');

// systemd's RestrictAddressFamilies without AF_NETLINK makes Node's interface list throw
// (uv_interface_addresses, errno 97); the first start must still make its certificate.
test('a sandbox that hides the network interfaces: the certificate is made all the same, with one warning', async (t) => {
  const dataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'hbtua-server-'));
  const original = os.networkInterfaces;
  const fails = () => {
    const err = new Error('A system error occurred: uv_interface_addresses returned Unknown system error 97');
    err.code = 'ERR_SYSTEM_ERROR';
    throw err;
  };
  os.networkInterfaces = fails;
  t.after(() => {
    os.networkInterfaces = original;
    fs.rmSync(dataDir, { recursive: true, force: true });
  });
  const lines = [];
  const log = make_log('info', (line) => lines.push(line));
  const { server, certificateFile } = await create_server(
    { ...defaults(), port: 0, data_dir: dataDir, allow_insecure: true, allow_anonymous: true }, { users: null, log });
  try {
    assert.ok(fs.existsSync(certificateFile), 'the application certificate is there');
    const certificate = new (require('node:crypto').X509Certificate)(fs.readFileSync(certificateFile));
    assert.match(certificate.subjectAltName, new RegExp(`DNS:${os.hostname()}`), 'it names the host');
    const warnings = lines.filter((l) => l.includes('network interfaces cannot be listed'));
    assert.equal(warnings.length, 1, lines.join(''));
  } finally {
    await server.shutdown(0);
  }
});
