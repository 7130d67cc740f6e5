// A small Sparkplug B subscriber for people: prints every message under spBv1.0/ decoded by
// the Eclipse reference decoder, one line per metric, names resolved from the births.
// Usage: node sparkplug_print.js PORT [SECONDS] [--rebirth GROUP/EDGE] [--write TOPIC NAME TYPE VALUE]
//   SECONDS: stop after that long (default: run until Ctrl-C); exit 0 when births and data came.
//   --rebirth: once subscribed, ask that edge node for its births (NCMD Node Control/Rebirth).
//   --write: publish one DCMD once the device's birth has been seen.
'use strict';
const mqtt = require('mqtt');
const sparkplug = require('sparkplug-payload').get('spBv1.0');

const args = process.argv.slice(2);
const port = args[0];
const seconds = args[1] && !args[1].startsWith('--') ? Number(args[1]) : 0;
const w = args.indexOf('--write');
const write = w >= 0 ? { topic: args[w + 1], name: args[w + 2], type: args[w + 3], value: args[w + 4] } : null;
const r = args.indexOf('--rebirth');
const rebirth = r >= 0 ? args[r + 1] : null;

const names = new Map();  // "node/device#alias" -> metric name
const seen = { birth: 0, data: 0 };
const plain = (v) => (v !== null && typeof v === 'object' && typeof v.toNumber === 'function' ? v.toNumber() : v);
const show = (v) => (typeof v === 'string' ? JSON.stringify(v) : String(v));

const client = mqtt.connect(`mqtt://127.0.0.1:${port}`, { reconnectPeriod: 500 });
client.on('connect', () => client.subscribe('spBv1.0/#', () => {
  if (!rebirth) return;
  const [group, edge] = rebirth.split('/');
  console.log(`-- asking ${rebirth} for its births`);
  client.publish(`spBv1.0/${group}/NCMD/${edge}`, Buffer.from(sparkplug.encodePayload({
    timestamp: Date.now(), metrics: [{ name: 'Node Control/Rebirth', type: 'Boolean', value: true }],
  })));
}));
client.on('message', (topic, payload) => {
  const parts = topic.split('/');
  const kind = parts[2];
  const owner = parts.slice(3).join('/');
  if (parts[1] === 'STATE') {
    console.log(`${topic}  ${payload}`);
    return;
  }
  let p;
  try {
    p = sparkplug.decodePayload(payload);
  } catch (e) {
    console.log(`${topic}  (not a Sparkplug B payload: ${e.message})`);
    return;
  }
  const seq = p.seq === undefined || p.seq === null ? '-' : plain(p.seq);
  console.log(`${kind.padEnd(6)} ${owner}  seq=${seq}  ${(p.metrics || []).length} metrics`);
  if (kind.endsWith('BIRTH')) seen.birth++;
  if (kind.endsWith('DATA')) seen.data++;
  const many = kind.endsWith('BIRTH') && (p.metrics || []).length > 12;
  let shown = 0;
  for (const m of p.metrics || []) {
    const alias = plain(m.alias);
    const key = `${owner}#${alias}`;
    if (m.name && alias !== undefined && alias !== null) names.set(key, m.name);
    const name = m.name || names.get(key) || `alias ${alias}`;
    const props = m.properties
      ? ' ' + Object.entries(m.properties).map(([k, v]) => `${k}=${show(plain(v.value))}`).join(' ')
      : '';
    if (many && shown === 8) console.log(`         ... ${p.metrics.length - 8} more`);
    if (many && shown++ >= 8) continue;
    console.log(`         ${name} (${m.type}) = ${show(plain(m.value))}${m.isHistorical ? ' [historical]' : ''}${props}`);
  }
  if (write && kind === 'DBIRTH' && write.topic.endsWith('/' + parts[4])) {
    const value = write.type === 'Boolean' ? write.value === 'true' : write.type === 'String' ? write.value : Number(write.value);
    console.log(`-- writing ${write.name} = ${write.value} through ${write.topic}`);
    client.publish(write.topic, Buffer.from(sparkplug.encodePayload({
      timestamp: Date.now(), metrics: [{ name: write.name, type: write.type, value }],
    })));
    write.topic = '(done)';
  }
});
if (seconds > 0) {
  setTimeout(() => {
    client.end();
    console.log(`-- ${seen.birth} births, ${seen.data} data messages`);
    process.exit(seen.birth > 0 && seen.data > 0 ? 0 : 1);
  }, seconds * 1000);
}
