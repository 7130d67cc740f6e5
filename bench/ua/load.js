'use strict';
// Parts of the OPC UA load run (bench/ua/run.sh), one subcommand each:
//   moves SOCKET FILE         starts mcsim's moving registers (lines of FILE) in 50 batches
//                             over one second, so that their changes spread over the second
//   clients URL FILE N K S OUT [C]  clients K, K+N, ... of C (10) subscribe each to its share
//                             of the item IDs in FILE until SIGTERM (at most S seconds);
//                             every notification goes to OUT as "ITEM VALUE RECEIVED_MS
//                             SOURCE_MS" (CLOCK_MONOTONIC)
//   latency FROM TO HISTORY OUT...  PLC change → notification delays of the notifications
//                             received from FROM to TO (CLOCK_MONOTONIC ms), split
//                             at the source timestamp: change → the poller's read (read_*),
//                             the read → the client (deliver_*: library, service, SDK, client)
//   feed SECONDS              a points session alone drains the change feed (the library's
//                             share of the work, without OPC UA)
//   profile FILE.cpuprofile   self time by package of a --cpu-prof profile
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const mono = () => Number(process.hrtime.bigint()) / 1e6;

async function moves(socketPath, file) {
  const lines = fs.readFileSync(file, 'utf8').split('\n').filter(Boolean);
  const socket = net.createConnection(socketPath);
  await new Promise((resolve, reject) => { socket.once('connect', resolve); socket.once('error', reject); });
  let replies = 0;
  let failed = null;
  let pending = '';
  socket.on('data', (d) => {
    pending += d.toString();
    const parts = pending.split('\n');
    pending = parts.pop();
    for (const p of parts) {
      replies += 1;
      if (!p.startsWith('ok') && !failed) failed = p;
    }
  });
  const batches = 50;
  const per = Math.ceil(lines.length / batches);
  for (let b = 0; b < batches; ++b) {
    socket.write(`${lines.slice(b * per, (b + 1) * per).join('\n')}\n`);
    await sleep(20);
  }
  const end = Date.now() + 30000;
  while (replies < lines.length && Date.now() < end) await sleep(20);
  socket.end();
  if (failed || replies < lines.length) throw new Error(`mcsim: ${failed || `${replies} of ${lines.length} replies`}`);
}

async function clients(url, itemsFile, processes, index, seconds, out, total = 10) {
  const sdk = require('node-opcua');
  const quiet = () => {};
  for (const f of ['setWarningLogger', 'setDebugLogger']) if (sdk[f]) sdk[f](quiet);
  const items = fs.readFileSync(itemsFile, 'utf8').split('\n').filter(Boolean);
  const sink = fs.createWriteStream(out);
  // Source timestamps are wall-clock time; the history's and the receipts' are monotonic.
  const clockOffset = Date.now() - mono();
  const mine = [];
  for (let k = index; k < total; k += processes) mine.push(k);
  const sessions = [];
  for (const k of mine) {
    const share = items.filter((_, i) => i % total === k);
    const client = sdk.OPCUAClient.create({
      endpointMustExist: false, securityMode: sdk.MessageSecurityMode.None, securityPolicy: sdk.SecurityPolicy.None,
      connectionStrategy: { maxRetry: 3 }, requestedSessionTimeout: 600000,
    });
    await client.connect(url);
    const session = await client.createSession();
    const ns = (await session.readNamespaceArray()).indexOf('urn:hbt:driver');
    const subscription = sdk.ClientSubscription.create(session, {
      requestedPublishingInterval: Number(process.env.UA_PUBLISH_MS || 100), requestedLifetimeCount: 1000,
      requestedMaxKeepAliveCount: 10, maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
    });
    // Items are created in blocks, as a SCADA does, within the server's per-call limit.
    for (let at = 0; at < share.length; at += 1000) {
      const block = share.slice(at, at + 1000);
      const group = sdk.ClientMonitoredItemGroup.create(subscription,
        block.map((id) => ({ nodeId: new sdk.NodeId(sdk.NodeIdType.STRING, id, ns), attributeId: sdk.AttributeIds.Value })),
        { samplingInterval: Number(process.env.UA_SAMPLING_MS || 0), discardOldest: true, queueSize: 10 },
        sdk.TimestampsToReturn.Both);
      group.on('changed', (_item, dv, i) => sink.write(`${block[i]} ${dv.value.value} ${mono().toFixed(1)} ` +
        `${dv.sourceTimestamp ? dv.sourceTimestamp.getTime() - clockOffset : 0}\n`));
      await new Promise((resolve, reject) => { group.once('initialized', resolve); group.once('err', reject); });
    }
    sessions.push({ client, session, subscription });
  }
  process.stdout.write(`ready ${mine.length} clients\n`);
  // The first process also asks the server how late values reach its variables.
  const lagTimer = index === 0 ? setInterval(async () => {
    const s = sessions[0].session;
    const ns = (await s.readNamespaceArray()).indexOf('urn:hbt:driver');
    const dvs = await s.read(['FeedLagMs', 'FeedLagMaxMs', 'ValuesPerSecond'].map((n) => ({
      nodeId: new sdk.NodeId(sdk.NodeIdType.STRING, `Diagnostics/Service/${n}`, ns), attributeId: sdk.AttributeIds.Value,
    }))).catch(() => null);
    if (dvs) process.stdout.write(`service ${dvs.map((d) => Number(d.value.value).toFixed(1)).join(' ')}\n`);
  }, 1000) : null;
  // Until the run ends (SIGTERM), at most `seconds`.
  await new Promise((resolve) => {
    const timer = setTimeout(resolve, seconds * 1000);
    process.once('SIGTERM', () => { clearTimeout(timer); resolve(); });
  });
  if (lagTimer) clearInterval(lagTimer);
  for (const s of sessions) {
    await s.subscription.terminate().catch(() => {});
    await s.session.close().catch(() => {});
    await s.client.disconnect();
  }
  await new Promise((resolve) => sink.end(resolve));
}

// The delay of each notification after the PLC change it shows: the moment mcsim's history
// gave the register that value (the first time, at or before the receipt), up to the receipt.
function latency(from, to, historyFile, outs) {
  const itemReg = (item) => {
    const m = /^[^:]+:D:(\d+)$/.exec(item);
    return m ? `D${m[1]}` : null;
  };
  // History lines carry the register but not the PLC: each PLC of the run has registers of
  // its own (see run.sh).
  const changes = new Map();
  for (const line of fs.readFileSync(historyFile, 'utf8').split('\n')) {
    const [ms, type, number, value] = line.split(' ');
    if (type !== 'D') continue;
    const key = `D${number}=${value}`;
    const list = changes.get(key);
    if (list) list.push(Number(ms));
    else changes.set(key, [Number(ms)]);
  }
  const delays = [];
  const windows = new Map();  // 5-second windows of receipt time → delays
  const readDelays = [];
  const deliverDelays = [];
  let unmatched = 0;
  let initial = 0;
  for (const out of outs) {
    for (const line of fs.readFileSync(out, 'utf8').split('\n')) {
      if (!line) continue;
      const [item, value, received, source] = line.split(' ');
      const reg = itemReg(item);
      const times = reg && changes.get(`${reg}=${value}`);
      if (!times) { unmatched += 1; continue; }
      const t = Number(received);
      if (t < from || t > to) continue;
      let best = null;
      for (const m of times) if (m <= t && (best === null || m > best)) best = m;
      if (best === null) { initial += 1; continue; }
      delays.push(t - best);
      const bucket = Math.floor(t / 5000);
      (windows.get(bucket) || windows.set(bucket, []).get(bucket)).push(t - best);
      if (Number(source) > 0) {
        readDelays.push(Number(source) - best);
        deliverDelays.push(t - Number(source));
      }
    }
  }
  const q = (list, p) => {
    list.sort((a, b) => a - b);
    return list.length ? list[Math.min(list.length - 1, Math.floor(p * list.length))] : NaN;
  };
  return {
    count: delays.length, unmatched, initial, p50: q(delays, 0.5), p90: q(delays, 0.9), p99: q(delays, 0.99),
    max: q(delays, 1), read_p50: q(readDelays, 0.5), read_p99: q(readDelays, 0.99),
    deliver_p50: q(deliverDelays, 0.5), deliver_p99: q(deliverDelays, 0.99),
    by_5s: [...windows.keys()].sort((a, b) => a - b).map((k) => `${windows.get(k).length}:${q(windows.get(k), 0.5).toFixed(0)}/${q(windows.get(k), 0.99).toFixed(0)}`).join(','),
  };
}

async function feed(seconds) {
  const { PointsSession } = require(path.join(process.env.HBTUA_DIR, 'src', 'points.js'));
  const session = PointsSession.open({ updateMs: 20 });
  const lists = session.list();
  let cursor = 0n;
  let values = 0;
  const drain = () => {
    for (;;) {
      const r = session.changes(cursor, 4096);
      if (r.stale) { session.list(); cursor = 0n; continue; }
      cursor = r.cursor;
      values += r.values.length;
      if (!r.more) return;
    }
  };
  drain();
  values = 0;
  const threadCpu = () => {
    // This process's threads: the main one (JS and the library calls) and the others (the
    // session's look thread, the wait on koffi's worker, the runtime's helpers).
    const hz = 100;
    let main = 0;
    let rest = 0;
    for (const t of fs.readdirSync('/proc/self/task')) {
      const f = fs.readFileSync(`/proc/self/task/${t}/stat`, 'utf8').split(') ')[1].split(' ');
      const s = (Number(f[11]) + Number(f[12])) / hz;
      if (Number(t) === process.pid) main = s; else rest += s;
    }
    return [main, rest];
  };
  const [m0, r0] = threadCpu();
  const start = mono();
  while (mono() - start < seconds * 1000) {
    await session.wait(20);
    drain();
  }
  const wall = (mono() - start) / 1000;
  const [m1, r1] = threadCpu();
  process.stdout.write(`${lists.points.length} points, ${values} values in ${wall.toFixed(1)} s (${(values / wall).toFixed(0)}/s); ` +
    `CPU ${(100 * (m1 - m0 + r1 - r0) / wall).toFixed(1)} % of one core (draining thread ${(100 * (m1 - m0) / wall).toFixed(1)} %, ` +
    `library's own threads ${(100 * (r1 - r0) / wall).toFixed(1)} %), RSS ${(process.memoryUsage().rss / 1048576).toFixed(0)} MB\n`);
  session.close();
}

function profile(file) {
  const p = JSON.parse(fs.readFileSync(file, 'utf8'));
  const byId = new Map(p.nodes.map((n) => [n.id, n]));
  const counts = new Map();
  for (const s of p.samples) counts.set(s, (counts.get(s) || 0) + 1);
  const groups = new Map();
  const functions = new Map();
  for (const [id, c] of counts) {
    const f = byId.get(id).callFrame;
    const m = /node_modules\/((?:@[^/]+\/)?[^/]+)/.exec(f.url);
    const group = m ? m[1] : /\/(hbtua|ua)\/src\//.test(f.url) ? 'hbtua (our code)' : f.url ? 'node internals' : `(${f.functionName || 'native'})`;
    groups.set(group, (groups.get(group) || 0) + c);
    const key = `${f.functionName || '(anonymous)'} ${group}`;
    functions.set(key, (functions.get(key) || 0) + c);
  }
  const total = p.samples.length;
  const top = (map, n) => [...map].sort((a, b) => b[1] - a[1]).slice(0, n)
    .map(([k, c]) => `  ${(100 * c / total).toFixed(1).padStart(5)} %  ${k}`).join('\n');
  return `self time by package (${total} samples):\n${top(groups, 12)}\nhottest functions:\n${top(functions, 12)}`;
}

async function main([command, ...args]) {
  switch (command) {
    case 'moves': return moves(args[0], args[1]);
    case 'clients': return clients(args[0], args[1], Number(args[2]), Number(args[3]), Number(args[4]), args[5],
      Number(args[6] || 10));
    case 'latency': {
      const r = latency(Number(args[0]), Number(args[1]), args[2], args.slice(3));
      process.stdout.write(`${Object.entries(r).map(([k, v]) => `${k}=${typeof v === 'number' && !Number.isInteger(v) ? v.toFixed(1) : v}`).join(' ')}\n`);
      return undefined;
    }
    case 'feed': return feed(Number(args[0]));
    case 'profile': process.stdout.write(`${profile(args[0])}\n`); return undefined;
    default: throw new Error(`unknown command ${command}`);
  }
}

main(process.argv.slice(2)).then(() => process.exit(0), (err) => {
  process.stderr.write(`load.js: ${err.stack || err}\n`);
  process.exit(1);
});
