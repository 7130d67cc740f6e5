// A Sparkplug host stand-in for the edge node's tests, on independent libraries (npm mqtt and
// the Eclipse reference decoder sparkplug-payload): it subscribes to spBv1.0/#, decodes every
// message and prints it as one JSON line; lines written to the command FIFO are published.
//
// Usage: node sparkplug_peer.js PORT COMMAND_FIFO [--tls CA_FILE]
// Printed: {"event":"ready"} once subscribed; then per message
//   {"event":"message","topic":...,"received_ms":...,"received_mono_ms":...,"seq":...,"timestamp":...,"metrics":[...]}
//   ({"event":"undecodable","topic":...} for a payload the reference cannot read).
// Commands (one JSON object per line):
//   {"topic":T,"metrics":[{"name":N,"type":"Int16","value":V}, ...]}  encoded by the reference
//   {"topic":T,"hex":"0a0b..."}                                          raw bytes
//   {"topic":T,"text":"...","retain":true}                               a text payload
'use strict';
const fs = require('fs');
const readline = require('readline');
const mqtt = require('mqtt');
const sparkplug = require('sparkplug-payload').get('spBv1.0');

const [port, fifo] = process.argv.slice(2);
const tlsIndex = process.argv.indexOf('--tls');
const options = { clientId: 'peer-' + process.pid, reconnectPeriod: 200, connectTimeout: 5000, clean: true };
let url = `mqtt://127.0.0.1:${port}`;
if (tlsIndex > 0) {
  url = `mqtts://localhost:${port}`;
  options.ca = fs.readFileSync(process.argv[tlsIndex + 1]);
}

const print = (object) => process.stdout.write(JSON.stringify(object) + '\n');

function plain(value) {
  if (value === null || value === undefined) return value;
  if (typeof value === 'object' && typeof value.toNumber === 'function') return value.toNumber();
  if (typeof value === 'bigint') return Number(value);
  return value;
}

function metricOut(m) {
  const out = { name: m.name, alias: plain(m.alias), type: m.type, value: plain(m.value) };
  if (m.timestamp !== undefined) out.timestamp = plain(m.timestamp);
  if (m.isHistorical) out.historical = true;
  if (m.isNull) out.null = true;
  if (m.properties) {
    out.properties = {};
    for (const [key, p] of Object.entries(m.properties)) out.properties[key] = plain(p.value);
  }
  return out;
}

const client = mqtt.connect(url, options);
let ready = false;
client.on('connect', () => {
  client.subscribe('spBv1.0/#', { qos: 1 }, () => {
    if (!ready) print({ event: 'ready' });
    else print({ event: 'resubscribed' });
    ready = true;
  });
});
client.on('error', (e) => print({ event: 'error', text: String(e.message || e) }));
// CLOCK_MONOTONIC in ms, the clock of mcsim's history file.
const monotonicMs = () => Number(process.hrtime.bigint() / 1000n) / 1000;

client.on('message', (topic, payload) => {
  const received = Date.now();
  const receivedMono = monotonicMs();
  if (topic.startsWith('spBv1.0/STATE/')) {
    print({ event: 'state', topic, text: payload.toString(), received_ms: received });
    return;
  }
  let decoded;
  try {
    decoded = sparkplug.decodePayload(payload);
  } catch (e) {
    print({ event: 'undecodable', topic, error: String(e.message || e), received_ms: received });
    return;
  }
  print({
    event: 'message',
    topic,
    received_ms: received,
    received_mono_ms: receivedMono,
    seq: decoded.seq === undefined || decoded.seq === null ? null : plain(decoded.seq),
    timestamp: plain(decoded.timestamp),
    metrics: (decoded.metrics || []).map(metricOut),
  });
});

const lines = readline.createInterface({ input: fs.createReadStream(fifo) });
lines.on('line', (line) => {
  if (!line.trim()) return;
  const command = JSON.parse(line);
  let bytes;
  if (command.hex !== undefined) bytes = Buffer.from(command.hex, 'hex');
  else if (command.text !== undefined) bytes = Buffer.from(command.text);
  else bytes = Buffer.from(sparkplug.encodePayload({ timestamp: Date.now(), metrics: command.metrics }));
  client.publish(command.topic, bytes, { qos: command.qos === undefined ? 0 : command.qos, retain: !!command.retain },
    () => print({ event: 'published', topic: command.topic }));
});
lines.on('close', () => client.end(false, () => process.exit(0)));
